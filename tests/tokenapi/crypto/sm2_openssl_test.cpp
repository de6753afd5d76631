// SM2 against OpenSSL's own implementation (SM2-type keys on the
// recommended curve, identity "1234567812345678"): signatures verify both
// ways, ciphertexts decrypt both ways (raw C1C2C3 converted to and from the
// DER C1C3C2 form), coordinates with leading zero bytes included.
#include <gtest/gtest.h>

#include "tests/tokenapi/crypto/sm2_test_support.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/crypto/sm2/sm2_cipher.h"
#include "tokenapi/crypto/sm2/sm2_pkey.h"
#include "tokenapi/crypto/sm2/sm2_sign.h"

namespace merro::crypto {
namespace {

using namespace test;  // NOLINT

constexpr Sm2Curve kCurve = Sm2Curve::kRecommended;

struct Party {
  Sm2KeyBytes key;
  EvpPkeyPtr pkey;
  Bytes pub;  // x || y
};

Party NewParty(const Sm2KeyBytes& key) {
  return {key, MakePkey("SM2", kCurve, key), Concat({key.x, key.y})};
}

Party NewParty() {
  BYTE pair[kSm2KeyPairBytes];
  EXPECT_EQ(0, SM2_GenKey(pair));
  return NewParty({Bytes(pair + 64, pair + 96), Bytes(pair, pair + 32), Bytes(pair + 32, pair + 64)});
}

// A key pair whose x or y coordinate has a leading zero byte.
Party PartyWithShortCoordinate() {
  for (int i = 0; i < 5000; ++i) {
    Sm2KeyBytes key = RandomKey(kCurve);
    if (key.x[0] == 0 || key.y[0] == 0) {
      return NewParty(key);
    }
  }
  ADD_FAILURE() << "no key with a short coordinate found";
  return NewParty();
}

Bytes OurDerSignature(Party& party, const Bytes& e) {
  Bytes sig(72);
  size_t len = sig.size();
  EXPECT_EQ(1, pkey_ec_sign(party.pkey.get(), sig.data(), &len, e.data(), e.size()));
  sig.resize(len);
  return sig;
}

Bytes OurRawCiphertext(const Party& party, const Bytes& plain) {
  Bytes out(plain.size() + kSm2CipherOverhead);
  DWORD outLen = 0;
  EXPECT_EQ(0, SM2_Encrypt(party.pub.data(), plain.data(), static_cast<DWORD>(plain.size()),
                           out.data(), &outLen));
  EXPECT_EQ(out.size(), outLen);
  return out;
}

std::optional<Bytes> OurRawDecrypt(const Party& party, const Bytes& raw) {
  SecretBnPtr d(BN_bin2bn(party.key.d.data(), 32, nullptr));
  Bytes out(raw.size() - kSm2CipherOverhead);
  if (!SM2_decrypt(raw.data(), raw.size(), d.get(), out.data(), out.size(), kCurve)) {
    return std::nullopt;
  }
  return out;
}

std::optional<Bytes> OurDerDecrypt(Party& party, const Bytes& der) {
  Bytes out(der.size());
  size_t len = out.size();
  if (pkey_sm2_decrypt(party.pkey.get(), out.data(), &len, der.data(), der.size()) != 1) {
    return std::nullopt;
  }
  out.resize(len);
  return out;
}

Bytes Message(size_t n) {
  Bytes m(n);
  for (size_t i = 0; i < n; ++i) {
    m[i] = static_cast<std::uint8_t>(i * 31 + n);
  }
  return m;
}

TEST(Sm2OpenSsl, SignaturesVerifyBothWays) {
  for (int k = 0; k < 3; ++k) {
    Party party = k == 0 ? PartyWithShortCoordinate() : NewParty();
    for (size_t n : {0, 1, 100}) {
      SCOPED_TRACE(::testing::Message() << "key " << k << ", message " << n);
      const Bytes msg = Message(n);
      const Bytes e = DigestE(kCurve, DefaultId(), party.key, msg);

      // Ours, through the byte core and the EVP_PKEY operation, in OpenSSL.
      Bytes r(32), s(32);
      ASSERT_EQ(1, SM2_sign_ex(e.data(), party.key.d.data(), r.data(), s.data()));
      EXPECT_TRUE(OpenSslVerify(party.pkey.get(), DefaultId(), msg, RawSigToDer(Concat({r, s}))));
      EXPECT_TRUE(OpenSslVerify(party.pkey.get(), DefaultId(), msg, OurDerSignature(party, e)));

      // OpenSSL's, here: EVP_PKEY operation and both front-end forms.
      const Bytes theirs = OpenSslSign(party.pkey.get(), DefaultId(), msg);
      EXPECT_EQ(1, pkey_ec_verify(party.pkey.get(), theirs.data(), theirs.size(), e.data(),
                                  e.size()));
      const Bytes rs = DerSigToRaw(theirs);
      EXPECT_EQ(0, SM2_Verify(party.pub.data(), e.data(), rs.data(), 64));
      EXPECT_EQ(0, SM2_Verify(party.pub.data(), msg.data(), static_cast<DWORD>(msg.size()),
                              rs.data(), 64));
    }
  }
}

TEST(Sm2OpenSsl, CiphertextsDecryptBothWays) {
  Party party = NewParty();
  // KDF block edges (32-byte SM3 blocks) and a longer message.
  for (size_t n : {1, 16, 31, 32, 33, 64, 65, 200}) {
    SCOPED_TRACE(n);
    const Bytes plain = Message(n);
    const Bytes raw = OurRawCiphertext(party, plain);
    EXPECT_EQ(n + 97, raw.size());
    EXPECT_EQ(0x04, raw[0]);
    EXPECT_EQ(plain, OurRawDecrypt(party, raw));
    EXPECT_EQ(plain, OpenSslDecrypt(party.pkey.get(), RawToDer(raw)));

    Bytes der(n + 200);
    size_t derLen = der.size();
    ASSERT_EQ(1, pkey_sm2_encrypt(party.pkey.get(), der.data(), &derLen, plain.data(), n));
    der.resize(derLen);
    EXPECT_EQ(plain, OpenSslDecrypt(party.pkey.get(), der));

    const Bytes theirs = OpenSslEncrypt(party.pkey.get(), plain);
    EXPECT_EQ(plain, OurDerDecrypt(party, theirs));
    EXPECT_EQ(plain, OurRawDecrypt(party, DerToRaw(theirs)));
  }
}

// About one ciphertext in 64 has an x1 or y1 below 2^248, whose DER INTEGER
// is shorter than 32 bytes: both sides must take those too.
TEST(Sm2OpenSsl, CiphertextsWithShortCoordinates) {
  Party party = NewParty();
  const Bytes plain = Message(20);
  auto shortC1 = [](const Bytes& raw) { return raw[1] == 0 || raw[33] == 0; };
  int ours = 0, theirs = 0;
  for (int i = 0; i < 5000 && (ours < 2 || theirs < 2); ++i) {
    if (ours < 2) {
      const Bytes raw = OurRawCiphertext(party, plain);
      if (shortC1(raw)) {
        ++ours;
        const Bytes der = RawToDer(raw);
        EXPECT_EQ(plain, OpenSslDecrypt(party.pkey.get(), der));
        EXPECT_EQ(plain, OurDerDecrypt(party, der));
      }
    }
    if (theirs < 2) {
      const Bytes der = OpenSslEncrypt(party.pkey.get(), plain);
      if (shortC1(DerToRaw(der))) {
        ++theirs;
        EXPECT_EQ(plain, OurDerDecrypt(party, der));
      }
    }
  }
  EXPECT_EQ(2, ours);
  EXPECT_EQ(2, theirs);
}

TEST(Sm2OpenSsl, KeyWithShortCoordinateEncryptsAndDecrypts) {
  Party party = PartyWithShortCoordinate();
  const Bytes plain = Message(33);
  EXPECT_EQ(plain, OpenSslDecrypt(party.pkey.get(), RawToDer(OurRawCiphertext(party, plain))));
  EXPECT_EQ(plain, OurDerDecrypt(party, OpenSslEncrypt(party.pkey.get(), plain)));
}

}  // namespace
}  // namespace merro::crypto
