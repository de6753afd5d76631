// KeyHandle: private-key import into the exchange slot of the key's token
// container. Three kinds of key material arrive through a PRIVATEKEYBLOB:
// an SM2 pair encrypted for the token, an RSA-2048 pair in an envelope of
// five DER elements (the 128-byte wrapped key block and the 640-byte pair
// wrapped under it) and a plain RSA-1024 blob body. The token unwraps what
// is wrapped; the host only splits and passes it on.
//
// Everything that can be refused from the material alone is refused before
// the user is asked for the PIN: a prompt for an import that cannot succeed,
// or a half-written key pair on the token, helps nobody.
#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/asn1/asn1_node.h"
#include "foundation/owned_bytes.h"
#include "foundation/result.h"
#include "foundation/secret_bytes.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "provider/operation_sequence.h"
#include "tokenapi/api/key_api.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "KeyHandle"

namespace merro::provider {
namespace {

constexpr DWORD kRsa1024Bits = 1024;
constexpr DWORD kRsa2048Bits = 2048;

// The token's key-import command carries at most 255 data bytes: the point
// byte 0x04 and the SM2 material after it.
constexpr DWORD kSm2MaterialMax = 254;
constexpr BYTE kSm2PointByte = 0x04;

// The RSA-2048 envelope: five elements, the fourth the wrapped key block,
// the fifth the wrapped pair (modulus, private exponent, public exponent).
constexpr size_t kEnvelopeElements = 5;
constexpr size_t kWrappedKeyElement = 3;
constexpr size_t kWrappedPairElement = 4;

// A plain RSA-1024 blob body: the RSAPUBKEY (magic, bit length, public
// exponent; little-endian DWORDs), then nine half-modulus parts.
constexpr DWORD kRsaPubKeyLen = 12;
constexpr DWORD kRsaPubKeyExponentOffset = 8;
constexpr DWORD kRsa1024PartsLen = 9 * (kRsa1024Bits / 16);  // 576
// The token keeps 65537 as the public exponent of every RSA key it holds.
constexpr DWORD kTokenPublicExponent = 65537;

DWORD ReadLittleEndian32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

// A copy of the element's content octets; empty when memory ran out.
merro::OwnedBytes CopyContent(const ASN1Node& node) {
  return merro::OwnedBytes::CopyOf(node.m_pbyMemory + node.m_ullContentOffset,
                                   node.m_dwContentLength);
}

// The end of every import: the token's write (its result folded, `step`
// naming it in a failure line), then the container object re-read from the
// token. A failed re-read leaves the key on the token.
HRESULT FinishImport(const char* function, Container* pContainer, HRESULT hWriteResult,
                     const wchar_t* step) {
  MR_TRACE_UNDER(function);
  HRESULT hResult = HRESULT_FROM_TOKEN_ERROR(hWriteResult);
  if (hResult != S_OK) {
    MR_LOG_FAIL(step, L"hResult != S_OK", hResult);
    return hResult;
  }
  hResult = pContainer->SynToContainer();
  MR_FAIL_IF(FAILED(hResult), L"SynToContainer", hResult);
  MR_LOG_STEP(step);
  return S_OK;
}

}  // namespace

HRESULT GetRSAPriKeyInfoFormASN1(const BYTE* pASN1PrivateKey, DWORD dwASN1PrivateKeySize,
                                 BYTE** ppbyEncrySymKey, DWORD* pdwEncrySymKeySize,
                                 BYTE** ppbyEncryAsymKey, DWORD* pdwEncryAsymKeySize) {
  MR_TRACE("GetRSAPriKeyInfoFormASN1");
  MR_FAIL_IF(NULL == pASN1PrivateKey, L"Check pASN1PrivateKey", E_INVALIDARG);
  MR_FAIL_IF(dwASN1PrivateKeySize <= 0, L"Check dwASN1PrivateKey", E_INVALIDARG);
  // The decoder measures its input in an int.
  MR_FAIL_IF(dwASN1PrivateKeySize > static_cast<DWORD>(INT_MAX), L"Check dwASN1PrivateKey",
             E_INVALIDARG);
  MR_FAIL_IF(NULL == ppbyEncrySymKey, L"Check ppbyEncrySymKey", E_INVALIDARG);
  MR_FAIL_IF(NULL == pdwEncrySymKeySize, L"Check pdwEncrySymKeySize", E_INVALIDARG);
  MR_FAIL_IF(NULL == ppbyEncryAsymKey, L"Check ppbyEncryAsymKey", E_INVALIDARG);
  MR_FAIL_IF(NULL == pdwEncryAsymKeySize, L"Check pdwEncryAsymKeySize", E_INVALIDARG);

  std::unique_ptr<ASN1Node> pAsnNode;
  const int nRet = DecodeASN1FromMemory(pASN1PrivateKey, static_cast<int>(dwASN1PrivateKeySize),
                                        &pAsnNode);
  const HRESULT hResult = nRet != 0 ? HRESULT_FROM_TOKEN_ERROR(nRet) : (pAsnNode ? S_OK : E_FAIL);
  MR_FAIL_IF(hResult != S_OK, L"DecodeASN1MemoryEx for encrypt private key", hResult);
  MR_FAIL_IF(pAsnNode->m_vtrChildren.size() != kEnvelopeElements,
             L"Check encrypted private key struct", E_FAIL);

  merro::OwnedBytes pbyEncrySymKey = CopyContent(*pAsnNode->m_vtrChildren[kWrappedKeyElement]);
  MR_FAIL_IF(!pbyEncrySymKey, L"New buffer", E_OUTOFMEMORY);
  merro::OwnedBytes pbyEncryAsymKey = CopyContent(*pAsnNode->m_vtrChildren[kWrappedPairElement]);
  MR_FAIL_IF(!pbyEncryAsymKey, L"New buffer", E_OUTOFMEMORY);

  pbyEncrySymKey.HandOut(ppbyEncrySymKey, pdwEncrySymKeySize);
  pbyEncryAsymKey.HandOut(ppbyEncryAsymKey, pdwEncryAsymKeySize);
  return S_OK;
}

HRESULT KeyHandle::ImportPrivateKey(const BYTE* pbyPrivateKey, DWORD dwLength,
                                    DWORD dwModuluBitLen) {
  MR_TRACE("KeyHandle::ImportPrivateKey");
  MR_LOG_STEP(L"Check stPrivateKey dwEncryptedPrivateKeyLen");
  MR_FAIL_IF(NULL == pbyPrivateKey, L"Check stPrivateKey pEncryptedPrivateKey", E_INVALIDARG);
  MR_FAIL_IF(CALG_SM2_KEYX != m_uAlgID && CALG_RSA_KEYX != m_uAlgID,
             L"Check the algid is KEY_EXCHANGE", NTE_NOT_SUPPORTED);
  // Only what the token can take: an SM2 pair of 256 bits, an RSA-1024
  // plain body, an RSA-2048 envelope. Other lengths would be refused by the
  // device object only after the PIN had been asked.
  const BOOL bImportableLength =
      (CALG_SM2_KEYX == m_uAlgID) ? (dwModuluBitLen == MR_SM2_KEY_BITS)
                                  : (dwModuluBitLen == kRsa1024Bits || dwModuluBitLen == kRsa2048Bits);
  MR_FAIL_IF(!bImportableLength, L"Check dwModuluBitLen", E_INVALIDARG);
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_FAIL);
  MR_FAIL_IF(m_pContainer->IsEphemeral(), L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle", E_FAIL);
  HRESULT hResult = g_pDeviceHandle->CheckContainerExist(m_pContainer->m_szDeviceName,
                                                        m_pContainer->m_szContainerName);
  MR_FAIL_IF(hResult != S_OK, L"CheckContainerExist", NTE_BAD_KEY);

  if (CALG_SM2_KEYX == m_uAlgID) {
    hResult = ImportSM2PrivateKey(pbyPrivateKey, dwLength);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"ImportSM2PrivateKey", L"FAILED(hResult)", hResult);
      return hResult;
    }
  } else if (dwModuluBitLen != kRsa1024Bits) {
    hResult = ImportRSAEncryPrivateKey(pbyPrivateKey, dwLength, dwModuluBitLen);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"ImportRSAEncryPrivateKey", L"FAILED(hResult)", hResult);
      return hResult;
    }
    m_dwModulusBits = dwModuluBitLen;
  } else {
    hResult = ImportRSA1024PrivateKey(pbyPrivateKey, dwLength);
    if (FAILED(hResult)) {
      MR_LOG_FAIL(L"ImportRSA1024PrivateKey", L"FAILED(hResult)", hResult);
      return hResult;
    }
    m_dwModulusBits = kRsa1024Bits;
  }
  MR_LOG_STEP(L"ImportPrivateKey");
  return S_OK;
}

