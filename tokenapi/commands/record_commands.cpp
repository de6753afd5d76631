#include "tokenapi/commands/record_commands.h"

#include <cstring>

#include "foundation/container_record.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/token_files.h"

using merro::commands::kResultBadArgument;
using merro::commands::kResultBadLength;
using merro::commands::kResultBadReply;
using merro::commands::kResultBufferTooSmall;
using merro::commands::SelectStep;
using merro::commands::StepResult;

namespace {

constexpr HRESULT kRecordLocked = static_cast<HRESULT>(0x80006285);

WORD SlotOffset(BYTE bySlot) { return static_cast<WORD>(bySlot * MR_CTNR_SLOT_STRIDE); }

// Reads the 76 bytes of a slot of the selected file into pRecord; the count
// read goes to *pCount (0 on a failed read).
HRESULT ReadSlot(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE bySlot, BYTE* pRecord,
                 DWORD* pCount) {
  MR_TRACE("ReadSlot");
  std::memset(pRecord, 0, MR_CTNR_RECORD_LEN);
  *pCount = MR_CTNR_RECORD_LEN;
  const HRESULT hr =
      StepResult(scope, L"mr_ReadFile", mr_ReadFile(pDevCtx, SlotOffset(bySlot), pRecord, pCount));
  if (SUCCEEDED(hr) && *pCount != MR_CTNR_RECORD_LEN) {
    merro::trace::LogStep(scope.Name(), L"CHECK record length", kResultBadReply);
    return kResultBadReply;
  }
  return hr;
}

// True when the record has just become available: a double-certificate
// container with every bit, or a single-certificate one that now has its
// exchange pair.
bool BecameAvailable(const CONTAINER_RECORD& stored, const CONTAINER_RECORD& updated) {
  return updated.byFlag == MR_CTNR_AVL ||
         (updated.byFlag == MR_CTNR_AVL_SINGLE && updated.SignKeyLen == MR_CTNR_NONE &&
          stored.byFlag != MR_CTNR_AVL_SINGLE);
}

}  // namespace

HRESULT mr_ReadRecord(DEV_CTX* pDevCtx, BYTE bySlot, BYTE* pOutbuf, DWORD* pOutlen) {
  MR_TRACE("mr_ReadRecord");
  MR_FAIL_IF(pOutlen == nullptr || pOutbuf == nullptr, L"CHECK pOutbuf", kResultBadArgument);
  MR_FAIL_IF(bySlot >= MR_CTNR_SLOT_COUNT, L"CHECK bySlot", kResultBadArgument);
  BYTE record[MR_CTNR_RECORD_LEN];
  DWORD count = 0;
  const HRESULT hr = ReadSlot(mrTraceScope_, pDevCtx, bySlot, record, &count);
  const DWORD capacity = *pOutlen;
  *pOutlen = count;
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(record[0] == MR_CTNR_FREE, L"CHECK Container Flag", MR_E_RECORD_FREE);
  MR_FAIL_IF(capacity < count, L"CHECK *pOutlen SIZE", kResultBufferTooSmall);
  std::memcpy(pOutbuf, record, count);
  return S_OK;
}

HRESULT mr_UpdateRecord(DEV_CTX* pDevCtx, BYTE bySlot, const BYTE* pInbuf, DWORD nInlen) {
  MR_TRACE("mr_UpdateRecord");
  MR_FAIL_IF(pInbuf == nullptr, L"CHECK pInbuf", kResultBadArgument);
  // The local record holds 76 bytes: a longer input is refused, not copied.
  MR_FAIL_IF(nInlen == 0 || nInlen > MR_CTNR_RECORD_LEN, L"CHECK nInlen", kResultBadLength);
  MR_FAIL_IF(bySlot >= MR_CTNR_SLOT_COUNT, L"CHECK bySlot", kResultBadArgument);
  CONTAINER_RECORD stored;
  DWORD count = 0;
  HRESULT hr = ReadSlot(mrTraceScope_, pDevCtx, bySlot, reinterpret_cast<BYTE*>(&stored), &count);
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(stored.byFlag == MR_CTNR_AVL, L"CHECK Double-Cert Container's oldFlag", kRecordLocked);

  CONTAINER_RECORD updated = stored;
  BYTE* bytes = reinterpret_cast<BYTE*>(&updated);
  if (pInbuf[0] == MR_CTNR_NEW) {
    MR_FAIL_IF(nInlen != count, L"CHECK nInlen", kResultBadLength);
    std::memcpy(bytes, pInbuf, nInlen);
  } else if (pInbuf[0] == MR_CTNR_KEEP_FLAG) {
    MR_FAIL_IF(nInlen != count, L"CHECK nInlen", kResultBadLength);
    std::memcpy(bytes + 1, pInbuf + 1, nInlen - 1);
  } else if (nInlen == 1) {
    updated.byFlag = static_cast<BYTE>(stored.byFlag | pInbuf[0]);
  } else {
    std::memcpy(bytes, pInbuf, nInlen);
  }
  hr = StepResult(mrTraceScope_, L"mr_WriteFile",
                  mr_WriteFile(pDevCtx, SlotOffset(bySlot), bytes, nInlen));
  if (FAILED(hr) || !BecameAvailable(stored, updated)) {
    return hr;
  }
  BYTE index[MR_CTNR_INDEX_LEN];
  hr = merro::commands::ReadContainerIndex(mrTraceScope_, pDevCtx, index);
  if (FAILED(hr)) {
    return hr;
  }
  const BYTE k = MrIndexColumn(updated.AlgType);
  index[k] = bySlot;
  index[4 + k] = MR_CTNR_NONE;
  return merro::commands::WriteContainerIndex(mrTraceScope_, pDevCtx, index);
}

