// SM2 on bad input: every malformed ciphertext, signature, key or length is
// refused, and a refused decryption leaves the caller's buffer untouched.
#include <gtest/gtest.h>

#include <functional>

#include "foundation/trace/trace.h"
#include "tests/tokenapi/crypto/sm2_test_support.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/crypto/sm2/sm2_asn1.h"
#include "tokenapi/crypto/sm2/sm2_cipher.h"
#include "tokenapi/crypto/sm2/sm2_pkey.h"
#include "tokenapi/crypto/sm2/sm2_sign.h"
#include "tokenapi/crypto/sm2/sm2_z.h"

namespace merro::crypto {
namespace {

using namespace test;  // NOLINT

constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kBadSignature = static_cast<HRESULT>(0x80090006);
constexpr HRESULT kEncryptFailed = static_cast<HRESULT>(0x80071770);
constexpr std::uint8_t kSentinel = 0xA5;

class Sm2Malformed : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = RandomKey(Sm2Curve::kRecommended);
    pkey_ = MakePkey("SM2", Sm2Curve::kRecommended, key_);
    pub_ = Concat({key_.x, key_.y});
    d_.reset(BN_bin2bn(key_.d.data(), 32, nullptr));
    plain_ = FromText("twenty bytes of text");
    raw_.resize(plain_.size() + kSm2CipherOverhead);
    DWORD len = 0;
    ASSERT_EQ(0, SM2_Encrypt(pub_.data(), plain_.data(), static_cast<DWORD>(plain_.size()),
                             raw_.data(), &len));
  }

  // Decrypts with the raw core into a sentinel-filled buffer; returns whether
  // it succeeded and checks that a failure wrote nothing.
  bool DecryptRaw(const Bytes& c, size_t outSize) {
    Bytes out(outSize + 8, kSentinel);
    const int ok = SM2_decrypt(c.data(), c.size(), d_.get(), out.data(), outSize);
    if (!ok) {
      EXPECT_EQ(Bytes(out.size(), kSentinel), out) << "output touched on failure";
    }
    return ok == 1;
  }

  bool DecryptDer(const Bytes& der, size_t outSize) {
    Bytes out(outSize + 8, kSentinel);
    size_t len = outSize;
    const int ret = pkey_sm2_decrypt(pkey_.get(), out.data(), &len, der.data(), der.size());
    if (ret != 1) {
      EXPECT_EQ(-1, ret);
      EXPECT_EQ(Bytes(out.size(), kSentinel), out) << "output touched on failure";
    }
    return ret == 1;
  }

  Sm2KeyBytes key_;
  EvpPkeyPtr pkey_;
  Bytes pub_;
  SecretBnPtr d_;
  Bytes plain_;
  Bytes raw_;
};

TEST_F(Sm2Malformed, RawCiphertextsAreRefusedWithoutTouchingTheOutput) {
  ASSERT_TRUE(DecryptRaw(raw_, plain_.size()));
  const Bytes p = FromHex(SM2_CurveParams(Sm2Curve::kRecommended).p);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> mutate;
  };
  const Case cases[] = {
      {"empty", [](Bytes& c) { c.clear(); }},
      {"C1 only", [](Bytes& c) { c.resize(kSm2C1Bytes); }},
      {"no C2 (97 bytes)",
       [](Bytes& c) { c.erase(c.begin() + kSm2C1Bytes, c.end() - kSm2C3Bytes); }},
      {"C3 cut short", [](Bytes& c) { c.pop_back(); }},
      {"first byte not 04", [](Bytes& c) { c[0] = 0x05; }},
      {"compressed marker", [](Bytes& c) { c[0] = 0x02; }},
      {"C1 not on the curve", [](Bytes& c) { c[64] ^= 0x01; }},
      {"x1 = p", [&](Bytes& c) { std::copy(p.begin(), p.end(), c.begin() + 1); }},
      {"C1 all zero", [](Bytes& c) { std::fill(c.begin() + 1, c.begin() + 65, 0); }},
      {"C2 first byte", [](Bytes& c) { c[kSm2C1Bytes] ^= 0x80; }},
      {"C2 last byte", [](Bytes& c) { c[c.size() - kSm2C3Bytes - 1] ^= 0x01; }},
      {"C3 first byte", [](Bytes& c) { c[c.size() - kSm2C3Bytes] ^= 0x01; }},
      {"C3 last byte", [](Bytes& c) { c.back() ^= 0x80; }},
      {"extra byte", [](Bytes& c) { c.push_back(0); }},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    Bytes c = raw_;
    tc.mutate(c);
    EXPECT_FALSE(DecryptRaw(c, plain_.size() + 1));
  }
  // A valid ciphertext with too little room for its plaintext.
  EXPECT_FALSE(DecryptRaw(raw_, plain_.size() - 1));
}

