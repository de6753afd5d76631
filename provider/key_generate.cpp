// KeyHandle: a new key pair in the key's token container, the copy of a
// session key, and the RSA key record made from a private-key blob's body.
#include <cstring>
#include <new>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/misc/byte_order.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "provider/operation_sequence.h"
#include "tokenapi/crypto/rsa/rsa_key.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

// A blob body holds nine half-modulus parts: the modulus, P, Q, the two
// exponents of P and Q, the coefficient and the private exponent.
constexpr DWORD kBlobHalves = 9;
// The public exponent the token's RSA keys are made with: 65537.
constexpr BYTE kPublicExponent[] = {0x01, 0x00, 0x01};

}  // namespace

HRESULT KeyHandle::GenerateKey() {
  MR_TRACE("KeyHandle::GenerateKey");
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_FAIL);
  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(m_pContainer->m_szDeviceName,
                                                         m_pContainer->m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", NTE_BAD_KEY);
  // Every refusal comes before the PIN is verified or anything is written:
  // a refused request leaves the token and its keys as they were.
  DWORD dwKeyBits = 0;
  if (m_dwKeyType == Container::KEYSETALGORITHM_RSA) {
    dwKeyBits = m_dwModulusBits;
  } else if (m_dwKeyType == Container::KEYSETALGORITHM_SM2) {
    dwKeyBits = MR_SM2_KEY_BITS;
  } else {
    MR_LOG_FAIL(L"GenerateKey(dwKeyType)", L"m_dwKeyType is no key pair", NTE_BAD_TYPE);
    return NTE_BAD_TYPE;
  }
  hResult = m_pContainer->CheckNewKeyPair(m_dwKeySpec, m_dwKeyType, dwKeyBits);
  MR_FAIL_IF(hResult != S_OK, L"m_pContainer->CheckNewKeyPair", hResult);
  // The verified PIN serves the commands below only under the token's
  // sequence lock, held until this scope ends.
  OperationSequence sequence;
  hResult = CheckUserPIN(FALSE, FALSE, &sequence);
  MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", HRESULT_FROM_TOKEN_ERROR(hResult));

  hResult = m_pContainer->GenerateKeyPair(m_dwKeySpec, m_dwKeyType, dwKeyBits);
  MR_FAIL_IF(hResult != S_OK, L"m_pContainer->GenerateKeyPair", HRESULT_FROM_TOKEN_ERROR(hResult));
  // The key's length (KP_KEYLEN) is the one made: the curve's for SM2,
  // whatever it held before.
  m_dwModulusBits = dwKeyBits;

  const BOOL bRetCode = m_pContainer->SetKeySetAlgorithm(m_dwKeyType);
  MR_FAIL_IF(!bRetCode, L"SetKeySetAlgorithm", NTE_BAD_KEY);
  MR_LOG_STEP(L"GenerateKey");
  return S_OK;
}

HRESULT KeyHandle::DuplicateKey(const KeyHandle& source) {
  MR_TRACE("KeyHandle::DuplicateKey");
  const DWORD dwLength = source.m_stSymKey.cbData;
  if (dwLength == 0 || source.m_stSymKey.pbData == nullptr) {
    MR_LOG_STEP(L"No key bytes to copy");
    return S_OK;
  }
  // Copied before the old bytes go, so that a key copied onto itself stays.
  SecretBytes pbyKey = SecretBytes::CopyOf(source.m_stSymKey.pbData, dwLength);
  MR_FAIL_IF(!pbyKey, L"New buffer", E_OUTOFMEMORY);
  SecretBytes::Release(m_stSymKey.pbData, m_stSymKey.cbData);
  pbyKey.HandOut(&m_stSymKey.pbData, &m_stSymKey.cbData);
  MR_LOG_STEP(L"DuplicateKey");
  return S_OK;
}

HRESULT KeyHandle::ConstructRSAPrivateKeyFromPrivateKeyBlob(const BYTE* pbyP1PrivateKey,
                                                            DWORD dwP1PrivateKeySize,
                                                            RSA_KEY* pRSAKey) {
  MR_TRACE("KeyHandle::ConstructRSAPrivateKeyFromPrivateKeyBlob");
  MR_FAIL_IF(NULL == pbyP1PrivateKey, L"Check pbyP1PrivateKey", E_INVALIDARG);
  MR_FAIL_IF((dwP1PrivateKeySize % kBlobHalves) != 0, L"Check dwP1PrivateKeySize", E_INVALIDARG);
  const DWORD dwHalf = dwP1PrivateKeySize / kBlobHalves;
  const DWORD dwModulus = 2 * dwHalf;
  // The record's fields hold 2048-bit values: a larger blob is refused
  // before anything is copied, and so is one without a modulus.
  MR_FAIL_IF(dwModulus == 0 || dwModulus > MR_RSA_MAX_BYTES, L"Check dwP1PrivateKeySize",
             E_INVALIDARG);
  MR_FAIL_IF(pRSAKey == NULL, L"Check pRSAKey", E_INVALIDARG);

  // Only the modulus (at the start) and the private exponent (the last
  // part) go into the record; the primes and their exponents are never
  // copied. The blob is little-endian, the record most significant first.
  const BYTE* pbyModulus = pbyP1PrivateKey;
  const BYTE* pbyPriExponent = pbyP1PrivateKey + 7 * dwHalf;
  std::memcpy(pRSAKey->n, pbyModulus, dwModulus);
  SwapByteOrder(pRSAKey->n, dwModulus);
  pRSAKey->nLen = dwModulus;
  std::memcpy(pRSAKey->e, kPublicExponent, sizeof kPublicExponent);
  pRSAKey->eLen = sizeof kPublicExponent;
  std::memcpy(pRSAKey->d, pbyPriExponent, dwModulus);
  SwapByteOrder(pRSAKey->d, dwModulus);
  pRSAKey->dLen = dwModulus;
  MR_LOG_STEP(L"ConstructRSAPrivateKeyFromPrivateKeyBlob");
  return S_OK;
}

}  // namespace merro::provider
