// SM2 worked examples of GB/T 32918 on both curves (Z, e, the signature with
// the given k, the encryption of "encryption standard"), reproduced with the
// test builds' fixed-nonce hook, through the cores, the front ends and the
// EVP_PKEY operations; and the KDF against SM3 computed by OpenSSL.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "tests/tokenapi/crypto/sm2_test_support.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/crypto/sm2/sm2_cipher.h"
#include "tokenapi/crypto/sm2/sm2_kdf.h"
#include "tokenapi/crypto/sm2/sm2_nonce.h"
#include "tokenapi/crypto/sm2/sm2_pkey.h"
#include "tokenapi/crypto/sm2/sm2_sign.h"

namespace merro::crypto {
namespace {

using namespace test;  // NOLINT

struct SignVector {
  const char* source;
  Sm2Curve curve;
  const char* id;
  const char* d;
  const char* x;
  const char* y;
  const char* msg;
  const char* z;
  const char* e;
  const char* k;
  const char* r;
  const char* s;
};

const SignVector kSignVectors[] = {
    {"GB/T 32918.5-2017 Annex A (recommended curve)", Sm2Curve::kRecommended, "1234567812345678",
     "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8",
     "09F9DF311E5421A150DD7D161E4BC5C672179FAD1833FC076BB08FF356F35020",
     "CCEA490CE26775A52DC6EA718CC1AA600AED05FBF35E084A6632F6072DA9AD13", "message digest",
     "B2E14C5C79C6DF5B85F4FE7ED8DB7A262B9DA7E07CCB0EA9F4747B8CCDA8A4F3",
     "F0B43E94BA45ACCAACE692ED534382EB17E6AB5A19CE7B31F4486FDFC0D28640",
     "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21",
     "F5A03B0648D2C4630EEAC513E1BB81A15944DA3827D5B74143AC7EACEEE720B3",
     "B1B6AA29DF212FD8763182BC0D421CA1BB9038FD1F7F42D4840B69C485BBC1AA"},
    {"GB/T 32918.2 Annex A.2 (example curve)", Sm2Curve::kTest, "ALICE123@YAHOO.COM",
     "128B2FA8BD433C6C068C8D803DFF79792A519A55171B1B650C23661D15897263",
     "0AE4C7798AA0F119471BEE11825BE46202BB79E2A5844495E97C04FF4DF2548A",
     "7C0240F88F1CD4E16352A73C17B7F16F07353E53A176D684A9FE0C6BB798E857", "message digest",
     "F4A38489E32B45B6F876E3AC2168CA392362DC8F23459C1D1146FC3DBFB7BC9A",
     "B524F552CD82B8B028476E005C377FB19A87E6FC682D48BB5D42E3D9B9EFFE76",
     "6CB28D99385C175C94F94E934817663FC176D925DD72B727260DBAAE1FB2F96F",
     "40F1EC59F793D9F49E09DCEF49130D4194F79FB1EED2CAA55BACDB49C4E755D1",
     "6FC6DAC32C5D5CF10C77DFB20F7C2EB667A457872FB09EC56327A67EC7DEEBE7"},
};

struct EncryptVector {
  const char* source;
  Sm2Curve curve;
  const char* d;
  const char* k;
  const char* raw;  // 04 || x1 || y1 || C2 || C3
  const char* der;  // SM2Cipher
};

const EncryptVector kEncryptVectors[] = {
    {"GB/T 32918.5-2017 Annex A (recommended curve)", Sm2Curve::kRecommended,
     "3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8",
     "59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21",
     "04 04EBFC718E8D1798620432268E77FEB6415E2EDE0E073C0F4F640ECD2E149A73"
     "E858F9D81E5430A57B36DAAB8F950A3C64E6EE6A63094D99283AFF767E124DF0"
     "21886CA989CA9C7D58087307CA93092D651EFA"
     "59983C18F809E262923C53AEC295D30383B54E39D609D160AFCB1908D0BD8766",
     "307C 0220 04EBFC718E8D1798620432268E77FEB6415E2EDE0E073C0F4F640ECD2E149A73"
     "0221 00E858F9D81E5430A57B36DAAB8F950A3C64E6EE6A63094D99283AFF767E124DF0"
     "0420 59983C18F809E262923C53AEC295D30383B54E39D609D160AFCB1908D0BD8766"
     "0413 21886CA989CA9C7D58087307CA93092D651EFA"},
    {"GB/T 32918.4 Annex A.2 (example curve)", Sm2Curve::kTest,
     "1649AB77A00637BD5E2EFE283FBF353534AA7F7CB89463F208DDBC2920BB0DA0",
     "4C62EEFD6ECFC2B95B92FD6C3D9575148AFA17425546D49018E5388D49DD7B4F",
     "04 245C26FB68B1DDDDB12C4B6BF9F2B6D5FE60A383B0D18D1C4144ABF17F6252E7"
     "76CB9264C2A7E88E52B19903FDC47378F605E36811F5C07423A24B84400F01B8"
     "650053A89B41C418B0C3AAD00D886C00286467"
     "9C3D7360C30156FAB7C80A0276712DA9D8094A634B766D3A285E07480653426D",
     "307B 0220 245C26FB68B1DDDDB12C4B6BF9F2B6D5FE60A383B0D18D1C4144ABF17F6252E7"
     "0220 76CB9264C2A7E88E52B19903FDC47378F605E36811F5C07423A24B84400F01B8"
     "0420 9C3D7360C30156FAB7C80A0276712DA9D8094A634B766D3A285E07480653426D"
     "0413 650053A89B41C418B0C3AAD00D886C00286467"},
};

class Sm2Vectors : public ::testing::Test {
 protected:
  void TearDown() override { testing::ClearFixedNonces(); }
};

TEST_F(Sm2Vectors, SignatureExamples) {
  for (const auto& v : kSignVectors) {
    SCOPED_TRACE(v.source);
    const Sm2KeyBytes key = KeyFromPrivate(v.curve, v.d);
    ASSERT_EQ(FromHex(v.x), key.x);
    ASSERT_EQ(FromHex(v.y), key.y);
    const Bytes msg = FromText(v.msg);
    const Bytes e = DigestE(v.curve, FromText(v.id), key, msg);
    EXPECT_EQ(FromHex(v.e), e);
    const Bytes expectedRs = Concat({FromHex(v.r), FromHex(v.s)});

    // The byte-form core.
    Bytes r(32), s(32);
    testing::QueueFixedNonces({v.k});
    ASSERT_EQ(1, SM2_sign_ex(e.data(), key.d.data(), r.data(), s.data(), v.curve));
    EXPECT_EQ(expectedRs, Concat({r, s}));
    EXPECT_EQ(1, SM2_verify_ex(r.data(), s.data(), key.x.data(), key.y.data(), e.data(), v.curve));

    // The EVP_PKEY operations.
    const EvpPkeyPtr pkey = MakePkey(KeyTypeFor(v.curve), v.curve, key);
    ASSERT_TRUE(pkey);
    Bytes sig(72);
    size_t sigLen = sig.size();
    testing::QueueFixedNonces({v.k});
    ASSERT_EQ(1, pkey_ec_sign(pkey.get(), sig.data(), &sigLen, e.data(), e.size()));
    sig.resize(sigLen);
    EXPECT_EQ(expectedRs, DerSigToRaw(sig));
    EXPECT_EQ(1, pkey_ec_verify(pkey.get(), sig.data(), sig.size(), e.data(), e.size()));
  }
}

TEST_F(Sm2Vectors, RecommendedCurveFrontEnds) {
  const SignVector& v = kSignVectors[0];
  const Bytes pub = Concat({FromHex(v.x), FromHex(v.y)});
  Bytes z(32);
  ASSERT_EQ(0, SM2_GetZVal(pub.data(), z.data()));
  EXPECT_EQ(FromHex(v.z), z);
  const Bytes rs = Concat({FromHex(v.r), FromHex(v.s)});
  const Bytes msg = FromText(v.msg);
  EXPECT_EQ(0, SM2_Verify(pub.data(), FromHex(v.e).data(), rs.data(), 64));
  EXPECT_EQ(0, SM2_Verify(pub.data(), msg.data(), static_cast<DWORD>(msg.size()), rs.data(), 64));
  const Bytes other = FromText("message digesT");
  EXPECT_EQ(static_cast<HRESULT>(0x80090006),
            SM2_Verify(pub.data(), other.data(), static_cast<DWORD>(other.size()), rs.data(), 64));

  const EncryptVector& ev = kEncryptVectors[0];
  const Bytes plain = FromText("encryption standard");
  Bytes out(plain.size() + 97);
  DWORD outLen = 0;
  testing::QueueFixedNonces({ev.k});
  ASSERT_EQ(0, SM2_Encrypt(pub.data(), plain.data(), static_cast<DWORD>(plain.size()),
                           out.data(), &outLen));
  EXPECT_EQ(plain.size() + 97, outLen);
  EXPECT_EQ(FromHex(ev.raw), out);
}

TEST_F(Sm2Vectors, EncryptionExamples) {
  const Bytes plain = FromText("encryption standard");
  for (const auto& v : kEncryptVectors) {
    SCOPED_TRACE(v.source);
    const Sm2KeyBytes key = KeyFromPrivate(v.curve, v.d);
    const Bytes raw = FromHex(v.raw);
    const Bytes der = FromHex(v.der);
    BnPtr x(BN_bin2bn(key.x.data(), 32, nullptr)), y(BN_bin2bn(key.y.data(), 32, nullptr));
    SecretBnPtr d(BN_bin2bn(key.d.data(), 32, nullptr));

    // Raw form through the cores.
    Bytes out(raw.size());
    testing::QueueFixedNonces({v.k});
    ASSERT_EQ(1, SM2_encrypt(plain.data(), plain.size(), x.get(), y.get(), out.data(), out.size(),
                             v.curve));
    EXPECT_EQ(raw, out);
    Bytes back(plain.size());
    ASSERT_EQ(1, SM2_decrypt(raw.data(), raw.size(), d.get(), back.data(), back.size(), v.curve));
    EXPECT_EQ(plain, back);

    // DER form through the EVP_PKEY operations (C3 before C2 there).
    EXPECT_EQ(der, RawToDer(raw));
    const EvpPkeyPtr pkey = MakePkey(KeyTypeFor(v.curve), v.curve, key);
    Bytes cipher(plain.size() + 200);
    size_t cipherLen = cipher.size();
    testing::QueueFixedNonces({v.k});
    ASSERT_EQ(1, pkey_sm2_encrypt(pkey.get(), cipher.data(), &cipherLen, plain.data(),
                                  plain.size()));
    cipher.resize(cipherLen);
    EXPECT_EQ(der, cipher);
    Bytes plainOut(plain.size());
    size_t plainLen = plainOut.size();
    ASSERT_EQ(1, pkey_sm2_decrypt(pkey.get(), plainOut.data(), &plainLen, der.data(), der.size()));
    EXPECT_EQ(plain.size(), plainLen);
    EXPECT_EQ(plain, plainOut);
  }
}

// KDF(Z, klen) = the first klen bits of SM3(Z || 1) || SM3(Z || 2) || ...,
// the digests taken from OpenSSL; lengths at the 32-byte block edges.
TEST(Sm2Kdf, MatchesSm3CounterConstructionAtBlockEdges) {
  Bytes z(64);
  for (size_t i = 0; i < z.size(); ++i) {
    z[i] = static_cast<std::uint8_t>(i * 7 + 1);
  }
  Bytes reference;
  for (std::uint8_t ct = 1; ct <= 3; ++ct) {
    const Bytes block = Concat({z, {0, 0, 0, ct}});
    Bytes h(32);
    unsigned int len = 0;
    ASSERT_EQ(1, EVP_Digest(block.data(), block.size(), h.data(), &len, EVP_sm3(), nullptr));
    reference.insert(reference.end(), h.begin(), h.end());
  }
  for (size_t len : {1, 31, 32, 33, 64, 65}) {
    SCOPED_TRACE(len);
    Bytes out(len + 1, 0xEE);  // one guard byte after the output
    ASSERT_EQ(1, SM2_KDF(z.data(), out.data(), len * 8));
    EXPECT_EQ(Bytes(reference.begin(), reference.begin() + len), Bytes(out.begin(), out.end() - 1));
    EXPECT_EQ(0xEE, out.back());
  }
}

}  // namespace
}  // namespace merro::crypto