HRESULT KeyHandle::ImportSM2PrivateKey(const BYTE* pbySM2PrivateKey, DWORD dwLength) {
  MR_TRACE("KeyHandle::ImportSM2PrivateKey");
  MR_FAIL_IF(NULL == pbySM2PrivateKey, L"Check stPrivateKey pEncryptedPrivateKey", E_INVALIDARG);
  MR_FAIL_IF(CALG_SM2_KEYX != m_uAlgID, L"Check the algid is CALG_SM2_KEYX", NTE_NOT_SUPPORTED);
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_FAIL);
  MR_FAIL_IF(m_pContainer->IsEphemeral(), L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle is not NULL", E_FAIL);
  // The whole key must travel in one command; longer material is refused
  // here, not cut, and before the user is asked for the PIN.
  MR_FAIL_IF(dwLength > kSm2MaterialMax, L"Check stPrivateKey dwEncryptedPrivateKeyLen",
             E_INVALIDARG);

  // The verified PIN serves the commands below only under the token's
  // sequence lock, held until this scope ends.
  OperationSequence sequence;
  HRESULT hResult = CheckUserPIN(FALSE, FALSE, &sequence);
  MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);

  BYTE abyKey[1 + kSm2MaterialMax] = {};
  const merro::WipeOnExit wipeKey(abyKey);
  abyKey[0] = kSm2PointByte;
  std::memcpy(abyKey + 1, pbySM2PrivateKey, dwLength);

  hResult = g_pDeviceHandle->ImportEncryptedPrivateKey(
      m_pContainer->m_szDeviceName, m_pContainer->m_szContainerName, m_dwKeySpec,
      Container::KEYSETALGORITHM_SM2, MR_SM2_KEY_BITS, nullptr, 0, abyKey, dwLength + 1);
  return FinishImport(MR_TRACE_FUNCTION, m_pContainer, hResult,
                      L"WriteDeviceObject SM2 private key");
}

