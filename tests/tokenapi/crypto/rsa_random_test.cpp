// RSA public operations against OpenSSL's RSA (keys, PKCS#1 v1.5 signatures
// and decryption), their limits and codes, and the software random bytes.
#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <cstring>
#include <map>

#include "tests/tokenapi/crypto/evp_oracle.h"
#include "tests/tokenapi/crypto/sym_driver.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/common/result_codes.h"
#include "tokenapi/crypto/random/soft_random.h"
#include "tokenapi/crypto/rsa/rsa_public.h"

namespace merro::crypto::test {
namespace {

Bytes BnBytes(const BIGNUM* bn) {
  Bytes b(static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, b.data());
  return b;
}

// A generated key pair and its public half as an RSA_KEY record.
struct KeyPair {
  EvpPkeyPtr pkey;
  RSA_KEY pub{};
};

const KeyPair& Key(int bits) {
  static std::map<int, KeyPair> keys;
  KeyPair& k = keys[bits];
  if (!k.pkey) {
    k.pkey.reset(EVP_RSA_gen(static_cast<unsigned>(bits)));
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    EVP_PKEY_get_bn_param(k.pkey.get(), OSSL_PKEY_PARAM_RSA_N, &n);
    EVP_PKEY_get_bn_param(k.pkey.get(), OSSL_PKEY_PARAM_RSA_E, &e);
    const Bytes nb = BnBytes(n);
    const Bytes eb = BnBytes(e);
    std::memcpy(k.pub.n, nb.data(), nb.size());
    k.pub.nLen = static_cast<DWORD>(nb.size());
    std::memcpy(k.pub.e, eb.data(), eb.size());
    k.pub.eLen = static_cast<DWORD>(eb.size());
    BN_free(n);
    BN_free(e);
  }
  return k;
}

// An OpenSSL PKCS#1 v1.5 signature over a digest (md null: the raw 36-byte
// SHA-1 + MD5 form with no DigestInfo).
Bytes Sign(const KeyPair& k, const EVP_MD* md, const Bytes& digest) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(k.pkey.get(), nullptr));
  EXPECT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING));
  if (md != nullptr) {
    EXPECT_EQ(1, EVP_PKEY_CTX_set_signature_md(ctx.get(), md));
  }
  size_t len = 0;
  EXPECT_EQ(1, EVP_PKEY_sign(ctx.get(), nullptr, &len, digest.data(), digest.size()));
  Bytes sig(len);
  EXPECT_EQ(1, EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()));
  sig.resize(len);
  return sig;
}

std::optional<Bytes> Decrypt(const KeyPair& k, const Bytes& in) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(k.pkey.get(), nullptr));
  size_t len = 512;
  Bytes out(len);
  if (EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_decrypt(ctx.get(), out.data(), &len, in.data(), in.size()) != 1) {
    return std::nullopt;
  }
  out.resize(len);
  return out;
}

class RsaBits : public ::testing::TestWithParam<int> {};

TEST_P(RsaBits, VerifyAcceptsOpenSslSignatures) {
  const KeyPair& k = Key(GetParam());
  const Bytes msg = FromText("signed message");
  const struct {
    BYTE type;
    const EVP_MD* md;
  } kinds[] = {{MR_ALG_MD5, EVP_md5()},
               {MR_ALG_SHA1, EVP_sha1()},
               {MR_ALG_SHA256, EVP_sha256()},
               {MR_ALG_SHA512, EVP_sha512()},
               {MR_ALG_SHA1_MD5, nullptr}};
  for (const auto& kind : kinds) {
    const Bytes digest = OracleDigest(kind.type, msg);
    const Bytes sig = Sign(k, kind.md, digest);
    EXPECT_EQ(0, RSA_Verify(&k.pub, kind.type, digest.data(), sig.data(), static_cast<DWORD>(sig.size())))
        << int{kind.type};
    Bytes other = digest;
    other[0] ^= 1;
    EXPECT_EQ(kResultSignatureMismatch, RSA_Verify(&k.pub, kind.type, other.data(), sig.data(), static_cast<DWORD>(sig.size())));
    Bytes badSig = sig;
    badSig[badSig.size() / 2] ^= 1;
    EXPECT_EQ(kResultSignatureMismatch, RSA_Verify(&k.pub, kind.type, digest.data(), badSig.data(), static_cast<DWORD>(badSig.size())));
  }
  // A SHA-256 signature checked as SHA-1, and a type without a DigestInfo.
  const Bytes d256 = OracleDigest(MR_ALG_SHA256, msg);
  const Bytes sig = Sign(k, EVP_sha256(), d256);
  EXPECT_EQ(kResultSignatureMismatch, RSA_Verify(&k.pub, MR_ALG_SHA1, d256.data(), sig.data(), static_cast<DWORD>(sig.size())));
  EXPECT_EQ(kResultBadAlgorithm, RSA_Verify(&k.pub, MR_ALG_SM3, d256.data(), sig.data(), static_cast<DWORD>(sig.size())));
}