Bytes EncodeCipher(const std::function<void(SM2Cipher&)>& mutate, const Bytes& raw) {
  const Bytes der = RawToDer(raw);
  const unsigned char* p = der.data();
  SM2CipherPtr item(d2i_SM2Cipher(nullptr, &p, static_cast<long>(der.size())));
  mutate(*item);
  Bytes out(static_cast<size_t>(i2d_SM2Cipher(item.get(), nullptr)));
  unsigned char* q = out.data();
  i2d_SM2Cipher(item.get(), &q);
  return out;
}

TEST_F(Sm2Malformed, DerCiphertextsAreRefusedWithoutTouchingTheOutput) {
  const Bytes der = RawToDer(raw_);
  ASSERT_TRUE(DecryptDer(der, plain_.size()));
  auto setOctets = [](ASN1_OCTET_STRING* s, const Bytes& b) {
    ASN1_OCTET_STRING_set(s, b.data(), static_cast<int>(b.size()));
  };
  const Bytes c2 = Bytes(raw_.begin() + kSm2C1Bytes, raw_.end() - kSm2C3Bytes);
  const Bytes c3 = Bytes(raw_.end() - kSm2C3Bytes, raw_.end());
  struct Case {
    const char* name;
    Bytes der;
  };
  Bytes truncated(der.begin(), der.end() - 1);
  Bytes trailing = Concat({der, {0x00}});
  Bytes longForm = der;  // the SEQUENCE length in a non-minimal long form
  longForm.insert(longForm.begin() + 1, 0x81);
  // x1 as a negative INTEGER: the sign bit of its first content byte set.
  Bytes negativeX = der;
  ASSERT_EQ(0x02, negativeX[2]);
  negativeX[4] = negativeX[3] == 0x21 ? 0xFF : (negativeX[4] | 0x80);
  const Case cases[] = {
      {"empty", {}},
      {"negative x", negativeX},
      {"truncated", truncated},
      {"trailing byte", trailing},
      {"non-minimal length", longForm},
      {"HASH of 31 bytes",
       EncodeCipher([&](SM2Cipher& c) { setOctets(c.HASH, Bytes(c3.begin(), c3.end() - 1)); },
                    raw_)},
      {"HASH of 33 bytes",
       EncodeCipher([&](SM2Cipher& c) { setOctets(c.HASH, Concat({c3, {0}})); }, raw_)},
      {"empty cipherText", EncodeCipher([&](SM2Cipher& c) { setOctets(c.cipherText, {}); }, raw_)},
      {"altered cipherText", EncodeCipher([&](SM2Cipher& c) {
         Bytes b = c2;
         b[3] ^= 1;
         setOctets(c.cipherText, b);
       }, raw_)},
      {"altered HASH", EncodeCipher([&](SM2Cipher& c) {
         Bytes b = c3;
         b[31] ^= 1;
         setOctets(c.HASH, b);
       }, raw_)},
      {"x of 33 bytes",
       EncodeCipher([](SM2Cipher& c) { BN_set_bit(c.XCoordinate, 8 * 32); }, raw_)},
      {"y off the curve", EncodeCipher([](SM2Cipher& c) { BN_add_word(c.YCoordinate, 1); }, raw_)},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.name);
    EXPECT_FALSE(DecryptDer(tc.der, plain_.size() + 40));
  }
  EXPECT_FALSE(DecryptDer(der, plain_.size() - 1));
}

TEST_F(Sm2Malformed, EmptyPlaintextIsRefusedEverywhere) {
  Bytes out(200, kSentinel);
  BnPtr x(BN_bin2bn(key_.x.data(), 32, nullptr)), y(BN_bin2bn(key_.y.data(), 32, nullptr));
  const std::uint8_t one = 0;
  EXPECT_EQ(0, SM2_encrypt(&one, 0, x.get(), y.get(), out.data(), out.size()));
  DWORD outLen = 0xDEAD;
  EXPECT_EQ(kInvalidArg, SM2_Encrypt(pub_.data(), &one, 0, out.data(), &outLen));
  EXPECT_EQ(0xDEADu, outLen);
  size_t len = out.size();
  EXPECT_EQ(-1, pkey_sm2_encrypt(pkey_.get(), out.data(), &len, &one, 0));
  EXPECT_EQ(Bytes(200, kSentinel), out);
}

