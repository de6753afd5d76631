// KeyHandle: encryption with the public key and decryption with the private
// key of a container's exchange key pair, in the token's byte order (the
// provider core reverses RSA data at the CryptoAPI boundary).
//
// Encryption runs on the host through the device object. Decryption runs on
// the token after a user-PIN check: RSA gives the padded block, whose PKCS#1
// type-2 padding is removed here; SM2 takes the ciphertext with 0x04 in
// front, in the token's order x, y, C2, C3, and a ciphertext that fails in
// that order is tried once more read as x, y, C3, C2, and last as it came
// when it starts with the 0x04 of the token's form (what encryption gives).
// After any decryption attempt, successful or not, the token's security
// state is reset.
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/secret_bytes.h"
#include "foundation/result.h"
#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "provider/operation_sequence.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

using merro::SecretBytes;

// SM2 ciphertext parts around C2: the point C1 (x, y) and the digest C3.
constexpr DWORD kSm2PointBytes = 64;
constexpr DWORD kSm2DigestBytes = 32;
constexpr DWORD kSm2FixedBytes = kSm2PointBytes + kSm2DigestBytes;  // 96
// The first byte of an uncompressed point.
constexpr BYTE kSm2PointTag = 0x04;

HRESULT DecryptOnToken(const Container& container, DWORD dwKeySpec, const BYTE* pbyInput,
                       DWORD dwInputSize, SecretBytes* pOutput) {
  return g_pDeviceHandle->DecryptByDevice(container.m_szDeviceName, container.m_szContainerName,
                                          dwKeySpec, pbyInput, dwInputSize, pOutput->Out(),
                                          pOutput->Length());
}

}  // namespace