// A signature is exactly as long as the modulus (RFC 8017, 8.2.2): one whose
// value has a leading zero byte is refused without that byte, as OpenSSL
// refuses it, and with an extra zero byte in front.
TEST(RsaVerify, WantsExactlyTheModulusLength) {
  const KeyPair& k = Key(1024);
  Bytes digest, sig;
  for (int i = 0; i < 8192 && (sig.empty() || sig[0] != 0); ++i) {
    digest = OracleDigest(MR_ALG_SHA1, FromText("message " + std::to_string(i)));
    sig = Sign(k, EVP_sha1(), digest);
  }
  ASSERT_EQ(sig.size(), 128u);
  ASSERT_EQ(sig[0], 0) << "no signature with a leading zero byte found";
  EXPECT_EQ(0, RSA_Verify(&k.pub, MR_ALG_SHA1, digest.data(), sig.data(), 128));

  const Bytes shorter(sig.begin() + 1, sig.end());
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(k.pkey.get(), nullptr));
  ASSERT_EQ(1, EVP_PKEY_verify_init(ctx.get()));
  ASSERT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING));
  ASSERT_EQ(1, EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()));
  EXPECT_NE(1, EVP_PKEY_verify(ctx.get(), shorter.data(), shorter.size(), digest.data(), digest.size()))
      << "the oracle refuses the 127-byte form";
  EXPECT_EQ(kResultSignatureMismatch,
            RSA_Verify(&k.pub, MR_ALG_SHA1, digest.data(), shorter.data(), 127));

  Bytes longer(1, 0x00);
  longer.insert(longer.end(), sig.begin(), sig.end());
  EXPECT_EQ(kResultSignatureMismatch,
            RSA_Verify(&k.pub, MR_ALG_SHA1, digest.data(), longer.data(), 129));
}

TEST_P(RsaBits, EncryptDecryptsInOpenSsl) {
  const KeyPair& k = Key(GetParam());
  const DWORD kLen = k.pub.nLen;
  std::mt19937 rng(static_cast<unsigned>(GetParam()));
  for (DWORD len : {DWORD{0}, DWORD{1}, DWORD{16}, kLen - 11}) {
    const Bytes plain = RandomBytes(rng, len);
    Bytes out(kLen);
    DWORD outLen = 0;
    const BYTE dummy = 0;
    ASSERT_EQ(0, RSA_Encrypt(&k.pub, len ? plain.data() : &dummy, len, out.data(), &outLen,
                             MR_RSA_PKCS1_PADDING));
    EXPECT_EQ(kLen, outLen);
    EXPECT_EQ(plain, Decrypt(k, out)) << len;
  }
  // Two encryptions of the same data differ (random padding).
  Bytes a(kLen);
  Bytes b(kLen);
  DWORD la = 0;
  DWORD lb = 0;
  const Bytes plain = FromText("same");
  ASSERT_EQ(0, RSA_Encrypt(&k.pub, plain.data(), 4, a.data(), &la, MR_RSA_PKCS1_PADDING));
  ASSERT_EQ(0, RSA_Encrypt(&k.pub, plain.data(), 4, b.data(), &lb, MR_RSA_PKCS1_PADDING));
  EXPECT_NE(a, b);
  // k - 10 bytes leave no room for the padding.
  const Bytes tooLong(kLen - 10, 1);
  EXPECT_EQ(kResultBadLength, RSA_Encrypt(&k.pub, tooLong.data(), kLen - 10, a.data(), &la, MR_RSA_PKCS1_PADDING));
}

TEST_P(RsaBits, RawModeKeepsTheBlockAndPadsTheResultLeft) {
  const KeyPair& k = Key(GetParam());
  const DWORD kLen = k.pub.nLen;
  // x = 2: with e = 65537 the result is 2^65537 mod n, written as k bytes.
  Bytes out(kLen);
  DWORD outLen = 0;
  const BYTE two = 2;
  ASSERT_EQ(0, RSA_Encrypt(&k.pub, &two, 1, out.data(), &outLen, MR_RSA_NO_PADDING));
  EXPECT_EQ(kLen, outLen);
  // A block not below n fails.
  const Bytes allOnes(kLen, 0xFF);
  EXPECT_EQ(kResultPublicOpFailed, RSA_Encrypt(&k.pub, allOnes.data(), kLen, out.data(), &outLen, MR_RSA_NO_PADDING));
  const Bytes tooLong(kLen + 1, 0x00);
  EXPECT_EQ(kResultPublicOpFailed, RSA_Encrypt(&k.pub, tooLong.data(), kLen + 1, out.data(), &outLen, MR_RSA_NO_PADDING));
  // RSA_PublicEncrypt itself returns 1 on success and the folded code of
  // the raw operation otherwise.
  EXPECT_EQ(1, RSA_PublicEncrypt(&two, 1, out.data(), &outLen, &k.pub));
  EXPECT_EQ(kResultRawOpRefused, RSA_PublicEncrypt(allOnes.data(), kLen, out.data(), &outLen, &k.pub));
}

