// Container creation: reclaims what earlier creations left unfinished, then
// takes a slot, makes sure its four files exist and writes the new record.
#include <cstring>

#include "tokenapi/commands/container_commands.h"
#include "tokenapi/commands/container_search.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/token_files.h"

using merro::commands::ContainerName;
using merro::commands::kResultBadArgument;
using merro::commands::ReadContainerIndex;
using merro::commands::ReadContainerRecord;
using merro::commands::SelectStep;
using merro::commands::StepResult;
using merro::commands::WriteContainerIndex;

namespace {

constexpr HRESULT kNameExists = static_cast<HRESULT>(0x8007020D);
constexpr HRESULT kNoFreeSlot = static_cast<HRESULT>(0x8007020E);
constexpr BYTE kNoSlot = 0xFF;

// Deletes the unfinished containers that the pending bytes (4 to 7) of the
// index name, then clears those bytes. The index is read again before it is
// written back: mr_DeleteRecord has changed it on the token meanwhile.
HRESULT ClearPending(const TraceHelper& scope, DEV_CTX* pDevCtx) {
  MR_TRACE("ClearPending");
  BYTE index[MR_CTNR_INDEX_LEN];
  HRESULT hr = ReadContainerIndex(scope, pDevCtx, index);
  if (FAILED(hr)) {
    return hr;
  }
  bool pending = false;
  for (DWORD i = 4; i < MR_CTNR_INDEX_LEN; ++i) {
    if (index[i] == MR_CTNR_NONE) {
      continue;
    }
    pending = true;
    // A byte beyond slot 3 names nothing that could be reclaimed.
    if (index[i] >= MR_CTNR_SLOT_COUNT) {
      continue;
    }
    hr = SelectStep(scope, L"mr_SelectFile(CTNR_FID)", pDevCtx, CTNR_FID);
    if (FAILED(hr)) {
      return hr;
    }
    CONTAINER_RECORD record;
    hr = ReadContainerRecord(pDevCtx, index[i], &record);
    if (hr == MR_E_RECORD_FREE) {
      continue;
    }
    if (FAILED(hr)) {
      merro::trace::LogStep(scope.Name(), L"mr_ReadRecord(CTNR_FID)", hr);
      return hr;
    }
    if (!MrIsAvailableRecord(record.byFlag, record.SignKeyLen)) {
      hr = StepResult(scope, L"mr_DeleteRecord(CTNR_FID)", mr_DeleteRecord(pDevCtx, index[i]));
      if (FAILED(hr)) {
        return hr;
      }
    }
  }
  if (!pending) {
    return S_OK;
  }
  hr = ReadContainerIndex(scope, pDevCtx, index);
  if (FAILED(hr)) {
    return hr;
  }
  std::memset(index + 4, MR_CTNR_NONE, MR_CTNR_INDEX_LEN - 4);
  return WriteContainerIndex(scope, pDevCtx, index);
}

// Makes sure a file of the new container exists: selected, or else created.
HRESULT EnsureFile(const TraceHelper& scope, DEV_CTX* pDevCtx, WORD fid, bool keyFile,
                   const wchar_t* step) {
  MR_TRACE("EnsureFile");
  BYTE info[MR_FILE_INFO_LEN];
  DWORD infoLen = sizeof info;
  if (SUCCEEDED(
          HRESULT_FROM_TOKEN_ERROR(mr_SelectFile(pDevCtx, MR_SELECT_BY_ID, fid, info, &infoLen)))) {
    return S_OK;
  }
  return StepResult(scope, step,
                    keyFile ? mr_CreateKeyFile(pDevCtx, fid) : mr_CreateCertFile(pDevCtx, fid));
}

}  // namespace

HRESULT mr_CreateContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer) {
  MR_TRACE("mr_CreateContainer");
  MR_FAIL_IF(pContainer == nullptr, L"CHECK pContainer", kResultBadArgument);
  const ContainerName name = ContainerName::FromRecord(*pContainer);
  HRESULT hr = ClearPending(mrTraceScope_, pDevCtx);
  if (FAILED(hr)) {
    return hr;
  }

  // The last unfinished slot reclaimed, else the lowest free one.
  BYTE candidate = kNoSlot;
  for (BYTE slot = 0; slot < MR_CTNR_SLOT_COUNT; ++slot) {
    hr = SelectStep(mrTraceScope_, L"mr_SelectFile(CTNR_FID)", pDevCtx, CTNR_FID);
    if (FAILED(hr)) {
      return hr;
    }
    CONTAINER_RECORD record;
    hr = ReadContainerRecord(pDevCtx, slot, &record);
    if (hr == MR_E_RECORD_FREE) {
      if (candidate == kNoSlot) {
        candidate = slot;
      }
      continue;
    }
    if (FAILED(hr)) {
      merro::trace::LogStep(mrTraceScope_.Name(), L"mr_ReadRecord", hr);
      return hr;
    }
    if (name.Matches(record)) {
      *pContainer = record;
      MR_LOG_FAIL(L"CHECK ExistsFlag", L"a container of this name exists", kNameExists);
      return kNameExists;
    }
    if (MrIsAvailableRecord(record.byFlag, record.SignKeyLen)) {
      continue;
    }
    hr = StepResult(mrTraceScope_, L"mr_DeleteRecord", mr_DeleteRecord(pDevCtx, slot));
    if (FAILED(hr)) {
      return hr;
    }
    candidate = slot;
  }
  MR_FAIL_IF(candidate == kNoSlot, L"CHECK EmptyIndex", kNoFreeSlot);

  CONTAINER_RECORD record;
  std::memset(&record, 0, sizeof record);
  record.byFlag = MR_CTNR_NEW;
  record.AlgType = MR_CTNR_NONE;
  record.ExchKeyLen = MR_CTNR_NONE;
  record.SignKeyLen = MR_CTNR_NONE;
  record.ExchangeKeyFID = MrContainerFileId(candidate, MR_CTNR_EXCH_KEY);
  record.ExchangeCertFID = MrContainerFileId(candidate, MR_CTNR_EXCH_CERT);
  record.SignKeyFID = MrContainerFileId(candidate, MR_CTNR_SIGN_KEY);
  record.SignCertFID = MrContainerFileId(candidate, MR_CTNR_SIGN_CERT);
  name.StoreIn(&record);
  *pContainer = record;

  const struct {
    WORD fid;
    bool keyFile;
    const wchar_t* step;
  } files[] = {
      {record.SignKeyFID, true, L"mr_CreateKeyFile(SignKeyFID)"},
      {record.ExchangeKeyFID, true, L"mr_CreateKeyFile(ExchangeKeyFID)"},
      {record.SignCertFID, false, L"mr_CreateKeyFile(SignCertFID)"},
      {record.ExchangeCertFID, false, L"mr_CreateKeyFile(ExchangeCertFID)"},
  };
  for (const auto& file : files) {
    hr = EnsureFile(mrTraceScope_, pDevCtx, file.fid, file.keyFile, file.step);
    if (FAILED(hr)) {
      return hr;
    }
  }
  hr = SelectStep(mrTraceScope_, L"mr_SelectFile(CTNR_FID) 2", pDevCtx, CTNR_FID);
  if (FAILED(hr)) {
    return hr;
  }
  return StepResult(mrTraceScope_, L"mr_UpdateRecord",
                    mr_UpdateRecord(pDevCtx, candidate, reinterpret_cast<const BYTE*>(&record),
                                    MR_CTNR_RECORD_LEN));
}
