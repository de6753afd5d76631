// DeviceHandle::ExportPubKey: the public key of a container's key slot as
// the token exports it, in two parts (SM2 x and y, RSA n and e) or in one
// buffer (SM2 x || y, RSA as a DER RSAPublicKey).
#include <cstring>
#include <memory>
#include <new>

#include "device/device_handle.h"
#include "device/key_slots.h"
#include "foundation/owned_bytes.h"
#include "foundation/alg_ids.h"
#include "foundation/asn1/asn1_compose.h"
#include "foundation/asn1/asn1_node.h"
#include "foundation/misc/key_type.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

constexpr DWORD kSm2CoordBytes = 32;
constexpr BYTE kSequenceTag = 0x30;
// The exponent of the DER form: INTEGER 65537, whatever the token holds.
constexpr BYTE kExponent65537[] = {0x02, 0x03, 0x01, 0x00, 0x01};

// An exported RSA key whose lengths fit their fields.
bool IsWellFormed(const RSA_KEY& stKey) {
  return stKey.nLen != 0 && stKey.nLen <= MR_RSA_MAX_BYTES && stKey.eLen != 0 &&
         stKey.eLen <= MR_RSA_MAX_BYTES;
}

// A slot's public key as the token exports it (x || y in the first 64
// bytes for SM2, n and e for RSA) with the slot's key type.
struct SlotPublicKey : RSA_KEY {
  BYTE byKeyType = 0;
};

// Reads the slot's public key (RSA lengths checked to fit their fields).
// Failures as ExportPubKey returns them; the argument checks are logged
// under `function`.
HRESULT ReadSlotPublicKey(DeviceHandle& handle, const char* function, const char* pszDevName,
                          const char* pszContainerName, DWORD dwKeySpec, SlotPublicKey* pstPubKey) {
  MR_TRACE("ReadSlotPublicKey");
  BYTE* const pbyKeyType = &pstPubKey->byKeyType;
  HRESULT hResult = CheckSlotArguments(function, pszDevName, pszContainerName, dwKeySpec);
  if (FAILED(hResult)) {
    return hResult;
  }
  ContainerItem* pItem = nullptr;
  DEV_CTX* pDevCtx = nullptr;
  hResult = handle.ResolveContainer(pszDevName, pszContainerName, &pItem, &pDevCtx);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", E_FAIL);
  hResult = GetKeyType(pItem->pstContainer(), dwKeySpec, pbyKeyType, nullptr);
  MR_FAIL_IF(hResult != S_OK, L"GetKeyType", HRESULT_FROM_TOKEN_ERROR(hResult));
  const HRESULT nRetCode = ExportPublicKey(pDevCtx, *pbyKeyType,
                                           KeyFileId(*pItem->pstContainer(), dwKeySpec), pstPubKey);
  MR_FAIL_IF(nRetCode != 0, L"ExportPublicKey", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_FAIL_IF(*pbyKeyType != MR_ALG_SM2 && !IsWellFormed(*pstPubKey), L"Check public key lengths",
             E_FAIL);
  return S_OK;
}

}  // namespace

HRESULT DeviceHandle::ExportPubKey(const char* pszDevName, const char* pszContainerName,
                                   DWORD dwKeySpec, BYTE** ppbyPubKeyXorN,
                                   DWORD* pdwPubKeyXorNSize, BYTE** ppbyPubKeyYorE,
                                   DWORD* pdwPubKeyYorESize) {
  MR_TRACE("DeviceHandle::ExportPubKey");
  MR_FAIL_IF(ppbyPubKeyXorN == NULL, L"Check ppbyPubKeyXorN", E_INVALIDARG);
  MR_FAIL_IF(pdwPubKeyXorNSize == NULL, L"Check pdwPubKeyXorNSize", E_INVALIDARG);
  MR_FAIL_IF(ppbyPubKeyYorE == NULL, L"Check ppbyPubKeyYorE", E_INVALIDARG);
  MR_FAIL_IF(pdwPubKeyYorESize == NULL, L"Check pdwPubKeyYorESize", E_INVALIDARG);

  SlotPublicKey stPubKey{};
  HRESULT hResult = ReadSlotPublicKey(*this, MR_TRACE_FUNCTION, pszDevName, pszContainerName,
                                      dwKeySpec, &stPubKey);
  if (FAILED(hResult)) {
    return hResult;
  }

  const BYTE* pbyFirst = stPubKey.n;
  DWORD dwFirstLen = kSm2CoordBytes;
  const BYTE* pbySecond = stPubKey.n + kSm2CoordBytes;
  DWORD dwSecondLen = kSm2CoordBytes;
  if (stPubKey.byKeyType != MR_ALG_SM2) {
    dwFirstLen = stPubKey.nLen;
    pbySecond = stPubKey.e;
    dwSecondLen = stPubKey.eLen;
  }
  OwnedBytes pbyFirstCopy = OwnedBytes::CopyOf(pbyFirst, dwFirstLen);
  OwnedBytes pbySecondCopy = OwnedBytes::CopyOf(pbySecond, dwSecondLen);
  MR_FAIL_IF(pbyFirstCopy == nullptr || pbySecondCopy == nullptr, L"New buffer", E_OUTOFMEMORY);
  pbyFirstCopy.HandOut(ppbyPubKeyXorN, pdwPubKeyXorNSize);
  pbySecondCopy.HandOut(ppbyPubKeyYorE, pdwPubKeyYorESize);
  return S_OK;
}

