// The PKCS#1 v1.5 blocks against OpenSSL's: the signature block of every
// hash is the one OpenSSL's signature opens to, OpenSSL's decryption takes
// our encryption blocks, our removal opens OpenSSL's, and malformed blocks
// are refused.
#include <gtest/gtest.h>

#include <openssl/rsa.h>

#include <initializer_list>
#include <map>
#include <optional>
#include <set>

#include "tests/tokenapi/crypto/test_bytes.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/common/result_codes.h"
#include "tokenapi/crypto/rsa/pkcs1_block.h"

namespace merro::crypto::test {
namespace {

EVP_PKEY* Key(int bits) {
  static std::map<int, EvpPkeyPtr> keys;
  EvpPkeyPtr& key = keys[bits];
  if (!key) {
    key.reset(EVP_RSA_gen(static_cast<unsigned>(bits)));
  }
  return key.get();
}

enum class Op { kSignRecover, kEncryptRaw, kDecryptRaw, kEncryptPkcs1, kDecryptPkcs1 };

// One OpenSSL RSA operation; nothing when OpenSSL refuses.
std::optional<Bytes> OpenSsl(EVP_PKEY* key, Op op, const Bytes& in) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  const bool decrypt = op == Op::kDecryptRaw || op == Op::kDecryptPkcs1;
  const bool encrypt = op == Op::kEncryptRaw || op == Op::kEncryptPkcs1;
  const int init = decrypt   ? EVP_PKEY_decrypt_init(ctx.get())
                   : encrypt ? EVP_PKEY_encrypt_init(ctx.get())
                             : EVP_PKEY_verify_recover_init(ctx.get());
  const int padding =
      op == Op::kEncryptPkcs1 || op == Op::kDecryptPkcs1 ? RSA_PKCS1_PADDING : RSA_NO_PADDING;
  if (init != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1) {
    return std::nullopt;
  }
  Bytes out(512);
  size_t len = out.size();
  const int r = decrypt   ? EVP_PKEY_decrypt(ctx.get(), out.data(), &len, in.data(), in.size())
                : encrypt ? EVP_PKEY_encrypt(ctx.get(), out.data(), &len, in.data(), in.size())
                          : EVP_PKEY_verify_recover(ctx.get(), out.data(), &len, in.data(), in.size());
  if (r != 1) {
    return std::nullopt;
  }
  out.resize(len);
  return out;
}

// OpenSSL's PKCS#1 v1.5 signature over a digest with md's DigestInfo (the
// SSL3 md5-sha1 digest goes bare).
Bytes OpenSslSign(EVP_PKEY* key, const EVP_MD* md, const Bytes& digest) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
  EXPECT_EQ(1, EVP_PKEY_sign_init(ctx.get()));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING));
  EXPECT_EQ(1, EVP_PKEY_CTX_set_signature_md(ctx.get(), md));
  Bytes sig(512);
  size_t len = sig.size();
  EXPECT_EQ(1, EVP_PKEY_sign(ctx.get(), sig.data(), &len, digest.data(), digest.size()));
  sig.resize(len);
  return sig;
}

Bytes Pattern(size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) {
    b[i] = static_cast<std::uint8_t>(seed + 7 * i);
  }
  return b;
}

TEST(Pkcs1SignatureBlock, IsTheBlockOpenSslSignsForEveryHash) {
  const struct {
    BYTE hashType;
    const EVP_MD* md;
  } kHashes[] = {{MR_ALG_MD5, EVP_md5()},
                 {MR_ALG_SHA1, EVP_sha1()},
                 {MR_ALG_SHA256, EVP_sha256()},
                 {MR_ALG_SHA512, EVP_sha512()},
                 {MR_ALG_SHA1_MD5, EVP_md5_sha1()}};
  for (const int bits : {1024, 2048}) {
    for (const auto& hash : kHashes) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, hash type " << int{hash.hashType});
      const Pkcs1DigestInfo* info = FindPkcs1DigestInfo(hash.hashType);
      ASSERT_NE(info, nullptr);
      ASSERT_EQ(info->dwDigestLen, static_cast<DWORD>(EVP_MD_get_size(hash.md)));
      const Bytes digest = Pattern(info->dwDigestLen, hash.hashType);
      const auto opened = OpenSsl(Key(bits), Op::kSignRecover,
                                  OpenSslSign(Key(bits), hash.md, digest));
      ASSERT_TRUE(opened);
      const DWORD k = static_cast<DWORD>(bits / 8);
      Bytes block(k, 0xCC);
      ASSERT_EQ(BuildPkcs1SignatureBlock(*info, digest.data(), block.data(), k), S_OK);
      // verify_recover with no padding keeps the leading zero byte.
      EXPECT_EQ(block, *opened);
    }
  }
}

