#include "tokenapi/crypto/rsa/rsa_public.h"

#include <openssl/crypto.h>

#include <cstring>
#include <memory>

#include "foundation/trace/trace.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/bytes.h"
#include "tokenapi/crypto/common/result_codes.h"
#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"

namespace merro::crypto {

namespace {

// Limits of the raw operation, as OpenSSL's RSA public operations set them.
constexpr int kMaxModulusBits = 16384;
constexpr int kSmallModulusBits = 3072;
constexpr int kSmallExponentBits = 64;

using BnMontPtr = std::unique_ptr<BN_MONT_CTX, OpenSslDeleter<BN_MONT_CTX_free>>;

// Ends a BN_CTX frame when the scope ends.
class BnCtxFrame {
 public:
  explicit BnCtxFrame(BN_CTX* ctx) : m_ctx(ctx) { BN_CTX_start(ctx); }
  ~BnCtxFrame() { BN_CTX_end(m_ctx); }
  BnCtxFrame(const BnCtxFrame&) = delete;
  BnCtxFrame& operator=(const BnCtxFrame&) = delete;

 private:
  BN_CTX* m_ctx;
};

// A key whose lengths fit the record.
bool KeyFits(const RSA_KEY& key) {
  return key.nLen != 0 && key.nLen <= MR_RSA_MAX_BYTES && key.eLen != 0 &&
         key.eLen <= MR_RSA_MAX_BYTES;
}

}  // namespace

int RSA_eay_public_decrypt(DWORD inLen, const BYTE* in, BYTE* out, const BIGNUM* n,
                           const BIGNUM* e) {
  MR_TRACE("RSA_eay_public_decrypt");
  if (n == nullptr || e == nullptr || out == nullptr || (in == nullptr && inLen != 0)) {
    return -1;
  }
  if (BN_num_bits(n) > kMaxModulusBits || BN_ucmp(n, e) <= 0 ||
      (BN_num_bits(n) > kSmallModulusBits && BN_num_bits(e) > kSmallExponentBits)) {
    return -1;
  }
  const BnCtxPtr ctx(BN_CTX_new());
  if (!ctx) {
    return -1;
  }
  const BnCtxFrame frame(ctx.get());
  BIGNUM* x = BN_CTX_get(ctx.get());
  BIGNUM* y = BN_CTX_get(ctx.get());
  const int k = BN_num_bytes(n);
  if (y == nullptr || inLen > static_cast<DWORD>(k) ||
      BN_bin2bn(in, static_cast<int>(inLen), x) == nullptr || BN_ucmp(x, n) >= 0) {
    return -1;
  }
  const BnMontPtr mont(BN_MONT_CTX_new());
  if (!mont || BN_MONT_CTX_set(mont.get(), n, ctx.get()) != 1 ||
      BN_mod_exp_mont(y, x, e, n, ctx.get(), mont.get()) != 1 ||
      BN_bn2binpad(y, out, k) != k) {
    return -1;
  }
  return k;
}

HRESULT RSA_PublicEncrypt(const BYTE* in, DWORD inLen, BYTE* out, DWORD* pOutLen,
                          const RSA_KEY* key) {
  MR_TRACE("RSA_PublicEncrypt");
  MR_FAIL_IF(key == nullptr, L"CHECK pKey", kResultInvalidArg);
  MR_FAIL_IF(out == nullptr || pOutLen == nullptr, L"CHECK pOutData", kResultInvalidArg);
  MR_FAIL_IF(!KeyFits(*key), L"CHECK nLen", kResultBadKey);
  BnPtr n(BN_bin2bn(key->n, static_cast<int>(key->nLen), nullptr));
  BnPtr e(BN_bin2bn(key->e, static_cast<int>(key->eLen), nullptr));
  MR_FAIL_IF(!n || !e, L"RSA_create", kResultBadKey);
  MR_LOG_STEP(L"RSA_create");
  const int len = RSA_eay_public_decrypt(inLen, in, out, n.get(), e.get());
  MR_FAIL_IF(len < 0, L"RSA_eay_public_decrypt", kResultRawOpRefused);
  *pOutLen = static_cast<DWORD>(len);
  MR_LOG_STEP(L"RSA_eay_public_decrypt");
  return 1;
}

HRESULT RSA_Encrypt(const RSA_KEY* key, const BYTE* plain, DWORD plainLen, BYTE* out,
                    DWORD* pOutLen, DWORD padding) {
  MR_TRACE("RSA_Encrypt");
  MR_FAIL_IF(key == nullptr, L"CHECK pKey", kResultInvalidArg);
  MR_FAIL_IF(plain == nullptr && plainLen != 0, L"CHECK pPlainData", kResultInvalidArg);
  MR_FAIL_IF(out == nullptr || pOutLen == nullptr, L"CHECK pOutData", kResultInvalidArg);
  MR_FAIL_IF(!KeyFits(*key), L"CHECK nLen", kResultBadKey);
  HRESULT hr = 0;
  if (padding == MR_RSA_PKCS1_PADDING) {
    const DWORD k = key->nLen;
    MR_FAIL_IF(k < kPkcs1Overhead || plainLen > k - kPkcs1Overhead, L"CHECK nPlainDataSize",
               kResultBadLength);
    MR_LOG_STEP(L"CHECK nPlainDataSize");
    BYTE em[MR_RSA_MAX_BYTES] = {};
    hr = BuildPkcs1EncryptionBlock(plain, plainLen, em, k);
    if (hr != S_OK) {
      MR_LOG_FAIL(L"GenSoftRandom", L"GenSoftRandom != 0", hr);
      return hr;
    }
    hr = RSA_PublicEncrypt(em, k, out, pOutLen, key);
    SecureWipe(em, sizeof(em));
  } else {
    hr = RSA_PublicEncrypt(plain, plainLen, out, pOutLen, key);
  }
  MR_FAIL_IF(hr != 1, L"RSA_PublicEncrypt", kResultPublicOpFailed);
  MR_LOG_STEP(L"RSA_PublicEncrypt");
  return S_OK;
}

HRESULT RSA_Verify(const RSA_KEY* key, DWORD hashType, const BYTE* digest, const BYTE* signature,
                   DWORD signatureLen) {
  MR_TRACE("RSA_Verify");
  MR_FAIL_IF(key == nullptr, L"CHECK pKey", kResultInvalidArg);
  MR_FAIL_IF(digest == nullptr, L"CHECK pHashData", kResultInvalidArg);
  MR_FAIL_IF(signature == nullptr, L"CHECK pSignature", kResultInvalidArg);
  MR_FAIL_IF(!KeyFits(*key), L"CHECK nLen", kResultBadKey);
  // Exactly the modulus length (RFC 8017, 8.2.2): a shorter form without
  // the leading zero bytes would be a second encoding of one signature.
  MR_FAIL_IF(signatureLen != key->nLen, L"CHECK nSignatureLen", kResultSignatureMismatch);
  BYTE raw[MR_RSA_MAX_BYTES] = {};
  DWORD m = 0;
  MR_FAIL_IF(RSA_PublicEncrypt(signature, signatureLen, raw, &m, key) != 1, L"RSA_PublicEncrypt",
             kResultPublicOpFailed);

  const Pkcs1DigestInfo* info = FindPkcs1DigestInfo(hashType);
  MR_FAIL_IF(info == nullptr, L"CHECK nHashAlgID", kResultBadAlgorithm);
  const DWORD k = key->nLen;
  BYTE em[MR_RSA_MAX_BYTES] = {};
  MR_FAIL_IF(BuildPkcs1SignatureBlock(*info, digest, em, k) != S_OK, L"CHECK nLen", kResultBadKey);
  // The block must be as long as the key says and equal the expected one.
  MR_FAIL_IF(m != k || CRYPTO_memcmp(em, raw, k) != 0, L"COMPARE pRawHashData",
             kResultSignatureMismatch);
  MR_LOG_STEP(L"COMPARE pRawHashData");
  return S_OK;
}

}  // namespace merro::crypto
