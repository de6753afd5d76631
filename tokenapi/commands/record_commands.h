// The record slots of the container record file. All three work on the file
// that is selected, so the caller selects CTNR_FID first; mr_DeleteRecord,
// and mr_UpdateRecord when a container becomes available, leave CTNR_INDEX
// selected.
#pragma once

#include "foundation/platform.h"
#include "foundation/trace/trace.h"
#include "tokenapi/transport/device_ctx.h"

// What mr_ReadRecord and mr_DeleteRecord answer for a free slot; the
// search loops take it as a free slot, not as an error.
constexpr HRESULT MR_E_RECORD_FREE = static_cast<HRESULT>(0x80006A83);

// Copies the 76-byte record of slot bySlot (0 to 3) to pOutbuf. *pOutlen:
// capacity in, 76 out (also when too small: 0x80070003). A free slot fails
// with 0x80006A83.
HRESULT mr_ReadRecord(DEV_CTX* pDevCtx, BYTE bySlot, BYTE* pOutbuf, DWORD* pOutlen);

// Rewrites a record or ORs bits into its flag, by the first input byte:
//   0x00, nInlen 76: the whole record;
//   0xF0, nInlen 76: bytes 1 to 75, the stored flag stays;
//   other, nInlen 1: flag = stored flag | input byte (one byte written);
//   other, nInlen 2..76: the first nInlen bytes.
// nInlen 0 or above 76 fails with 0x80070004. An available double-
// certificate container (flag 0x0F) is never changed (0x80006285). When the
// container becomes available its slot is recorded in the index.
HRESULT mr_UpdateRecord(DEV_CTX* pDevCtx, BYTE bySlot, const BYTE* pInbuf, DWORD nInlen);

// Frees a slot (76 bytes of 0xFF) and clears the index bytes that name it.
// A free slot fails with 0x80006A83.
HRESULT mr_DeleteRecord(DEV_CTX* pDevCtx, BYTE bySlot);

namespace merro::commands {

// Records that container file wFileId now holds data: when its kind (low 4
// bits) is `kind` and it is a file of slots 0 to 3, selects CTNR_FID and ORs
// the kind bit into the slot's flag (steps "mr_SelectFile(CTNR_FID)" and
// "mr_UpdateRecord" of `scope`). Any other file leaves the records alone
// (step "CHECK Container key type") with result 0.
HRESULT MarkContainerFile(const TraceHelper& scope, DEV_CTX* pDevCtx, WORD wFileId, BYTE kind);

// Selects CTNR_INDEX and reads its 8 bytes into pIndex (steps
// "mr_SelectFile(CTNR_INDEX)", "mr_ReadFile(CTNR_INDEX)"); writes them back
// into the selected index (step "mr_WriteFile(CTNR_INDEX)").
HRESULT ReadContainerIndex(const TraceHelper& scope, DEV_CTX* pDevCtx, BYTE* pIndex);
HRESULT WriteContainerIndex(const TraceHelper& scope, DEV_CTX* pDevCtx, const BYTE* pIndex);

}  // namespace merro::commands