TEST(Pkcs1SignatureBlock, NeedsRoomForEightBytesOfPadding) {
  const Pkcs1DigestInfo* sha256 = FindPkcs1DigestInfo(MR_ALG_SHA256);
  ASSERT_NE(sha256, nullptr);
  const DWORD min = Pkcs1SignatureBlockMin(*sha256);
  EXPECT_EQ(min, 11u + 19u + 32u);
  const Bytes digest = Pattern(32, 1);
  Bytes block(min, 0xCC);
  EXPECT_EQ(BuildPkcs1SignatureBlock(*sha256, digest.data(), block.data(), min - 1),
            kResultBadLength);
  EXPECT_EQ(block, Bytes(min, 0xCC)) << "nothing written";
  ASSERT_EQ(BuildPkcs1SignatureBlock(*sha256, digest.data(), block.data(), min), S_OK);
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 11),
            FromHex("00 01 FF FF FF FF FF FF FF FF 00"));
  // An SM2 key's 32 bytes hold no SHA-1 block.
  EXPECT_EQ(BuildPkcs1SignatureBlock(*FindPkcs1DigestInfo(MR_ALG_SHA1), digest.data(),
                                     block.data(), 32),
            kResultBadLength);
  EXPECT_EQ(BuildPkcs1SignatureBlock(*sha256, nullptr, block.data(), min), kResultInvalidArg);
  EXPECT_EQ(BuildPkcs1SignatureBlock(*sha256, digest.data(), nullptr, min), kResultInvalidArg);
}

TEST(Pkcs1SignatureBlock, KnowsNoOtherHash) {
  for (const DWORD other : std::initializer_list<DWORD>{0, MR_ALG_SM3, 0x8004}) {
    EXPECT_EQ(FindPkcs1DigestInfo(other), nullptr) << other;
  }
}

TEST(Pkcs1EncryptionBlock, OpenSslDecryptsOursAndWeOpenOpenSsls) {
  for (const int bits : {1024, 2048}) {
    const DWORD k = static_cast<DWORD>(bits / 8);
    for (const DWORD len : std::initializer_list<DWORD>{0, 1, 16, k - kPkcs1Overhead}) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, " << len << " bytes");
      const Bytes data = Pattern(len, 0x30);
      Bytes block(k);
      ASSERT_EQ(BuildPkcs1EncryptionBlock(data.data(), len, block.data(), k), S_OK);
      EXPECT_EQ(block[0], 0x00);
      EXPECT_EQ(block[1], 0x02);
      for (DWORD i = 2; i < k - len - 1; ++i) {
        ASSERT_NE(block[i], 0x00) << "padding byte " << i;
      }
      const auto cipher = OpenSsl(Key(bits), Op::kEncryptRaw, block);
      ASSERT_TRUE(cipher);
      if (len != 0) {  // OpenSSL's decryption has no room for an empty result
        EXPECT_EQ(OpenSsl(Key(bits), Op::kDecryptPkcs1, *cipher), data);
      }
      DWORD offset = 0, dataLen = 0xDEAD;
      ASSERT_EQ(RemovePkcs1EncryptionBlock(block.data(), k, &offset, &dataLen), S_OK);
      EXPECT_EQ(Bytes(block.begin() + offset, block.begin() + offset + dataLen), data);

      if (len == 0) {
        continue;
      }
      const auto theirs = OpenSsl(Key(bits), Op::kEncryptPkcs1, data);
      ASSERT_TRUE(theirs);
      const auto opened = OpenSsl(Key(bits), Op::kDecryptRaw, *theirs);
      ASSERT_TRUE(opened);
      ASSERT_EQ(opened->size(), k);
      ASSERT_EQ(RemovePkcs1EncryptionBlock(opened->data(), k, &offset, &dataLen), S_OK);
      EXPECT_EQ(Bytes(opened->begin() + offset, opened->begin() + offset + dataLen), data);
    }
  }
}

