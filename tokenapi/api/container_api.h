// Public token API: the token's key containers and the initialisation of a
// blank token's file layout.
#pragma once

#include "foundation/platform.h"
#include "foundation/container_record.h"
#include "tokenapi/transport/device_ctx.h"

// The containers in use, in slot order. *pCount: capacity in records in,
// number of containers out; a capacity below the count fails with
// 0x80070003 and the count. A null pEnumContainer gives the count alone.
HRESULT EnumContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pEnumContainer, DWORD* pCount);
// Creates the container named in pContainer->szContainerName and writes
// its new record back into *pContainer.
HRESULT CreateContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer);
// pContainer: the container's name, nNameLen its length.
HRESULT DeleteContainer(DEV_CTX* pDevCtx, const char* pContainer, DWORD nNameLen);
// Name in, record out.
HRESULT ReadContainer(DEV_CTX* pDevCtx, CONTAINER_RECORD* pContainer);
HRESULT WriteContainer(DEV_CTX* pDevCtx, const CONTAINER_RECORD* pContainer);
HRESULT EnableContainer(DEV_CTX* pDevCtx, const char* pContainerName, DWORD nNameLen);

// Builds the file layout of a token whose file system is empty.
HRESULT InitTokenFile(DEV_CTX* pDevCtx);
