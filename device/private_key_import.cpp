// DeviceHandle: private-key import into a container's exchange slot. An
// encrypted pair (RSA-2048 wrapped under a key that arrives wrapped itself,
// or SM2 in an SM2 ciphertext for the token), or a plain RSA-1024 pair.
//
// The token API reads its inputs by the key type's fixed layout and trusts
// the lengths, so the sizes are checked here, against the key size, before
// the slot is prepared.
#include <cstring>

#include "device/device_handle.h"
#include "device/device_trace.h"
#include "device/key_slots.h"
#include "foundation/alg_ids.h"
#include "foundation/result.h"
#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "tokenapi/api/token_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {

// An SM2 ciphertext: C1 (0x04, x1, y1), then C2 and C3 (the 32-byte SM3
// check value) in one order or the other; the shortest has an empty C2.
using merro::crypto::kSm2C1Bytes;
using merro::crypto::kSm2C3Bytes;
constexpr DWORD kSm2CipherMin = MR_SM2_CIPHER_OVERHEAD;
// The whole ciphertext travels in one command.
constexpr DWORD kSm2CipherMax = 255;
constexpr DWORD kRsa1024Bytes = 128;
constexpr DWORD kRsaExponentMax = 4;

// An RSA_KEY that is wiped when it goes.
struct WipedRsaKey {
  RSA_KEY key{};
  WipedRsaKey() = default;
  WipedRsaKey(const WipedRsaKey&) = delete;
  WipedRsaKey& operator=(const WipedRsaKey&) = delete;
  ~WipedRsaKey() { SecureWipe(&key, sizeof key); }
};

// Whether the encrypted key data have the layout the token API reads for
// the key size: RSA-2048 a 128-byte wrapped key and a 640-byte wrapped pair;
// SM2 one ciphertext of 97 to 255 bytes and no wrapped key. RSA-1024 has no
// encrypted form (the token API would take the data as a plain RSA_KEY) and
// 4096 bits no key type.
bool FitsKeySize(DWORD dwKeyBitsLength, const BYTE* pbySymKey, DWORD dwSymKeySize,
                 DWORD dwAsymKeySize) {
  switch (dwKeyBitsLength) {
    case 2048:
      return pbySymKey != nullptr && dwSymKeySize == MR_WRAPPED_RSA_SYMKEY_LEN &&
             dwAsymKeySize == MR_WRAPPED_RSA_KEYPAIR_LEN;
    case 256:
      return pbySymKey == nullptr && dwSymKeySize == 0 && dwAsymKeySize >= kSm2CipherMin &&
             dwAsymKeySize <= kSm2CipherMax;
    default:
      return false;
  }
}

// C1 || C3 || C2 reordered into C1 || C2 || C3; both hold nSize bytes, at
// least kSm2CipherMin.
void ReorderSm2Cipher(const BYTE* pbyIn, DWORD nSize, BYTE* pbyOut) {
  const DWORD nC2Len = nSize - kSm2CipherMin;
  pbyOut[0] = 0x04;
  std::memcpy(pbyOut + 1, pbyIn + 1, kSm2C1Bytes - 1);
  std::memcpy(pbyOut + kSm2C1Bytes, pbyIn + kSm2CipherMin, nC2Len);
  std::memcpy(pbyOut + kSm2C1Bytes + nC2Len, pbyIn + kSm2C1Bytes, kSm2C3Bytes);
}

}  // namespace

