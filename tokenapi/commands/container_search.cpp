#include "tokenapi/commands/container_search.h"

#include <cstring>

#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/token_files.h"

namespace merro::commands {
namespace {

constexpr HRESULT kNoSuchContainer = static_cast<HRESULT>(0x8007020F);

DWORD BoundedLength(const char* p, DWORD max) {
  DWORD n = 0;
  while (n < max && p[n] != '\0') {
    ++n;
  }
  return n;
}

}  // namespace

ContainerName ContainerName::FromRecord(const CONTAINER_RECORD& record) {
  MR_TRACE("ContainerName::FromRecord");
  ContainerName name{};
  name.len = BoundedLength(record.szContainerName, MR_CTNR_NAME_MAX);
  std::memcpy(name.bytes, record.szContainerName, name.len);
  return name;
}

ContainerName ContainerName::FromBuffer(const char* pName, DWORD nNameLen) {
  MR_TRACE("ContainerName::FromBuffer");
  ContainerName name{};
  name.len = BoundedLength(pName, nNameLen < MR_CTNR_NAME_MAX ? nNameLen : MR_CTNR_NAME_MAX);
  std::memcpy(name.bytes, pName, name.len);
  return name;
}

bool ContainerName::Matches(const CONTAINER_RECORD& record) const {
  MR_TRACE("ContainerName::Matches");
  const ContainerName stored = FromRecord(record);
  return stored.len == len && std::memcmp(stored.bytes, bytes, len) == 0;
}

void ContainerName::StoreIn(CONTAINER_RECORD* pRecord) const {
  MR_TRACE("ContainerName::StoreIn");
  std::memset(pRecord->szContainerName, 0, sizeof pRecord->szContainerName);
  std::memcpy(pRecord->szContainerName, bytes, len);
}

HRESULT ReadContainerRecord(DEV_CTX* pDevCtx, BYTE slot, CONTAINER_RECORD* pRecord) {
  MR_TRACE("ReadContainerRecord");
  DWORD len = sizeof *pRecord;
  return HRESULT_FROM_TOKEN_ERROR(
      mr_ReadRecord(pDevCtx, slot, reinterpret_cast<BYTE*>(pRecord), &len));
}

HRESULT FindContainer(const TraceHelper& scope, DEV_CTX* pDevCtx, const ContainerName& name,
                      const wchar_t* missingStep, BYTE* pSlot, CONTAINER_RECORD* pRecord) {
  MR_TRACE("FindContainer");
  const HRESULT hr = SelectStep(scope, L"mr_SelectFile(CTNR_FID)", pDevCtx, CTNR_FID);
  if (FAILED(hr)) {
    return hr;
  }
  for (BYTE slot = 0; slot < MR_CTNR_SLOT_COUNT; ++slot) {
    CONTAINER_RECORD record;
    if (SUCCEEDED(ReadContainerRecord(pDevCtx, slot, &record)) && name.Matches(record)) {
      *pSlot = slot;
      *pRecord = record;
      return S_OK;
    }
  }
  merro::trace::LogFailure(MR_TRACE_SOURCE, __LINE__, scope.Name(), missingStep,
                           L"no container of this name", kNoSuchContainer);
  return kNoSuchContainer;
}

}  // namespace merro::commands