TEST(Pkcs1EncryptionBlock, PaddingIsFreshAndLengthsAreBounded) {
  const DWORD k = 128;
  const Bytes data = Pattern(16, 2);
  std::set<Bytes> blocks;
  for (int i = 0; i < 4; ++i) {
    Bytes block(k);
    ASSERT_EQ(BuildPkcs1EncryptionBlock(data.data(), 16, block.data(), k), S_OK);
    blocks.insert(block);
  }
  EXPECT_EQ(blocks.size(), 4u);
  Bytes block(k, 0xCC);
  EXPECT_EQ(BuildPkcs1EncryptionBlock(Pattern(k - 10, 3).data(), k - 10, block.data(), k),
            kResultBadLength);
  EXPECT_EQ(block, Bytes(k, 0xCC)) << "nothing written";
  EXPECT_EQ(BuildPkcs1EncryptionBlock(nullptr, 1, block.data(), k), kResultInvalidArg);
  EXPECT_EQ(BuildPkcs1EncryptionBlock(data.data(), 16, nullptr, k), kResultInvalidArg);
  EXPECT_EQ(BuildPkcs1EncryptionBlock(nullptr, 0, block.data(), 10), kResultBadLength);
}

// A 32-byte block: 00 02, padding of 0x5A up to the separator, data after it.
Bytes BlockWithSeparatorAt(size_t separator) {
  Bytes block(32, 0xA5);
  block[0] = 0x00;
  block[1] = 0x02;
  for (size_t i = 2; i < separator; ++i) {
    block[i] = 0x5A;
  }
  block[separator] = 0x00;
  return block;
}

TEST(Pkcs1EncryptionBlock, RemovalRefusesMalformedBlocks) {
  Bytes wrongType = BlockWithSeparatorAt(12);
  wrongType[1] = 0x01;
  Bytes leadingByte = BlockWithSeparatorAt(12);
  leadingByte[0] = 0x01;
  Bytes noSeparator(32, 0x5A);
  noSeparator[0] = 0x00;
  noSeparator[1] = 0x02;
  const struct {
    const char* name;
    Bytes block;
    HRESULT result;
    DWORD offset;  // on success
  } kCases[] = {
      {"separator after 8 padding bytes", BlockWithSeparatorAt(10), S_OK, 11},
      {"separator after 7 padding bytes", BlockWithSeparatorAt(9), kResultBadKey, 0},
      {"separator right after the type", BlockWithSeparatorAt(2), kResultBadKey, 0},
      {"separator last: empty data", BlockWithSeparatorAt(31), S_OK, 32},
      {"block type 1", wrongType, kResultBadKey, 0},
      {"leading byte not zero", leadingByte, kResultBadKey, 0},
      {"no separator", noSeparator, kResultBadKey, 0},
      {"shorter than the overhead", Bytes{0x00, 0x02, 1, 2, 3, 4, 5, 6, 7, 8}, kResultBadKey, 0},
  };
  for (const auto& c : kCases) {
    DWORD offset = 0xDEAD, len = 0xBEEF;
    EXPECT_EQ(RemovePkcs1EncryptionBlock(c.block.data(), static_cast<DWORD>(c.block.size()),
                                         &offset, &len),
              c.result)
        << c.name;
    if (c.result == S_OK) {
      EXPECT_EQ(offset, c.offset) << c.name;
      EXPECT_EQ(len, c.block.size() - c.offset) << c.name;
    } else {
      EXPECT_EQ(offset, 0xDEADu) << c.name;
      EXPECT_EQ(len, 0xBEEFu) << c.name;
    }
  }
  const Bytes ok = BlockWithSeparatorAt(12);
  DWORD offset = 0, len = 0;
  EXPECT_EQ(RemovePkcs1EncryptionBlock(nullptr, 32, &offset, &len), kResultInvalidArg);
  EXPECT_EQ(RemovePkcs1EncryptionBlock(ok.data(), 32, nullptr, &len), kResultInvalidArg);
  EXPECT_EQ(RemovePkcs1EncryptionBlock(ok.data(), 32, &offset, nullptr), kResultInvalidArg);
}

}  // namespace
}  // namespace merro::crypto::test