HRESULT DeviceHandle::ImportEncryptedPrivateKey(const char* pszDevName,
                                                const char* pszContainerName, DWORD dwKeySpec,
                                                DWORD dwKeySetAlg, DWORD dwKeyBitsLength,
                                                const BYTE* pbySymKey, DWORD dwSymKeySize,
                                                const BYTE* pbyAsymKey, DWORD dwAsymKeySize) {
  MR_TRACE("DeviceHandle::ImportEncryptedPrivateKey");
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(dwKeySpec != AT_KEYEXCHANGE, L"Check dwKeySpec", E_INVALIDARG);
  MR_FAIL_IF(pbyAsymKey == NULL, L"Check pbyAsymKey", E_INVALIDARG);
  MR_FAIL_IF(dwAsymKeySize == 0, L"Check dwAsymKeySize", E_INVALIDARG);
  MR_FAIL_IF((dwKeyBitsLength != 256) && (dwKeyBitsLength != 1024) && (dwKeyBitsLength != 2048) &&
                 (dwKeyBitsLength != 4096),
             L"Check dwKeyBitsLength", E_INVALIDARG);
  TraceDeviceValue(51, {dwKeySetAlg, dwKeyBitsLength, dwSymKeySize, dwAsymKeySize});
  MR_FAIL_IF(!FitsKeySize(dwKeyBitsLength, pbySymKey, dwSymKeySize, dwAsymKeySize),
             L"Check key data lengths", E_INVALIDARG);

  PreparedSlot slot;
  const HRESULT hResult = PrepareKeySlot(*this, MR_TRACE_FUNCTION, pszDevName, pszContainerName,
                                         AT_KEYEXCHANGE, dwKeyBitsLength, &slot);
  if (FAILED(hResult)) {
    return hResult;
  }

  HRESULT nRetCode = ImportKeyPair(slot.pDevCtx, slot.byKeyType, slot.wKeyFID, pbyAsymKey,
                                   dwAsymKeySize, pbySymKey);
  if (nRetCode != 0 && slot.byKeyType == MR_ALG_SM2) {
    // The token takes C1 || C2 || C3; the data may have come as C1 || C3 || C2.
    BYTE abyReordered[kSm2CipherMax];
    ReorderSm2Cipher(pbyAsymKey, dwAsymKeySize, abyReordered);
    nRetCode =
        ImportKeyPair(slot.pDevCtx, MR_ALG_SM2, slot.wKeyFID, abyReordered, dwAsymKeySize, nullptr);
    SecureWipe(abyReordered, sizeof abyReordered);
  }
  MR_FAIL_IF(nRetCode != 0, L"ImportKeyPair", HRESULT_FROM_TOKEN_ERROR(nRetCode));

  nRetCode = RereadRecord(slot.pDevCtx, slot.pItem);
  MR_FAIL_IF(nRetCode != 0, L"ReadContainer", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_LOG_STEP(L"ImportEncryptedPrivateKey");
  return S_OK;
}

HRESULT DeviceHandle::ImportRSA1024PrivateKey(const char* pszDevName, const char* pszContainerName,
                                              DWORD dwKeySpec, const RSA_KEY& stRSAKey) {
  MR_TRACE("DeviceHandle::ImportRSA1024PrivateKey");
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(dwKeySpec != AT_KEYEXCHANGE, L"Check dwKeySpec", E_INVALIDARG);
  // A 1024-bit modulus, an exponent the token can store, a private exponent
  // no longer than the modulus: anything else is another key size or no key.
  MR_FAIL_IF(stRSAKey.nLen != kRsa1024Bytes, L"Check nLen", E_INVALIDARG);
  MR_FAIL_IF(stRSAKey.eLen == 0 || stRSAKey.eLen > kRsaExponentMax, L"Check eLen", E_INVALIDARG);
  MR_FAIL_IF(stRSAKey.dLen == 0 || stRSAKey.dLen > kRsa1024Bytes, L"Check dLen", E_INVALIDARG);

  PreparedSlot slot;
  const HRESULT hResult = PrepareKeySlot(*this, MR_TRACE_FUNCTION, pszDevName, pszContainerName,
                                         AT_KEYEXCHANGE, 1024, &slot);
  if (FAILED(hResult)) {
    return hResult;
  }

  // A plain RSA-1024 pair: the whole RSA_KEY, no wrapping key.
  HRESULT nRetCode = ImportKeyPair(slot.pDevCtx, MR_ALG_RSA1024, slot.wKeyFID,
                                   reinterpret_cast<const BYTE*>(&stRSAKey), sizeof(RSA_KEY),
                                   nullptr);
  MR_FAIL_IF(nRetCode != 0, L"ImportKeyPair", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  nRetCode = RereadRecord(slot.pDevCtx, slot.pItem);
  MR_FAIL_IF(nRetCode != 0, L"ReadContainer", HRESULT_FROM_TOKEN_ERROR(nRetCode));
  MR_LOG_STEP(L"ImportRSA1024PrivateKey");
  return S_OK;
}

HRESULT DeviceHandle::ImportRSA1024PrivateKey(const char* pszDevName, const char* pszContainerName,
                                              DWORD dwKeySpec, const BYTE* pbyPrivateKeyN,
                                              DWORD dwPrivateKeyNSize, const BYTE* pbyPrivateKeyE,
                                              DWORD dwPrivateKeyESize, const BYTE* pbyPrivateKeyD,
                                              DWORD dwPrivateKeyDSize) {
  MR_TRACE("DeviceHandle::ImportRSA1024PrivateKey");
  MR_FAIL_IF(pszContainerName == NULL, L"Check pszContainerName", E_INVALIDARG);
  MR_FAIL_IF(dwKeySpec != AT_KEYEXCHANGE, L"Check dwKeySpec", E_INVALIDARG);
  // Each part goes into a 256-byte field of the RSA_KEY.
  MR_FAIL_IF(pbyPrivateKeyN == NULL, L"Check pbyPrivateKeyN", E_INVALIDARG);
  MR_FAIL_IF(dwPrivateKeyNSize == 0 || dwPrivateKeyNSize > MR_RSA_MAX_BYTES,
             L"Check dwPrivateKeyNSize", E_INVALIDARG);
  MR_FAIL_IF(pbyPrivateKeyE == NULL, L"Check pbyPrivateKeyE", E_INVALIDARG);
  MR_FAIL_IF(dwPrivateKeyESize == 0 || dwPrivateKeyESize > MR_RSA_MAX_BYTES,
             L"Check dwPrivateKeyESize", E_INVALIDARG);
  MR_FAIL_IF(pbyPrivateKeyD == NULL, L"Check pbyPrivateKeyD", E_INVALIDARG);
  MR_FAIL_IF(dwPrivateKeyDSize == 0 || dwPrivateKeyDSize > MR_RSA_MAX_BYTES,
             L"Check dwPrivateKeyDSize", E_INVALIDARG);

  WipedRsaKey stKey;
  std::memcpy(stKey.key.n, pbyPrivateKeyN, dwPrivateKeyNSize);
  stKey.key.nLen = dwPrivateKeyNSize;
  std::memcpy(stKey.key.e, pbyPrivateKeyE, dwPrivateKeyESize);
  stKey.key.eLen = dwPrivateKeyESize;
  std::memcpy(stKey.key.d, pbyPrivateKeyD, dwPrivateKeyDSize);
  stKey.key.dLen = dwPrivateKeyDSize;
  return ImportRSA1024PrivateKey(pszDevName, pszContainerName, dwKeySpec, stKey.key);
}

}  // namespace merro::device