HRESULT DeviceHandle::ExportPubKey(const char* pszDevName, const char* pszContainerName,
                                   DWORD dwKeySpec, DWORD* pdwKeySetAlg, BYTE** ppbyPubKey,
                                   DWORD* pdwPubKeySize) {
  MR_TRACE("DeviceHandle::ExportPubKey");
  MR_FAIL_IF(pdwKeySetAlg == NULL, L"Check pdwKeySetAlg", E_INVALIDARG);
  MR_FAIL_IF(ppbyPubKey == NULL, L"Check ppbyPubKey", E_INVALIDARG);
  MR_FAIL_IF(pdwPubKeySize == NULL, L"Check pdwPubKeySize", E_INVALIDARG);

  SlotPublicKey stPubKey{};
  HRESULT hResult = ReadSlotPublicKey(*this, MR_TRACE_FUNCTION, pszDevName, pszContainerName,
                                      dwKeySpec, &stPubKey);
  if (FAILED(hResult)) {
    return hResult;
  }

  // The slot's own key type decides the form: in a container that holds
  // both kinds, AlgType follows the signature key alone.
  if (stPubKey.byKeyType == MR_ALG_SM2) {
    OwnedBytes pbyPoint = OwnedBytes::CopyOf(stPubKey.n, 2 * kSm2CoordBytes);
    MR_FAIL_IF(pbyPoint == nullptr, L"New buffer", E_OUTOFMEMORY);
    *pdwKeySetAlg = KEYSETALGORITHM_SM2;
    pbyPoint.HandOut(ppbyPubKey, pdwPubKeySize);
    return S_OK;
  }

  BYTE* pbyRaw = nullptr;
  DWORD dwModulusLen = 0;
  hResult = ComposeInteger(stPubKey.n, stPubKey.nLen, &pbyRaw, &dwModulusLen);
  MR_FAIL_IF(hResult != S_OK, L"ComposeInteger", HRESULT_FROM_TOKEN_ERROR(hResult));
  const std::unique_ptr<BYTE[]> pbyModulus(pbyRaw);
  const DWORD dwContentLen = dwModulusLen + sizeof kExponent65537;
  std::unique_ptr<BYTE[]> pbyContent(new (std::nothrow) BYTE[dwContentLen]);
  MR_FAIL_IF(pbyContent == nullptr, L"New buffer", E_OUTOFMEMORY);
  std::memcpy(pbyContent.get(), pbyModulus.get(), dwModulusLen);
  std::memcpy(pbyContent.get() + dwModulusLen, kExponent65537, sizeof kExponent65537);

  BYTE* pbyEncoded = nullptr;
  DWORD dwEncodedLen = 0;
  hResult = ASN1Encode(kSequenceTag, pbyContent.get(), static_cast<int>(dwContentLen), &pbyEncoded,
                       &dwEncodedLen);
  MR_FAIL_IF(hResult != S_OK, L"ASN1Encode", HRESULT_FROM_TOKEN_ERROR(hResult));
  *pdwKeySetAlg = KEYSETALGORITHM_RSA;
  *ppbyPubKey = pbyEncoded;
  *pdwPubKeySize = dwEncodedLen;
  return S_OK;
}

}  // namespace merro::device