HRESULT KeyHandle::AsymEncrypt(const BYTE* pbyPlainData, DWORD dwPlainDataSize,
                               BYTE** ppbyEncryptedData, DWORD* pdwEncryptedDataSize) {
  MR_TRACE("KeyHandle::AsymEncrypt");
  MR_FAIL_IF(!pbyPlainData, L"Check pbyPlainData", E_INVALIDARG);
  MR_FAIL_IF(!ppbyEncryptedData, L"Check ppbyEncryptedData", E_INVALIDARG);
  MR_FAIL_IF(!pdwEncryptedDataSize, L"Check pdwEncryptedDataSize", E_INVALIDARG);
  MR_FAIL_IF(dwPlainDataSize <= 0, L"Check dwPlainDataSize", E_INVALIDARG);
  MR_FAIL_IF((CALG_SM2_KEYX != m_uAlgID) && (CALG_RSA_KEYX != m_uAlgID),
             L"Check the algid is KEY_EXCHANGE", NTE_BAD_ALGID);
  MR_FAIL_IF(!m_pContainer, L"Check m_pContainer", NTE_BAD_KEYSET);
  MR_FAIL_IF(m_pContainer->IsEphemeral(), L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);

  const char* pszDevName = m_pContainer->m_szDeviceName;
  const char* pszContainerName = m_pContainer->m_szContainerName;
  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(pszDevName, pszContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", HRESULT_FROM_TOKEN_ERROR(hResult));

  SecretBytes encrypted;
  hResult = g_pDeviceHandle->PubKeyEncrypt(pszDevName, pszContainerName, m_dwKeySpec, pbyPlainData,
                                           dwPlainDataSize, encrypted.Out(), encrypted.Length());
  MR_FAIL_IF(hResult != S_OK, L"PubKeyEncrypt", HRESULT_FROM_TOKEN_ERROR(hResult));
  encrypted.HandOut(ppbyEncryptedData, pdwEncryptedDataSize);
  MR_LOG_STEP(L"PubKeyEncrypt");
  return S_OK;
}

HRESULT KeyHandle::AsymDecrypt(const BYTE* pbyEncryptedData, DWORD dwEncryptedDataSize,
                               BYTE** ppbyPlainData, DWORD* pdwPlainDataSize) {
  MR_TRACE("KeyHandle::AsymDecrypt");
  // Declared first, so that it runs on every way out, the argument checks'
  // included, still under the sequence lock the PIN verification took.
  OperationSequence sequence;
  const ResetTokenOnExit resetToken(m_pContainer);

  MR_FAIL_IF(!pbyEncryptedData, L"Check pbyEncryptedData", E_INVALIDARG);
  MR_FAIL_IF(!ppbyPlainData, L"Check ppbyPlainData", E_INVALIDARG);
  MR_FAIL_IF(!pdwPlainDataSize, L"Check pdwPlainDataSize", E_INVALIDARG);
  MR_FAIL_IF(dwEncryptedDataSize <= 0, L"Check dwEncryptedDataSize", E_INVALIDARG);
  MR_FAIL_IF(!m_pContainer, L"Check m_pContainer", NTE_BAD_KEYSET);
  MR_FAIL_IF(m_pContainer->IsEphemeral(), L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle is not NULL", NTE_BAD_KEYSET);

  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(m_pContainer->m_szDeviceName,
                                                         m_pContainer->m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", HRESULT_FROM_TOKEN_ERROR(hResult));
  SecretBytes plain;
  hResult = RunWithOneRerun(*m_pContainer, &sequence, [&] {
    plain.Clear();
    return DecryptInSequence(pbyEncryptedData, dwEncryptedDataSize, &sequence, &plain);
  });
  if (hResult != S_OK) {
    return hResult;
  }
  plain.HandOut(ppbyPlainData, pdwPlainDataSize);
  MR_LOG_STEP(L"g_pDeviceHandle->DecryptByDevice");
  return S_OK;
}

HRESULT KeyHandle::DecryptInSequence(const BYTE* pbyEncryptedData, DWORD dwEncryptedDataSize,
                                     OperationSequence* pSequence, SecretBytes* pPlain) {
  MR_TRACE("KeyHandle::DecryptInSequence");
  HRESULT hResult = CheckUserPIN(0, 0, pSequence);
  MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);

  SecretBytes& plain = *pPlain;
  if (m_uAlgID != CALG_SM2_KEYX) {
    // RSA: the token gives the whole block, still padded.
    SecretBytes padded;
    hResult =
        DecryptOnToken(*m_pContainer, m_dwKeySpec, pbyEncryptedData, dwEncryptedDataSize, &padded);
    MR_FAIL_IF(FAILED(hResult), L"g_pDeviceHandle->DecryptByDevice", hResult);
    DWORD dwDataOffset = 0;
    DWORD dwDataLen = 0;
    hResult = merro::crypto::RemovePkcs1EncryptionBlock(padded.get(), padded.size(), &dwDataOffset,
                                                        &dwDataLen);
    MR_FAIL_IF(FAILED(hResult), L"Check data padding", NTE_BAD_KEY);
    MR_FAIL_IF(!plain.Allocate(dwDataLen), L"New buffer", E_OUTOFMEMORY);
    std::memcpy(plain.get(), padded.get() + dwDataOffset, dwDataLen);
  } else {
    // SM2: 0x04, then the ciphertext as it came (x, y, C2, C3).
    // (The byte in front must not wrap the length.)
    MR_FAIL_IF(dwEncryptedDataSize == 0xFFFFFFFFu, L"Check dwEncryptedDataSize", E_INVALIDARG);
    SecretBytes ciphertext;
    MR_FAIL_IF(!ciphertext.Allocate(dwEncryptedDataSize + 1), L"New buffer", E_OUTOFMEMORY);
    ciphertext.get()[0] = kSm2PointTag;
    std::memcpy(ciphertext.get() + 1, pbyEncryptedData, dwEncryptedDataSize);
    hResult =
        DecryptOnToken(*m_pContainer, m_dwKeySpec, ciphertext.get(), ciphertext.size(), &plain);
    // A lost token state is no sign of the other order.
    if (FAILED(hResult) && !IsLostTokenState(hResult)) {
      // Too short to hold x, y and C3: there is no other order to try, and
      // the rebuild below would read past the input.
      MR_FAIL_IF(dwEncryptedDataSize < kSm2FixedBytes, L"g_pDeviceHandle->DecryptByDevice",
                 hResult);
      MR_LOG_STEP(L"g_pDeviceHandle->DecryptByDevice(x, y, C2, C3)", hResult);
      hResult = CheckUserPIN(0, 0, pSequence);
      MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);
      // Read as x, y, C3, C2 and put in the token's order x, y, C2, C3.
      const DWORD dwC2Bytes = dwEncryptedDataSize - kSm2FixedBytes;
      BYTE* pbyRebuilt = ciphertext.get();
      SecureWipe(pbyRebuilt, ciphertext.size());
      pbyRebuilt[0] = kSm2PointTag;
      std::memcpy(pbyRebuilt + 1, pbyEncryptedData, kSm2PointBytes);
      std::memcpy(pbyRebuilt + 1 + kSm2PointBytes, pbyEncryptedData + kSm2FixedBytes, dwC2Bytes);
      std::memcpy(pbyRebuilt + 1 + kSm2PointBytes + dwC2Bytes, pbyEncryptedData + kSm2PointBytes,
                  kSm2DigestBytes);
      hResult =
          DecryptOnToken(*m_pContainer, m_dwKeySpec, ciphertext.get(), ciphertext.size(), &plain);
      if (FAILED(hResult) && !IsLostTokenState(hResult) &&
          pbyEncryptedData[0] == kSm2PointTag && dwEncryptedDataSize > 1 + kSm2FixedBytes) {
        // The token's own form, 0x04 in front, as AsymEncrypt gives it: tried
        // last, so that what the two orders open opens as before. A failure
        // keeps the code of the attempts before it.
        MR_LOG_STEP(L"g_pDeviceHandle->DecryptByDevice(x, y, C3, C2)", hResult);
        const HRESULT hPin = CheckUserPIN(0, 0, pSequence);
        MR_FAIL_IF(hPin != S_OK, L"CheckUserPIN", hPin);
        const HRESULT hAsGiven = DecryptOnToken(*m_pContainer, m_dwKeySpec, pbyEncryptedData,
                                                dwEncryptedDataSize, &plain);
        if (SUCCEEDED(hAsGiven) || IsLostTokenState(hAsGiven)) {
          hResult = hAsGiven;
        }
      }
    }
    MR_FAIL_IF(FAILED(hResult), L"g_pDeviceHandle->DecryptByDevice", hResult);
  }
  return S_OK;
}

}  // namespace merro::provider
