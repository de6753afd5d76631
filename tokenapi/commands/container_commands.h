// The token's key containers: at most four, each a record in CTNR_FID and
// four files of its own (exchange key and certificate, sign key and
// certificate). Callers hold the device mutex around each operation.
//
// Names: the stored name and the given one are each taken up to their first
// zero byte and at most 64 bytes, and must be equal as wholes. Nothing is
// read or written beyond the caller's record (76 bytes) or name buffer.
#pragma once

#include "foundation/platform.h"
#include "foundation/container_record.h"
#include "tokenapi/transport/device_ctx.h"

// Lists the records in use, in slot order. *pCount: capacity in records in,
// number of containers out. pEnumContainer null: a size query. A capacity
// below the count fails with 0x80070003 and *pCount = the count.
HRESULT mr_EnumContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pEnumContainer, DWORD* pCount);

// Creates a container of pContainer->szContainerName: reclaims unfinished
// records of other names, takes the last reclaimed or the lowest free slot,
// creates the slot's four files when they do not exist and writes the new
// record (flag 0x00, codes 0xFF) back into *pContainer. A name that exists:
// 0x8007020D and *pContainer = the stored record. No slot: 0x8007020E.
HRESULT mr_CreateContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer);

// Deletes the container named by the nNameLen bytes at pContainer (a zero
// byte ends the name earlier; more than 64 bytes count as 64) and erases its
// four files. Needs the verified user PIN (else 0x80006982). No such
// container: 0x8007020F.
HRESULT mr_DeleteContainer(DEV_CTX* pDevCtx, const char* pContainer, DWORD nNameLen);

// Reads the record named by pContainer->szContainerName into *pContainer.
HRESULT mr_ReadContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer);

// Writes AlgType, ExchKeyLen and SignKeyLen of *pContainer into the record of
// its name and makes it the pending container of its algorithm in the index.
HRESULT mr_WriteContainer(DEV_CTX* pDevCtx, const CONTAINER_RECORD* pContainer);

// Makes the named container available: ORs 0x0F into its flag, or 0x03 when
// it has no sign key (SignKeyLen 0xFF). Names as mr_DeleteContainer.
HRESULT mr_EnableContainer(DEV_CTX* pDevCtx, const char* pContainerName, DWORD nNameLen);