HRESULT mr_DeleteRecord(DEV_CTX* pDevCtx, BYTE bySlot) {
  MR_TRACE("mr_DeleteRecord");
  MR_FAIL_IF(bySlot >= MR_CTNR_SLOT_COUNT, L"CHECK bySlot", kResultBadArgument);
  CONTAINER_RECORD stored;
  DWORD count = 0;
  HRESULT hr = ReadSlot(mrTraceScope_, pDevCtx, bySlot, reinterpret_cast<BYTE*>(&stored), &count);
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(stored.byFlag == MR_CTNR_FREE, L"CHECK Container Flag", MR_E_RECORD_FREE);
  BYTE freeSlot[MR_CTNR_RECORD_LEN];
  std::memset(freeSlot, MR_CTNR_FREE, sizeof freeSlot);
  hr = StepResult(mrTraceScope_, L"mr_WriteFile",
                  mr_WriteFile(pDevCtx, SlotOffset(bySlot), freeSlot, sizeof freeSlot));
  if (FAILED(hr)) {
    return hr;
  }
  BYTE index[MR_CTNR_INDEX_LEN];
  hr = merro::commands::ReadContainerIndex(mrTraceScope_, pDevCtx, index);
  if (FAILED(hr)) {
    return hr;
  }
  // Every index byte that names the freed slot is cleared, in the record's
  // algorithm column and in any other (the record's algorithm may have
  // changed since the index named it). Byte 3 is reserved.
  bool changed = false;
  for (DWORD i = 0; i < MR_CTNR_INDEX_LEN; ++i) {
    if (i != 3 && index[i] == bySlot) {
      index[i] = MR_CTNR_NONE;
      changed = true;
    }
  }
  if (!changed) {
    return S_OK;
  }
  return merro::commands::WriteContainerIndex(mrTraceScope_, pDevCtx, index);
}

namespace merro::commands {

HRESULT MarkContainerFile(const TraceHelper& scope, DEV_CTX* pDevCtx, WORD wFileId, BYTE kind) {
  MR_TRACE("MarkContainerFile");
  if (MrContainerKind(wFileId) != kind || !MrIsContainerFile(wFileId)) {
    merro::trace::LogStep(scope.Name(), L"CHECK Container key type", 0);
    return S_OK;
  }
  HRESULT hr = SelectStep(scope, L"mr_SelectFile(CTNR_FID)", pDevCtx, CTNR_FID);
  if (FAILED(hr)) {
    return hr;
  }
  return StepResult(scope, L"mr_UpdateRecord",
                    mr_UpdateRecord(pDevCtx, MrContainerSlot(wFileId), &kind, 1));
}

HRESULT ReadContainerIndex(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE* pIndex) {
  MR_TRACE("ReadContainerIndex");
  HRESULT hr = SelectStep(scope, L"mr_SelectFile(CTNR_INDEX)", pDevCtx, CTNR_INDEX);
  if (FAILED(hr)) {
    return hr;
  }
  DWORD count = MR_CTNR_INDEX_LEN;
  hr = StepResult(scope, L"mr_ReadFile(CTNR_INDEX)", mr_ReadFile(pDevCtx, 0, pIndex, &count));
  if (SUCCEEDED(hr) && count != MR_CTNR_INDEX_LEN) {
    merro::trace::LogStep(scope.Name(), L"CHECK index length", kResultBadReply);
    return kResultBadReply;
  }
  return hr;
}

HRESULT WriteContainerIndex(const TraceHelper& scope, DEV_CTX* pDevCtx, const BYTE* pIndex) {
  MR_TRACE("WriteContainerIndex");
  return StepResult(scope, L"mr_WriteFile(CTNR_INDEX)",
                    mr_WriteFile(pDevCtx, 0, pIndex, MR_CTNR_INDEX_LEN));
}

}  // namespace merro::commands
