// DeviceHandle::GenKeyPair: the token generates a key pair in one of a
// container's key slots. The slot is prepared first (InitializeContainer
// records the key's type and length code); the public key is read back
// later by whoever needs it (ExportPubKey).
#include "device/device_handle.h"
#include "device/device_trace.h"
#include "device/key_slots.h"
#include "foundation/misc/key_type.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// A container that may take no further key: complete with its exchange pair
// alone, or complete with both pairs and both certificates.
bool IsClosedToNewKeys(const CONTAINER_RECORD& stRecord) {
  return (stRecord.byFlag == MR_CTNR_AVL_SINGLE && stRecord.SignKeyLen == MR_CTNR_NONE) ||
         stRecord.byFlag == MR_CTNR_AVL;
}

}  // namespace

HRESULT DeviceHandle::CheckContainerTakesNewKey(const char* pszDevName,
                                                const char* pszContainerName) {
  MR_TRACE("DeviceHandle::CheckContainerTakesNewKey");
  ContainerItem* pItem = nullptr;
  const HRESULT hResult = ResolveContainer(pszDevName, pszContainerName, &pItem, nullptr);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);
  MR_FAIL_IF(IsClosedToNewKeys(*pItem->pstContainer()), L"Check container flag", NTE_BAD_KEY_STATE);
  return S_OK;
}

HRESULT DeviceHandle::GenKeyPair(const char* pszDevName, const char* pszContainerName,
                                 DWORD dwKeySpec, DWORD dwKeySetAlg, DWORD dwKeyBitsLength) {
  MR_TRACE("DeviceHandle::GenKeyPair");
  HRESULT hResult = CheckSlotArguments(MR_TRACE_FUNCTION, pszDevName, pszContainerName, dwKeySpec);
  if (FAILED(hResult)) {
    return hResult;
  }
  MR_FAIL_IF((dwKeyBitsLength != 256) && (dwKeyBitsLength != 1024) && (dwKeyBitsLength != 2048) &&
                 (dwKeyBitsLength != 4096),
             L"Check dwKeyBitsLength", E_INVALIDARG);
  // The key-set algorithm is only told: the key size decides the key type.
  TraceDeviceValue(50, {dwKeySetAlg, dwKeyBitsLength});

  hResult = CheckContainerTakesNewKey(pszDevName, pszContainerName);
  if (FAILED(hResult)) {
    return hResult;
  }
  // 4096 bits have no length code: the slot would be recorded as an SM2 key.
  MR_FAIL_IF(FindKeyLengthCodeForBits(dwKeyBitsLength) == nullptr, L"Check key length code",
             E_INVALIDARG);

  PreparedSlot slot;
  hResult = PrepareKeySlot(*this, MR_TRACE_FUNCTION, pszDevName, pszContainerName, dwKeySpec,
                           dwKeyBitsLength, &slot);
  if (FAILED(hResult)) {
    return hResult;
  }

  // Room for either public key: an RSA_KEY, or x || y of SM2 in its first
  // 64 bytes. Nothing private comes back.
  RSA_KEY stPubKey{};
  HRESULT nRetCode = GenerateKeyPair(slot.pDevCtx, slot.byKeyType, slot.wKeyFID, &stPubKey);
  MR_FAIL_IF(nRetCode != 0, L"GenerateKeyPair", NTE_BAD_KEY);

  nRetCode = RereadRecord(slot.pDevCtx, slot.pItem);
  MR_FAIL_IF(nRetCode != 0, L"ReadContainer", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_LOG_STEP(L"GenKeyPair");
  return S_OK;
}

}  // namespace merro::device
