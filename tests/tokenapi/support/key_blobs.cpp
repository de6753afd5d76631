#include "tests/tokenapi/support/key_blobs.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>

#include "tokenapi/crypto/sm2/sm2_api.h"

namespace merro::testing {
namespace {

constexpr WORD kTokenKeyFid = 0x0012;
constexpr size_t kWrappedKeyLen = 113;
constexpr size_t kKeyBlockLen = 128;
constexpr size_t kRsaPairLen = 640;
constexpr size_t kRsaLen = 256;

// x || y || d of an SM2 key pair.
std::vector<BYTE> Sm2Plain(const SM2_KEY& key) {
  std::vector<BYTE> plain(key.x, key.x + 32);
  plain.insert(plain.end(), key.y, key.y + 32);
  plain.insert(plain.end(), key.d, key.d + 32);
  return plain;
}

std::vector<BYTE> Sm2Encrypt(const BYTE tokenPublic[64], const std::vector<BYTE>& plain) {
  std::vector<BYTE> out(plain.size() + 97);
  DWORD len = 0;
  EXPECT_EQ(merro::crypto::SM2_Encrypt(tokenPublic, plain.data(), static_cast<DWORD>(plain.size()),
                                       out.data(), &len), 0);
  EXPECT_EQ(len, out.size());
  return out;
}

}  // namespace

HRESULT TokenWrapPublicKey(DEV_CTX* pDevCtx, BYTE xy[64]) {
  return mr_ExportPublicKey(pDevCtx, MR_ALG_SM2, kTokenKeyFid, xy);
}

std::vector<BYTE> WrapKey(const BYTE tokenPublic[64], const BYTE sm4Key[16]) {
  std::vector<BYTE> ct = Sm2Encrypt(tokenPublic, std::vector<BYTE>(sm4Key, sm4Key + 16));
  EXPECT_EQ(ct.size(), kWrappedKeyLen);
  return ct;
}

std::vector<BYTE> Sm4CbcEncrypt(const BYTE key[16], const std::vector<BYTE>& plain) {
  std::vector<BYTE> out(plain.size());
  const BYTE iv[16] = {};
  const std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(),
                                                                      &EVP_CIPHER_CTX_free);
  int len = 0;
  EXPECT_EQ(EVP_EncryptInit_ex2(ctx.get(), EVP_sm4_cbc(), key, iv, nullptr), 1);
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), out.data(), &len, plain.data(), static_cast<int>(plain.size())), 1);
  EXPECT_EQ(static_cast<size_t>(len), plain.size());
  return out;
}

std::vector<BYTE> WrappedSm2Pair(const BYTE tokenPublic[64], const BYTE sm4Key[16], const SM2_KEY& key) {
  std::vector<BYTE> blob = WrapKey(tokenPublic, sm4Key);
  const std::vector<BYTE> sealed = Sm4CbcEncrypt(sm4Key, Sm2Plain(key));
  blob.insert(blob.end(), sealed.begin(), sealed.end());
  return blob;
}

std::vector<BYTE> EncryptedSm2Pair(const BYTE tokenPublic[64], const SM2_KEY& key) {
  return Sm2Encrypt(tokenPublic, Sm2Plain(key));
}

WrappedRsaPair WrapRsaPair(const BYTE tokenPublic[64], const BYTE sm4Key[16], const RSA_KEY& key) {
  WrappedRsaPair out;
  out.keyBlock = WrapKey(tokenPublic, sm4Key);
  out.keyBlock.resize(kKeyBlockLen, 0x00);
  std::vector<BYTE> pair(key.n, key.n + kRsaLen);
  pair.insert(pair.end(), key.d, key.d + kRsaLen);
  pair.resize(2 * kRsaLen + 4 - key.eLen, 0x00);  // e right-aligned in 4 bytes
  pair.insert(pair.end(), key.e, key.e + key.eLen);
  pair.resize(kRsaPairLen, 0x00);
  out.pair = Sm4CbcEncrypt(sm4Key, pair);
  return out;
}

}  // namespace merro::testing