TEST_F(Sm2Malformed, EncryptionRefusesBadKeysAndShortOutput) {
  Bytes badPub = pub_;
  badPub[63] ^= 1;  // off the curve
  Bytes out(plain_.size() + kSm2CipherOverhead);
  DWORD outLen = 0;
  EXPECT_EQ(kEncryptFailed, SM2_Encrypt(badPub.data(), plain_.data(),
                                        static_cast<DWORD>(plain_.size()), out.data(), &outLen));
  BnPtr x(BN_bin2bn(key_.x.data(), 32, nullptr)), y(BN_bin2bn(key_.y.data(), 32, nullptr));
  EXPECT_EQ(0, SM2_encrypt(plain_.data(), plain_.size(), x.get(), y.get(), out.data(),
                           out.size() - 1));
  // DER output: the room given is checked before anything is written.
  Bytes der(plain_.size() + 100, kSentinel);
  size_t derLen = plain_.size() + 97;
  EXPECT_EQ(-1, pkey_sm2_encrypt(pkey_.get(), der.data(), &derLen, plain_.data(), plain_.size()));
  EXPECT_EQ(Bytes(der.size(), kSentinel), der);
}

TEST_F(Sm2Malformed, VerifyFrontEndChecksArgumentsAndSignatureRange) {
  const Bytes e(32, 0x42);
  Bytes rs(65, 0x01);
  EXPECT_EQ(kInvalidArg, SM2_Verify(pub_.data(), e.data(), rs.data(), 63));
  EXPECT_EQ(kInvalidArg, SM2_Verify(pub_.data(), e.data(), rs.data(), 65));
  EXPECT_EQ(kInvalidArg, SM2_Verify(pub_.data(), e.data(), nullptr, 64));
  EXPECT_EQ(kInvalidArg, SM2_Verify(pub_.data(), nullptr, 5, rs.data(), 64));

  Bytes r(32), s(32);
  ASSERT_EQ(1, SM2_sign_ex(e.data(), key_.d.data(), r.data(), s.data()));
  ASSERT_EQ(0, SM2_Verify(pub_.data(), e.data(), Concat({r, s}).data(), 64));
  const Bytes n = FromHex(SM2_CurveParams(Sm2Curve::kRecommended).n);
  const Bytes zero(32, 0);
  const Bytes outOfRange[][2] = {{zero, s}, {r, zero}, {n, s}, {r, n}};
  for (const auto& pair : outOfRange) {
    EXPECT_EQ(kBadSignature, SM2_Verify(pub_.data(), e.data(), Concat({pair[0], pair[1]}).data(), 64));
  }
  Bytes badPub = pub_;
  badPub[10] ^= 1;
  EXPECT_EQ(kBadSignature, SM2_Verify(badPub.data(), e.data(), Concat({r, s}).data(), 64));
}

TEST_F(Sm2Malformed, SigningRefusesPrivateScalarsOutOfRange) {
  const Bytes e(32, 0x42);
  const BnPtr n = SM2_HexBn(SM2_CurveParams(Sm2Curve::kRecommended).n);
  Bytes r(32, kSentinel), s(32, kSentinel);
  for (int delta : {0, 1}) {  // d = n, d = n - 1
    BnPtr d(BN_dup(n.get()));
    BN_sub_word(d.get(), delta);
    Bytes dBytes(32);
    BN_bn2binpad(d.get(), dBytes.data(), 32);
    EXPECT_EQ(0, SM2_sign_ex(e.data(), dBytes.data(), r.data(), s.data()));
  }
  EXPECT_EQ(0, SM2_sign_ex(e.data(), Bytes(32, 0).data(), r.data(), s.data()));
  EXPECT_EQ(Bytes(32, kSentinel), r);
}

// The digest is exactly 32 bytes: shorter inputs are never read past their
// end (AddressSanitizer watches the exact-size heap copies), longer refused.
TEST_F(Sm2Malformed, PkeyVerifyTakesOnlyThirtyTwoByteDigestsAndCanonicalSignatures) {
  const Bytes e(32, 0x42);
  Bytes sig(72);
  size_t sigLen = sig.size();
  ASSERT_EQ(1, pkey_ec_sign(pkey_.get(), sig.data(), &sigLen, e.data(), e.size()));
  sig.resize(sigLen);
  ASSERT_EQ(1, pkey_ec_verify(pkey_.get(), sig.data(), sig.size(), e.data(), e.size()));
  for (size_t n : {0, 20, 31, 33, 64}) {
    SCOPED_TRACE(n);
    const Bytes tbs(e.begin(), e.begin() + std::min<size_t>(n, 32));
    Bytes heap = tbs;
    heap.resize(n, 0x42);
    heap.shrink_to_fit();
    EXPECT_EQ(-1, pkey_ec_verify(pkey_.get(), sig.data(), sig.size(), heap.data(), heap.size()));
    Bytes out(72);
    size_t outLen = out.size();
    EXPECT_EQ(-1, pkey_ec_sign(pkey_.get(), out.data(), &outLen, heap.data(), heap.size()));
  }
  const Bytes trailing = Concat({sig, {0}});
  EXPECT_EQ(-1, pkey_ec_verify(pkey_.get(), trailing.data(), trailing.size(), e.data(), 32));
  const Bytes rs = DerSigToRaw(sig);
  const Bytes zeroR = RawSigToDer(Concat({Bytes(32, 0), Bytes(rs.begin() + 32, rs.end())}));
  EXPECT_EQ(-1, pkey_ec_verify(pkey_.get(), zeroR.data(), zeroR.size(), e.data(), 32));
}

