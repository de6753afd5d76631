// Container names and the record search that the container operations
// share.
#pragma once

#include "foundation/platform.h"
#include "foundation/trace/trace.h"
#include "foundation/container_record.h"
#include "tokenapi/transport/device_ctx.h"

namespace merro::commands {

// A container name: at most 64 bytes, up to the first zero byte. Built from
// a record or from a caller's buffer without reading past either.
struct ContainerName {
  char bytes[MR_CTNR_NAME_MAX];
  DWORD len;

  static ContainerName FromRecord(const CONTAINER_RECORD& record);
  // nNameLen bytes at most (more than 64 count as 64).
  static ContainerName FromBuffer(const char* pName, DWORD nNameLen);
  // The whole names are equal (a prefix does not match).
  bool Matches(const CONTAINER_RECORD& record) const;
  // Stores the name in the record's field, zero-filled.
  void StoreIn(CONTAINER_RECORD* pRecord) const;
};

// Selects CTNR_FID (step "mr_SelectFile(CTNR_FID)" of `scope`) and finds
// the record of `name` in slots 0 to 3; a slot that does not read (free or
// otherwise) is passed over. Found: *pSlot and *pRecord. Not found:
// 0x8007020F, logged as `missingStep`. A failed selection is returned as
// it is.
HRESULT FindContainer(const TraceHelper& scope, DEV_CTX* pDevCtx, const ContainerName& name,
                      const wchar_t* missingStep, BYTE* pSlot, CONTAINER_RECORD* pRecord);

// Reads record `slot` of the selected file (mr_ReadRecord) into *pRecord.
HRESULT ReadContainerRecord(DEV_CTX* pDevCtx, BYTE slot, CONTAINER_RECORD* pRecord);

}  // namespace merro::commands
