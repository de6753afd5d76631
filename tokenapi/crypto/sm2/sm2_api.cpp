#include "tokenapi/crypto/sm2/sm2_api.h"

#include <openssl/crypto.h>

#include <algorithm>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/contexts/hash.h"
#include "tokenapi/crypto/sm2/sm2_cipher.h"
#include "tokenapi/crypto/sm2/sm2_keygen.h"
#include "tokenapi/crypto/sm2/sm2_sign.h"
#include "tokenapi/crypto/sm2/sm2_z.h"

namespace merro::crypto {
namespace {

constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kBadKey = static_cast<HRESULT>(0x80090003);
constexpr HRESULT kBadSignature = static_cast<HRESULT>(0x80090006);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8009000E);
constexpr HRESULT kBadKeyValue = static_cast<HRESULT>(0x80090015);
constexpr HRESULT kZFailed = static_cast<HRESULT>(0x80090020);
constexpr HRESULT kHashInitFailed = static_cast<HRESULT>(0x80070206);
constexpr HRESULT kEncryptFailed = static_cast<HRESULT>(0x80071770);

}  // namespace

HRESULT SM2_GenKey(BYTE* pKeyPair) {
  MR_TRACE("SM2_GenKey");
  MR_FAIL_IF(pKeyPair == nullptr, L"CHECK pKeyPair", kInvalidArg);
  BYTE pair[kSm2KeyPairBytes];
  const int ok = SM2_generate_keypair(pair + 2 * kSm2FieldBytes, pair, pair + kSm2FieldBytes);
  if (ok) {
    std::copy(pair, pair + sizeof(pair), pKeyPair);
  }
  OPENSSL_cleanse(pair, sizeof(pair));
  MR_FAIL_IF(!ok, L"_SM2_generate_keypair", kBadKey);
  MR_LOG_STEP(L"_SM2_generate_keypair");
  return 0;
}

HRESULT SM2_GetZVal(const BYTE* pPubKey, BYTE* pZ) {
  MR_TRACE("SM2_GetZVal");
  MR_FAIL_IF(pPubKey == nullptr, L"CHECK pPubKey", kInvalidArg);
  MR_FAIL_IF(pZ == nullptr, L"CHECK pZ", kInvalidArg);
  const int ok = SM2_CalculateDefaultZValue(pPubKey, pPubKey + kSm2FieldBytes, pZ);
  MR_FAIL_IF(!ok, L"_SM2_CalculateDefaultZValue", kZFailed);
  MR_LOG_STEP(L"_SM2_CalculateDefaultZValue");
  return 0;
}

HRESULT SM2_Verify(const BYTE* pPubKey, const BYTE* pDigest, const BYTE* pRawSignatureRS,
                   DWORD nRawSignatureRSSize) {
  MR_TRACE("SM2_Verify");
  MR_FAIL_IF(pRawSignatureRS == nullptr, L"CHECK pRawSignatureRS", kInvalidArg);
  MR_FAIL_IF(nRawSignatureRSSize != SM2_SIGNATURE_RS_SIZE, L"CHECK nRawSignatureRSSize",
             kInvalidArg);
  MR_FAIL_IF(pPubKey == nullptr, L"CHECK pPubKey", kInvalidArg);
  MR_FAIL_IF(pDigest == nullptr, L"CHECK pDigest", kInvalidArg);
  const int ok = SM2_verify_ex(pRawSignatureRS, pRawSignatureRS + kSm2FieldBytes, pPubKey,
                               pPubKey + kSm2FieldBytes, pDigest);
  MR_FAIL_IF(!ok, L"_SM2_verify_ex", kBadSignature);
  MR_LOG_STEP(L"_SM2_verify_ex");
  return 0;
}

HRESULT SM2_Verify(const BYTE* pPubKey, const BYTE* pData, DWORD nDataLen,
                   const BYTE* pRawSignatureRS, DWORD nRawSignatureRSSize) {
  MR_TRACE("SM2_Verify");
  MR_FAIL_IF(pRawSignatureRS == nullptr, L"CHECK pRawSignatureRS", kInvalidArg);
  MR_FAIL_IF(nRawSignatureRSSize != SM2_SIGNATURE_RS_SIZE, L"CHECK nRawSignatureRSSize",
             kInvalidArg);
  MR_FAIL_IF(pData == nullptr && nDataLen != 0, L"CHECK pData", kInvalidArg);
  BYTE z[kSm2ZBytes];
  const HRESULT hr = HRESULT_FROM_TOKEN_ERROR(SM2_GetZVal(pPubKey, z));
  MR_FAIL_IF(hr != 0, L"SM2_GetZVal", hr);
  // e = SM3(Z || M), through a hash context of type SM3.
  HASH_CTX* hash = nullptr;
  MR_FAIL_IF(Hash_Init(&hash, MR_ALG_SM3) != 0, L"Hash_Init", kHashInitFailed);
  HRESULT hashResult = Hash_Update(hash, z, sizeof(z));
  if (hashResult == 0 && nDataLen != 0) {
    hashResult = Hash_Update(hash, pData, nDataLen);
  }
  if (hashResult != 0) {
    Hash_Free(hash);
    MR_LOG_FAIL(L"Hash_Update", L"hashResult != 0", hashResult);
    return hashResult;
  }
  BYTE e[kSm2DigestBytes];
  DWORD eLen = sizeof(e);
  hashResult = Hash_Final(hash, e, &eLen);  // frees the context
  MR_FAIL_IF(hashResult != 0, L"Hash_Final", hashResult);
  return HRESULT_FROM_TOKEN_ERROR(SM2_Verify(pPubKey, e, pRawSignatureRS, nRawSignatureRSSize));
}

HRESULT SM2_Encrypt(const BYTE* pPubKey, const BYTE* pIn, DWORD nInLen, BYTE* pOut,
                    DWORD* pOutLen) {
  MR_TRACE("SM2_Encrypt");
  MR_FAIL_IF(pPubKey == nullptr, L"CHECK pPubKey", kInvalidArg);
  MR_FAIL_IF(pIn == nullptr, L"CHECK pIn", kInvalidArg);
  // Nothing to encrypt has no ciphertext (its key stream would be empty), and
  // the output length must fit a DWORD.
  MR_FAIL_IF(nInLen == 0 || nInLen > 0xFFFFFFFFu - kSm2CipherOverhead, L"CHECK nInLen",
             kInvalidArg);
  MR_FAIL_IF(pOut == nullptr, L"CHECK pOut", kInvalidArg);
  MR_FAIL_IF(pOutLen == nullptr, L"CHECK pOutLen", kInvalidArg);
  BnPtr x(BN_new());
  MR_FAIL_IF(!x, L"BN_new(X)", kNoMemory);
  BnPtr y(BN_new());
  MR_FAIL_IF(!y, L"BN_new(Y)", kNoMemory);
  MR_FAIL_IF(!SM2_Bytes2BN(pPubKey, x.get()), L"_SM2_Bytes2BN(X)", kBadKeyValue);
  MR_FAIL_IF(!SM2_Bytes2BN(pPubKey + kSm2FieldBytes, y.get()), L"_SM2_Bytes2BN(Y)",
             kBadKeyValue);
  const size_t outLen = static_cast<size_t>(nInLen) + kSm2CipherOverhead;
  MR_FAIL_IF(!SM2_encrypt(pIn, nInLen, x.get(), y.get(), pOut, outLen), L"_SM2_encrypt",
             kEncryptFailed);
  *pOutLen = static_cast<DWORD>(outLen);
  MR_LOG_STEP(L"_SM2_encrypt");
  return 0;
}

}  // namespace merro::crypto
