// Enumeration, reading, writing, enabling and deletion of containers.
#include "tokenapi/commands/container_commands.h"

#include <cstring>

#include "tokenapi/commands/container_search.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/token_files.h"

using merro::commands::ContainerName;
using merro::commands::FindContainer;
using merro::commands::kResultBadArgument;
using merro::commands::kResultBufferTooSmall;
using merro::commands::ReadContainerRecord;
using merro::commands::SelectStep;
using merro::commands::StepResult;

namespace {

constexpr HRESULT kPinNotVerified = static_cast<HRESULT>(0x80006982);

// The file ids a slot's record must name; a record naming any other file
// (another slot's, or a token file) never gets that file erased.
bool IsSlotFile(WORD fid, BYTE slot, BYTE kind) { return fid == MrContainerFileId(slot, kind); }

}  // namespace

HRESULT mr_EnumContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pEnumContainer, DWORD* pCount) {
  MR_TRACE("mr_EnumContainer");
  MR_FAIL_IF(pCount == nullptr, L"CHECK pCount", kResultBadArgument);
  HRESULT hr = SelectStep(mrTraceScope_, L"mr_SelectFile(CTNR)", pDevCtx, CTNR_FID);
  if (FAILED(hr)) {
    *pCount = 0;
    return hr;
  }
  CONTAINER_RECORD found[MR_CTNR_SLOT_COUNT];
  DWORD count = 0;
  for (BYTE slot = 0; slot < MR_CTNR_SLOT_COUNT; ++slot) {
    hr = ReadContainerRecord(pDevCtx, slot, &found[count]);
    if (SUCCEEDED(hr)) {
      ++count;
    } else if (hr != MR_E_RECORD_FREE) {
      merro::trace::LogStep(mrTraceScope_.Name(), L"mr_ReadRecord", hr);
      *pCount = count;
      return hr;
    }
  }
  if (pEnumContainer == nullptr) {
    *pCount = count;
    return S_OK;
  }
  const DWORD capacity = *pCount;
  *pCount = count;
  MR_FAIL_IF(capacity < count, L"CHECK *pCount SIZE", kResultBufferTooSmall);
  std::memcpy(pEnumContainer, found, count * sizeof(CONTAINER_RECORD));
  return S_OK;
}

HRESULT mr_ReadContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer) {
  MR_TRACE("mr_ReadContainer");
  MR_FAIL_IF(pContainer == nullptr, L"CHECK pContainer", kResultBadArgument);
  const ContainerName name = ContainerName::FromRecord(*pContainer);
  BYTE slot = 0;
  CONTAINER_RECORD record;
  const HRESULT hr =
      FindContainer(mrTraceScope_, pDevCtx, name, L"CHECK ExistsFlag", &slot, &record);
  if (FAILED(hr)) {
    return hr;
  }
  *pContainer = record;
  return S_OK;
}

HRESULT mr_WriteContainer(DEV_CTX* pDevCtx, const CONTAINER_RECORD* pContainer) {
  MR_TRACE("mr_WriteContainer");
  MR_FAIL_IF(pContainer == nullptr, L"CHECK pContainer", kResultBadArgument);
  const ContainerName name = ContainerName::FromRecord(*pContainer);
  BYTE slot = 0;
  CONTAINER_RECORD record;
  HRESULT hr = FindContainer(mrTraceScope_, pDevCtx, name, L"CHECK ExistsIndex", &slot, &record);
  if (FAILED(hr)) {
    return hr;
  }
  // Flag, file ids and name stay as stored.
  record.byFlag = MR_CTNR_KEEP_FLAG;
  record.AlgType = pContainer->AlgType;
  record.ExchKeyLen = pContainer->ExchKeyLen;
  record.SignKeyLen = pContainer->SignKeyLen;
  hr = StepResult(
      mrTraceScope_, L"mr_UpdateRecord",
      mr_UpdateRecord(pDevCtx, slot, reinterpret_cast<const BYTE*>(&record), MR_CTNR_RECORD_LEN));
  if (FAILED(hr)) {
    return hr;
  }
  BYTE index[MR_CTNR_INDEX_LEN];
  hr = merro::commands::ReadContainerIndex(mrTraceScope_, pDevCtx, index);
  if (FAILED(hr)) {
    return hr;
  }
  index[4 + MrIndexColumn(pContainer->AlgType)] = slot;
  return merro::commands::WriteContainerIndex(mrTraceScope_, pDevCtx, index);
}

HRESULT mr_EnableContainer(DEV_CTX* pDevCtx, const char* pContainerName, DWORD nNameLen) {
  MR_TRACE("mr_EnableContainer");
  MR_FAIL_IF(pContainerName == nullptr, L"CHECK pContainerName", kResultBadArgument);
  const ContainerName name = ContainerName::FromBuffer(pContainerName, nNameLen);
  BYTE slot = 0;
  CONTAINER_RECORD record;
  const HRESULT hr =
      FindContainer(mrTraceScope_, pDevCtx, name, L"CHECK ExistsIndex", &slot, &record);
  if (FAILED(hr)) {
    return hr;
  }
  const BYTE flag = record.SignKeyLen != MR_CTNR_NONE ? MR_CTNR_AVL : MR_CTNR_AVL_SINGLE;
  return StepResult(mrTraceScope_, L"mr_UpdateRecord", mr_UpdateRecord(pDevCtx, slot, &flag, 1));
}

HRESULT mr_DeleteContainer(DEV_CTX* pDevCtx, const char* pContainer, DWORD nNameLen) {
  MR_TRACE("mr_DeleteContainer");
  MR_FAIL_IF(pContainer == nullptr, L"CHECK pContainer", kResultBadArgument);
  BYTE times = 0;
  BYTE status = 0;
  BYTE modified = 0;
  HRESULT hr = StepResult(mrTraceScope_, L"mr_GetPINStatus",
                          mr_GetPINStatus(pDevCtx, MR_PIN_USER, &times, &status, &modified));
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(status != MR_PIN_STATE_USER_VERIFIED, L"CHECK byStatus", kPinNotVerified);

  const ContainerName name = ContainerName::FromBuffer(pContainer, nNameLen);
  BYTE slot = 0;
  CONTAINER_RECORD record;
  hr = FindContainer(mrTraceScope_, pDevCtx, name, L"CHECK ExistsFlag", &slot, &record);
  if (FAILED(hr)) {
    return hr;
  }
  hr = StepResult(mrTraceScope_, L"mr_DeleteRecord", mr_DeleteRecord(pDevCtx, slot));
  if (FAILED(hr)) {
    return hr;
  }
  const struct {
    WORD fid;
    BYTE kind;
    const wchar_t* step;
  } files[] = {
      {record.ExchangeCertFID, MR_CTNR_EXCH_CERT, L"mr_EraseFile(ExCertFID)"},
      {record.SignCertFID, MR_CTNR_SIGN_CERT, L"mr_EraseFile(SignCertFID)"},
      {record.ExchangeKeyFID, MR_CTNR_EXCH_KEY, L"mr_EraseFile(ExKeyFID)"},
      {record.SignKeyFID, MR_CTNR_SIGN_KEY, L"mr_EraseFile(SignKeyFID)"},
  };
  for (const auto& file : files) {
    if (!IsSlotFile(file.fid, slot, file.kind)) {
      MR_LOG_FAIL(file.step, L"the record names no file of its own slot; not erased", 0);
      continue;
    }
    hr = StepResult(mrTraceScope_, file.step, mr_EraseFile(pDevCtx, MR_SELECT_BY_ID, file.fid));
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}
