// A container's two key slots as the device object reaches them: the key
// and certificate files of the signature key (AT_SIGNATURE) and of the
// exchange key (AT_KEYEXCHANGE), the checks every slot operation begins
// with, the preparation of a slot for a new key, and the re-reading of the
// container's record into the container list after a command changed it.
#pragma once

#include "device/device_item.h"
#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "foundation/platform.h"
#include "tokenapi/api/token_types.h"

namespace merro::device {

class DeviceHandle;

// The key file of the slot: SignKeyFID for AT_SIGNATURE, else ExchangeKeyFID.
inline WORD KeyFileId(const CONTAINER_RECORD& stRecord, DWORD dwKeySpec) {
  return dwKeySpec == AT_SIGNATURE ? stRecord.SignKeyFID : stRecord.ExchangeKeyFID;
}

// The certificate file of the slot: SignCertFID for AT_SIGNATURE, else
// ExchangeCertFID.
inline WORD CertFileId(const CONTAINER_RECORD& stRecord, DWORD dwKeySpec) {
  return dwKeySpec == AT_SIGNATURE ? stRecord.SignCertFID : stRecord.ExchangeCertFID;
}

// A device name, a container name and a key specification of 1 or 2: S_OK,
// else 0x80070057 with the failed check logged under `function`.
HRESULT CheckSlotArguments(const char* function, const char* pszDevName,
                           const char* pszContainerName, DWORD dwKeySpec);

// Finds the container (0x80004005 when it is not listed or its token is
// not), records a key of dwKeyBitsLength in the slot (InitializeContainer,
// which also brings the list's copy of the record up to date; its failure as
// it gave it), then gives the slot's key type and key file as that record
// names them (0x8009000D for an unknown length code), the container's item
// and its token's context. Failures are logged under `function`.
struct PreparedSlot {
  ContainerItem* pItem = nullptr;
  DEV_CTX* pDevCtx = nullptr;
  BYTE byKeyType = 0;
  WORD wKeyFID = 0;
};
HRESULT PrepareKeySlot(DeviceHandle& handle, const char* function, const char* pszDevName,
                       const char* pszContainerName, DWORD dwKeySpec, DWORD dwKeyBitsLength,
                       PreparedSlot* pSlot);

// Reads the token's record of the item's container into the item's copy.
// The copy changes only when the read succeeded. The token API's result.
HRESULT RereadRecord(DEV_CTX* pDevCtx, ContainerItem* pItem);

}  // namespace merro::device
