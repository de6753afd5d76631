// Our ciphers and digests against OpenSSL's EVP: random keys, IVs and
// messages, every split of short messages into two or three updates and
// random splits of longer ones, both directions, ECB and CBC; decryption of
// random ciphertext must fail or succeed exactly where EVP does.
#include <gtest/gtest.h>

#include <random>

#include "tests/tokenapi/crypto/evp_oracle.h"
#include "tests/tokenapi/crypto/sym_driver.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"

namespace merro::crypto::test {
namespace {

struct CipherCase {
  const char* name;
  BYTE algorithm;
  BYTE mode;
  size_t keyBytes;
  size_t block;  // 1 for the stream cipher
};

const CipherCase kCases[] = {
    {"DES_ECB", MR_ALG_DES, MR_MODE_ECB, 8, 8},
    {"DES_CBC", MR_ALG_DES, MR_MODE_CBC, 8, 8},
    {"TDES2_ECB", MR_ALG_3DES_2KEY, MR_MODE_ECB, 16, 8},
    {"TDES2_CBC", MR_ALG_3DES_2KEY, MR_MODE_CBC, 16, 8},
    {"TDES3_ECB", MR_ALG_3DES, MR_MODE_ECB, 24, 8},
    {"TDES3_CBC", MR_ALG_3DES, MR_MODE_CBC, 24, 8},
    {"SM4_ECB", MR_ALG_SM4, MR_MODE_ECB, 16, 16},
    {"SM4_CBC", MR_ALG_SM4, MR_MODE_CBC, 16, 16},
    {"RC4", MR_ALG_RC4, 0, 16, 1},
};

class CipherOracle : public ::testing::TestWithParam<CipherCase> {
 protected:
  void SetUp() override {
    m_cipher = OracleCipher(GetParam().algorithm, GetParam().mode);
    if (m_cipher == nullptr) {
      GTEST_SKIP() << "OpenSSL has no " << GetParam().name << " here";
    }
    m_key = RandomBytes(m_rng, GetParam().keyBytes);
    // The CBC modes get a random IV; ECB and RC4 none (our contexts take
    // null as zeros, which they do not use).
    if (GetParam().mode == MR_MODE_CBC) {
      m_iv = RandomBytes(m_rng, GetParam().block);
    }
  }
  const Bytes* Iv() const { return m_iv.empty() ? nullptr : &m_iv; }

  // Checks one message in both directions with the given pieces.
  void CheckBoth(const Bytes& plain, const Bytes& cipherText, const std::vector<size_t>& pieces) {
    const CipherCase& c = GetParam();
    const SymRun enc = RunSym(c.algorithm, c.mode, true, m_key, Iv(), plain, pieces);
    ASSERT_EQ(0, enc.hr) << enc.step;
    ASSERT_EQ(cipherText, enc.out) << "length " << plain.size();
    const SymRun dec = RunSym(c.algorithm, c.mode, false, m_key, Iv(), cipherText, pieces);
    ASSERT_EQ(0, dec.hr) << dec.step;
    ASSERT_EQ(plain, dec.out) << "length " << plain.size();
    // Updates write whole blocks only.
    for (size_t i = 0; i + 1 < enc.written.size(); ++i) {
      ASSERT_EQ(0u, enc.written[i] % c.block);
      ASSERT_EQ(0u, dec.written[i] % c.block);
    }
  }

  std::mt19937 m_rng{4242u};
  const EVP_CIPHER* m_cipher = nullptr;
  Bytes m_key;
  Bytes m_iv;
};

TEST_P(CipherOracle, EverySplitOfShortMessages) {
  for (size_t len = 0; len <= 34; ++len) {
    const Bytes plain = RandomBytes(m_rng, len);
    const auto expected = OracleCrypt(m_cipher, true, m_key, m_iv, plain);
    ASSERT_TRUE(expected.has_value());
    for (size_t a = 0; a <= len; ++a) {
      CheckBoth(plain, *expected, {a});
      for (size_t b = 0; a + b <= len; b += 3) {
        CheckBoth(plain, *expected, {a, b});
      }
    }
  }
}

TEST_P(CipherOracle, RandomLengthsAndSplits) {
  for (int round = 0; round < 150; ++round) {
    const size_t len = std::uniform_int_distribution<size_t>(0, 600)(m_rng);
    const Bytes plain = RandomBytes(m_rng, len);
    const auto expected = OracleCrypt(m_cipher, true, m_key, m_iv, plain);
    ASSERT_TRUE(expected.has_value());
    CheckBoth(plain, *expected, RandomPieces(m_rng, len, 3));
  }
}

TEST_P(CipherOracle, RandomCiphertextFailsExactlyWhereOpenSslDoes) {
  const CipherCase& c = GetParam();
  if (c.block == 1) {
    GTEST_SKIP() << "a stream cipher has no padding";
  }
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    // Mostly whole blocks, sometimes a broken length.
    size_t len = c.block * std::uniform_int_distribution<size_t>(0, 4)(m_rng);
    if (round % 10 == 0) {
      len += std::uniform_int_distribution<size_t>(1, c.block - 1)(m_rng);
    }
    const Bytes junk = RandomBytes(m_rng, len);
    const auto expected = OracleCrypt(m_cipher, false, m_key, m_iv, junk);
    const SymRun dec = RunSym(c.algorithm, c.mode, false, m_key, Iv(), junk,
                              RandomPieces(m_rng, len, 2));
    if (len == 0) {
      // Here the system differs from EVP on purpose: no data at all
      // decrypts to nothing, successfully.
      ASSERT_EQ(0, dec.hr);
      ASSERT_TRUE(dec.out.empty());
    } else if (expected.has_value()) {
      ++accepted;
      ASSERT_EQ(0, dec.hr);
      ASSERT_EQ(*expected, dec.out);
    } else {
      ASSERT_EQ(kResultFinalFailed, dec.hr) << "length " << len;
      ASSERT_STREQ("final", dec.step);
    }
  }
  // Valid padding by chance: about 1 in 256 random last blocks.
  EXPECT_GT(accepted, 0);
}

INSTANTIATE_TEST_SUITE_P(Evp, CipherOracle, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

class DigestOracle : public ::testing::TestWithParam<BYTE> {};

TEST_P(DigestOracle, RandomLengthsAndSplits) {
  std::mt19937 rng(777u + GetParam());
  for (int round = 0; round < 200; ++round) {
    const size_t len = std::uniform_int_distribution<size_t>(0, 1000)(rng);
    const Bytes msg = RandomBytes(rng, len);
    ASSERT_EQ(OracleDigest(GetParam(), msg), RunHash(GetParam(), msg, RandomPieces(rng, len, 3)))
        << "length " << len;
  }
}

INSTANTIATE_TEST_SUITE_P(Evp, DigestOracle,
                         ::testing::Values(MR_ALG_MD5, MR_ALG_SHA1, MR_ALG_SHA256, MR_ALG_SHA512,
                                           MR_ALG_SHA1_MD5, MR_ALG_SM3));

}  // namespace
}  // namespace merro::crypto::test