HRESULT KeyHandle::ImportRSAEncryPrivateKey(const BYTE* pbyEncryPrivateKey, DWORD dwLength,
                                            DWORD dwKeyBits) {
  MR_TRACE("KeyHandle::ImportRSAEncryPrivateKey");
  MR_FAIL_IF(NULL == pbyEncryPrivateKey, L"Check stPrivateKey pEncryptedPrivateKey", E_INVALIDARG);
  MR_FAIL_IF(CALG_RSA_KEYX != m_uAlgID, L"Check the algid is CALG_RSA_KEYX", NTE_NOT_SUPPORTED);
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_FAIL);
  MR_FAIL_IF(m_pContainer->IsEphemeral(), L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle is not NULL", E_FAIL);
  // The envelope's wrapped pair is an RSA-2048 pair.
  MR_FAIL_IF(dwKeyBits != kRsa2048Bits, L"Check dwKeyBits", E_INVALIDARG);

  merro::SecretBytes symKey;
  merro::SecretBytes asymKey;
  HRESULT hResult = GetRSAPriKeyInfoFormASN1(pbyEncryPrivateKey, dwLength, symKey.Out(),
                                             symKey.Length(), asymKey.Out(), asymKey.Length());
  MR_FAIL_IF(FAILED(hResult), L"GetRSAPriKeyInfoFormASN1", hResult);
  // The token reads a 128-byte key block and a 640-byte pair whatever the
  // elements hold: other lengths are refused before the PIN is asked.
  MR_FAIL_IF(symKey.size() != MR_WRAPPED_RSA_SYMKEY_LEN, L"Check the encrypted symmetric key length",
             E_INVALIDARG);
  MR_FAIL_IF(asymKey.size() != MR_WRAPPED_RSA_KEYPAIR_LEN, L"Check the encrypted private key length",
             E_INVALIDARG);

  // The verified PIN serves the commands below only under the token's
  // sequence lock, held until this scope ends.
  OperationSequence sequence;
  hResult = CheckUserPIN(FALSE, FALSE, &sequence);
  MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);

  hResult = g_pDeviceHandle->ImportEncryptedPrivateKey(
      m_pContainer->m_szDeviceName, m_pContainer->m_szContainerName, m_dwKeySpec,
      Container::KEYSETALGORITHM_RSA, dwKeyBits, symKey.data(), symKey.size(), asymKey.data(),
      asymKey.size());
  return FinishImport(MR_TRACE_FUNCTION, m_pContainer, hResult,
                      L"WriteDeviceObject rsa 2048 private key");
}