// Failure lines name the front end and its step, with the code returned.
TEST_F(Sm2Malformed, FrontEndFailuresLogTheirStep) {
  std::vector<std::pair<std::u16string, std::uint32_t>> lines;
  trace::SetSink([&](const trace::Record& r) {
    if (r.number != trace::kMsgFailureLine || r.args.size() < 2) {
      return;
    }
    std::u16string text;
    for (size_t i = 0; i + 1 < r.args[0].size(); i += 2) {
      text.push_back(static_cast<char16_t>(r.args[0][i] | (r.args[0][i + 1] << 8)));
    }
    const auto& v = r.args[1];
    lines.emplace_back(text, v[0] | (v[1] << 8) | (v[2] << 16) | (std::uint32_t{v[3]} << 24));
  });
  trace::SetEnableFlags(0xFFFFFFFF);
  const Bytes e(32, 1), rs(64, 1);
  const std::uint8_t one = 1;
  DWORD outLen = 0;
  Bytes out(200);
  Bytes badPub = pub_;
  badPub[0] ^= 1;
  SM2_Verify(pub_.data(), e.data(), rs.data(), 63);
  SM2_Verify(pub_.data(), e.data(), rs.data(), 64);
  SM2_Encrypt(pub_.data(), &one, 0, out.data(), &outLen);
  SM2_Encrypt(badPub.data(), &one, 1, out.data(), &outLen);
  trace::SetSink({});
  trace::SetEnableFlags(0);
  const std::pair<std::u16string, std::uint32_t> expected[] = {
      {u"SM2_Verify - CHECK nRawSignatureRSSize", 0x80070057},
      {u"SM2_Verify - _SM2_verify_ex", 0x80090006},
      {u"SM2_Encrypt - CHECK nInLen", 0x80070057},
      {u"SM2_Encrypt - _SM2_encrypt", 0x80071770},
  };
  ASSERT_EQ(std::size(expected), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(std::u16string::npos, lines[i].first.find(expected[i].first)) << i;
    EXPECT_EQ(expected[i].second, lines[i].second) << i;
  }
}

TEST(Sm2Bytes, FixedWidthConversionsAndIdentityLimit) {
  BnPtr small(BN_new());
  BN_set_word(small.get(), 0x0102);
  Bytes out(32, 0xFF);
  ASSERT_EQ(1, SM2_BN2Bytes(small.get(), out.data()));
  Bytes expected(32, 0);
  expected[30] = 0x01;
  expected[31] = 0x02;
  EXPECT_EQ(expected, out);
  BnPtr big(BN_new());
  BN_set_bit(big.get(), 256);
  std::fill(out.begin(), out.end(), 0xFF);
  EXPECT_EQ(0, SM2_BN2Bytes(big.get(), out.data()));
  EXPECT_EQ(Bytes(32, 0), out);

  // Points: the generator lies on its own curve only; y + 1 lies on neither.
  for (Sm2Curve curve : {Sm2Curve::kRecommended, Sm2Curve::kTest}) {
    const Sm2CurveParams& cp = SM2_CurveParams(curve);
    BnPtr gx = SM2_HexBn(cp.gx), gy = SM2_HexBn(cp.gy);
    EXPECT_EQ(1, SM2_CheckPoint(gx.get(), gy.get(), curve));
    const Sm2Curve other = curve == Sm2Curve::kTest ? Sm2Curve::kRecommended : Sm2Curve::kTest;
    EXPECT_EQ(0, SM2_CheckPoint(gx.get(), gy.get(), other));
    BN_add_word(gy.get(), 1);
    EXPECT_EQ(0, SM2_CheckPoint(gx.get(), gy.get(), curve));
  }

  // ENTL is a 16-bit bit count: identities of 8192 bytes or more are refused.
  const Sm2CurveParams& c = SM2_CurveParams(Sm2Curve::kRecommended);
  BnPtr a = SM2_HexBn(c.a), b = SM2_HexBn(c.b), gx = SM2_HexBn(c.gx), gy = SM2_HexBn(c.gy);
  const Bytes id(8192, 'A');
  Bytes z(32);
  EXPECT_EQ(1, SM2_CalculateZValue(id.data(), 8191, a.get(), b.get(), gx.get(), gy.get(),
                                   gx.get(), gy.get(), z.data()));
  EXPECT_EQ(0, SM2_CalculateZValue(id.data(), 8192, a.get(), b.get(), gx.get(), gy.get(),
                                   gx.get(), gy.get(), z.data()));
}

}  // namespace
}  // namespace merro::crypto