INSTANTIATE_TEST_SUITE_P(Keys, RsaBits, ::testing::Values(1024, 2048));

TEST(RsaLimits, KeyRecordLengthsAreChecked) {
  RSA_KEY key = Key(1024).pub;
  Bytes out(300);
  DWORD outLen = 0;
  const BYTE one = 1;
  const Bytes digest(64, 7);
  const Bytes sig(128, 1);
  for (DWORD bad : {DWORD{0}, DWORD{257}, DWORD{0xFFFFFFFF}}) {
    RSA_KEY k = key;
    k.nLen = bad;
    EXPECT_EQ(kResultBadKey, RSA_Encrypt(&k, &one, 1, out.data(), &outLen, MR_RSA_PKCS1_PADDING)) << bad;
    EXPECT_EQ(kResultBadKey, RSA_Verify(&k, MR_ALG_SHA1, digest.data(), sig.data(), 128)) << bad;
    EXPECT_EQ(kResultBadKey, RSA_PublicEncrypt(&one, 1, out.data(), &outLen, &k)) << bad;
    k = key;
    k.eLen = bad;
    EXPECT_EQ(kResultBadKey, RSA_PublicEncrypt(&one, 1, out.data(), &outLen, &k)) << bad;
  }
  // A key too short for the padding: fewer than 11 bytes for encryption,
  // too short for the DigestInfo and digest of SHA-512 for verification.
  RSA_KEY small = key;
  small.nLen = 10;
  EXPECT_EQ(kResultBadLength, RSA_Encrypt(&small, &one, 0, out.data(), &outLen, MR_RSA_PKCS1_PADDING));
  const KeyPair& k512 = Key(512);
  const Bytes d512 = OracleDigest(MR_ALG_SHA512, FromText("x"));
  Bytes sig512(64, 1);
  EXPECT_EQ(kResultBadKey, RSA_Verify(&k512.pub, MR_ALG_SHA512, d512.data(), sig512.data(), 64));
  EXPECT_EQ(kResultInvalidArg, RSA_Verify(nullptr, MR_ALG_SHA1, d512.data(), sig512.data(), 64));
}

TEST(RsaLimits, RawOperationRefusesOversizedModulusAndExponent) {
  // Odd moduli of a given size (not real keys: the limits are checked
  // before any arithmetic that needs a prime product).
  auto oddOfBits = [](int bits) {
    BnPtr n(BN_new());
    BN_set_bit(n.get(), bits - 1);
    BN_set_bit(n.get(), 0);
    return n;
  };
  BnPtr e65537(BN_new());
  BN_set_word(e65537.get(), 65537);
  BnPtr e65bits(BN_new());
  BN_set_bit(e65bits.get(), 64);
  BN_set_bit(e65bits.get(), 0);
  std::vector<BYTE> out(16384 / 8 + 1);
  const BYTE x = 3;
  EXPECT_EQ(4096 / 8, RSA_eay_public_decrypt(1, &x, out.data(), oddOfBits(4096).get(), e65537.get()));
  EXPECT_EQ(16384 / 8, RSA_eay_public_decrypt(1, &x, out.data(), oddOfBits(16384).get(), e65537.get()));
  EXPECT_EQ(-1, RSA_eay_public_decrypt(1, &x, out.data(), oddOfBits(16385).get(), e65537.get()));
  EXPECT_EQ(3072 / 8, RSA_eay_public_decrypt(1, &x, out.data(), oddOfBits(3072).get(), e65bits.get()));
  EXPECT_EQ(-1, RSA_eay_public_decrypt(1, &x, out.data(), oddOfBits(3080).get(), e65bits.get()));
  // n must be above e.
  EXPECT_EQ(-1, RSA_eay_public_decrypt(1, &x, out.data(), oddOfBits(17).get(), e65537.get()));
}

TEST(SoftRandom, BytesLieBetweenOneAnd254) {
  std::vector<int> seen(256, 0);
  Bytes buf(128);
  for (int i = 0; i < 400; ++i) {
    ASSERT_EQ(0, GenSoftRandom(static_cast<DWORD>(buf.size()), buf.data()));
    for (BYTE b : buf) {
      ++seen[b];
    }
  }
  EXPECT_EQ(0, seen[0x00]);
  EXPECT_EQ(0, seen[0xFF]);
  for (int v = 1; v <= 254; ++v) {
    EXPECT_GT(seen[v], 0) << v;
  }
}

TEST(SoftRandom, CallsInTheSameSecondDiffer) {
  Bytes a(32);
  Bytes b(32);
  ASSERT_EQ(0, GenSoftRandom(32, a.data()));
  ASSERT_EQ(0, GenSoftRandom(32, b.data()));
  EXPECT_NE(a, b);
  EXPECT_EQ(0, GenSoftRandom(0, nullptr));
  EXPECT_EQ(kResultInvalidArg, GenSoftRandom(1, nullptr));
}

}  // namespace
}  // namespace merro::crypto::test