HRESULT KeyHandle::ImportRSA1024PrivateKey(const BYTE* pbyRSA1024PrivateKey, DWORD dwLength) {
  MR_TRACE("KeyHandle::ImportRSA1024PrivateKey");
  MR_FAIL_IF(NULL == pbyRSA1024PrivateKey, L"Check stPrivateKey pEncryptedPrivateKey",
             E_INVALIDARG);
  MR_FAIL_IF(m_pContainer == NULL, L"Check m_pContainer", E_FAIL);
  MR_FAIL_IF(m_pContainer->IsEphemeral(), L"Check is Ephemeral", NTE_BAD_PROV_TYPE);
  MR_FAIL_IF(CALG_RSA_KEYX != m_uAlgID, L"Check the algid is CALG_RSA_KEYX", NTE_NOT_SUPPORTED);
  MR_FAIL_IF(kRsa1024Bits != m_dwModulusBits, L"Check m_dwModulusBits != 1024", NTE_BAD_KEY);
  MR_FAIL_IF(g_pDeviceHandle == NULL, L"Check g_pDeviceHandle is not NULL", E_FAIL);
  MR_FAIL_IF(dwLength < kRsaPubKeyLen, L"Check stPrivateKey dwEncryptedPrivateKeyLen",
             E_INVALIDARG);
  // An RSA-1024 body exactly, and the exponent the token will keep: any
  // other pair would be written with a public half that does not match it.
  MR_FAIL_IF(dwLength != kRsaPubKeyLen + kRsa1024PartsLen, L"Check the RSA-1024 private key length",
             NTE_BAD_DATA);
  const DWORD dwPublicExponent =
      ReadLittleEndian32(pbyRSA1024PrivateKey + kRsaPubKeyExponentOffset);
  MR_FAIL_IF(dwPublicExponent != kTokenPublicExponent, L"Check the RSA public exponent",
             NTE_BAD_DATA);

  RSA_KEY stRSAKey{};
  const merro::WipeOnExit wipeKey(stRSAKey);
  HRESULT hResult = ConstructRSAPrivateKeyFromPrivateKeyBlob(
      pbyRSA1024PrivateKey + kRsaPubKeyLen, dwLength - kRsaPubKeyLen, &stRSAKey);
  MR_FAIL_IF(FAILED(hResult), L"ConstructRSAPrivateKeyFromPrivateKeyBlob", hResult);

  // The verified PIN serves the commands below only under the token's
  // sequence lock, held until this scope ends.
  OperationSequence sequence;
  hResult = CheckUserPIN(FALSE, FALSE, &sequence);
  MR_FAIL_IF(hResult != S_OK, L"CheckUserPIN", hResult);

  hResult = g_pDeviceHandle->ImportRSA1024PrivateKey(
      m_pContainer->m_szDeviceName, m_pContainer->m_szContainerName, m_dwKeySpec, stRSAKey);
  return FinishImport(MR_TRACE_FUNCTION, m_pContainer, hResult,
                      L"WriteDeviceObject rsa 1024 private key");
}

}  // namespace merro::provider
