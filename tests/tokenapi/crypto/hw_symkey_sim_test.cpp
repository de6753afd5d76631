// The token's symmetric operation against the in-process simulator, whose
// token runs SM4 (INS 0x24) and AES-256 (INS 0x23) with OpenSSL.
#include <gtest/gtest.h>

#include "tests/tokenapi/crypto/evp_oracle.h"
#include "tests/tokenapi/crypto/sym_driver.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/commands/symkey_commands.h"
#include "tokenapi/crypto/algorithms.h"

namespace merro::crypto::test {
namespace {

class HwSymKeySim : public merro::testing::SimulatorTest {
 protected:
  Bytes Run(BYTE alg, BYTE mode, const Bytes& key, const Bytes& in) {
    Bytes out(in.size());
    DWORD len = static_cast<DWORD>(out.size());
    EXPECT_EQ(0, mr_HWSymKeyCrypto(OpenToken(0), alg, mode, key.data(), in.data(),
                                   static_cast<DWORD>(in.size()), out.data(), &len));
    EXPECT_EQ(in.size(), len);
    return out;
  }
};

TEST_F(HwSymKeySim, Sm4AcrossPiecesMatchesOpenSsl) {
  std::mt19937 rng(23u);
  const Bytes key = RandomBytes(rng, 16);
  const Bytes plain = RandomBytes(rng, 304);  // pieces of 128, 128 and 48
  const Bytes zeros(16, 0);
  const Bytes ecb = Run(MR_ALG_SM4, 0x01, key, plain);
  EXPECT_EQ(*OracleCrypt(OracleCipher(MR_ALG_SM4, MR_MODE_ECB), true, key, {}, plain, false), ecb);
  // CBC chains across the data frames of one key load.
  const Bytes cbc = Run(MR_ALG_SM4, 0x02, key, plain);
  EXPECT_EQ(*OracleCrypt(OracleCipher(MR_ALG_SM4, MR_MODE_CBC), true, key, zeros, plain, false), cbc);
  EXPECT_EQ(plain, Run(MR_ALG_SM4, 0x82, key, cbc));
  EXPECT_EQ(plain, Run(MR_ALG_SM4, 0x81, key, ecb));
}

TEST_F(HwSymKeySim, TokenOnlyAlgorithmRoundTrips) {
  std::mt19937 rng(24u);
  const Bytes key = RandomBytes(rng, 32);
  const Bytes plain = RandomBytes(rng, 160);
  const Bytes c = Run(MR_ALG_TOKEN_SYM, 0x02, key, plain);
  EXPECT_NE(plain, c);
  EXPECT_EQ(plain, Run(MR_ALG_TOKEN_SYM, 0x82, key, c));
}

TEST_F(HwSymKeySim, TokenRefusesPiecesThatAreNotWholeBlocks) {
  const Bytes key(16, 3);
  const Bytes in(20, 1);
  Bytes out(20);
  DWORD len = 20;
  EXPECT_EQ(static_cast<HRESULT>(0x80006700),
            mr_HWSymKeyCrypto(OpenToken(0), MR_ALG_SM4, 0x01, key.data(), in.data(), 20, out.data(), &len));
}

}  // namespace
}  // namespace merro::crypto::test
