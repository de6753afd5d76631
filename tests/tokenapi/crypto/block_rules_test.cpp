// The block rules of the cipher routines and contexts: what an update
// writes and keeps back, what a final pads, checks and writes, output room,
// in-place work with waiting bytes, and use without a key.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/tokenapi/crypto/evp_oracle.h"
#include "tests/tokenapi/crypto/sym_driver.h"
#include "tests/tokenapi/crypto/trace_capture.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/result_codes.h"
#include "tokenapi/crypto/contexts/symkey.h"
#include "tokenapi/crypto/modes/padding.h"

namespace merro::crypto::test {
namespace {

const Bytes kKey24 = FromHex("0123456789abcdef23456789abcdef01456789abcdef0123");
const Bytes kKey16 = FromHex("0123456789abcdeffedcba9876543210");

struct Cipher {
  const char* name;
  BYTE algorithm;
  size_t block;
  const Bytes& key;
  const wchar_t* finalStep;
};
const Cipher kTdes{"3DES", MR_ALG_3DES, 8, kKey24, L"des3final"};
const Cipher kSm4{"SM4", MR_ALG_SM4, 16, kKey16, L"sm4final"};

// An owned context, ended by the test or freed at scope exit.
class Ctx {
 public:
  Ctx(const Cipher& c, bool encrypt, BYTE mode = MR_MODE_CBC) {
    const HRESULT hr = encrypt ? SymEncryptInit(&m_ctx, c.algorithm, mode, c.key.data(), nullptr)
                               : SymDecryptInit(&m_ctx, c.algorithm, mode, c.key.data(), nullptr);
    EXPECT_EQ(0, hr);
  }
  ~Ctx() {
    if (m_ctx != nullptr) {
      Bytes sink(32);
      DWORD room = 32;
      SymCipherFinal(m_ctx, sink.data(), &room);
    }
  }
  // Update with exactly `room` bytes of room; returns the bytes written.
  HRESULT Update(const Bytes& in, DWORD room, Bytes* out) {
    out->assign(room + 1, 0xEE);
    const BYTE dummy = 0;
    const HRESULT hr = SymCipherUpdate(m_ctx, in.empty() ? &dummy : in.data(),
                                       static_cast<DWORD>(in.size()), out->data(), &room);
    EXPECT_EQ(0xEE, out->back()) << "wrote past the room it was given";
    out->resize(room);
    return hr;
  }
  HRESULT Final(DWORD room, Bytes* out) {
    out->assign(room + 1, 0xEE);
    const HRESULT hr = SymCipherFinal(m_ctx, out->data(), &room);
    m_ctx = nullptr;
    EXPECT_EQ(0xEE, out->back()) << "wrote past the room it was given";
    out->resize(room);
    return hr;
  }

 private:
  SYMKEY_CTX* m_ctx = nullptr;
};

// Raw blocks (no padding) under the cipher's key in ECB, from OpenSSL.
Bytes RawEcb(const Cipher& c, bool encrypt, const Bytes& in) {
  return *OracleCrypt(OracleCipher(c.algorithm, MR_MODE_ECB), encrypt, c.key, {}, in, false);
}

class BlockRules : public ::testing::TestWithParam<Cipher> {};

TEST_P(BlockRules, EncryptingUpdateKeepsOnlyThePartialBlock) {
  const Cipher& c = GetParam();
  const size_t b = c.block;
  Bytes out;
  Bytes fin;
  // Two whole blocks: both come out; the final adds a block of value B.
  Ctx whole(c, true, MR_MODE_ECB);
  ASSERT_EQ(0, whole.Update(Bytes(2 * b, 0x41), static_cast<DWORD>(2 * b), &out));
  EXPECT_EQ(2 * b, out.size());
  ASSERT_EQ(0, whole.Final(static_cast<DWORD>(b), &fin));
  EXPECT_EQ(Bytes(b, static_cast<std::uint8_t>(b)), RawEcb(c, false, fin));

  // B + 5 bytes: one block now, the 5 bytes and B - 5 padding bytes later.
  Ctx partial(c, true, MR_MODE_ECB);
  ASSERT_EQ(0, partial.Update(Bytes(b + 5, 0x42), static_cast<DWORD>(b), &out));
  EXPECT_EQ(b, out.size());
  ASSERT_EQ(0, partial.Final(static_cast<DWORD>(b), &fin));
  Bytes expected(5, 0x42);
  expected.resize(b, static_cast<std::uint8_t>(b - 5));
  EXPECT_EQ(expected, RawEcb(c, false, fin));
}

TEST_P(BlockRules, DecryptingUpdateHoldsTheLastWholeBlock) {
  const Cipher& c = GetParam();
  const size_t b = c.block;
  const Bytes plain(2 * b + 3, 0x5A);
  const SymRun enc = RunSym(c.algorithm, MR_MODE_CBC, true, c.key, nullptr, plain);
  ASSERT_EQ(3 * b, enc.out.size());

  // One block alone: nothing comes out until the final.
  Ctx one(c, false);
  Bytes out;
  ASSERT_EQ(0, one.Update(Bytes(enc.out.begin(), enc.out.begin() + b), 0, &out));
  EXPECT_TRUE(out.empty());

  // Block by block: each update writes the block held by the previous one.
  Ctx split(c, false);
  Bytes got;
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(0, split.Update(Bytes(enc.out.begin() + i * b, enc.out.begin() + (i + 1) * b),
                              static_cast<DWORD>(b), &out));
    EXPECT_EQ(i == 0 ? 0 : b, out.size()) << i;
    got.insert(got.end(), out.begin(), out.end());
  }
  // A further empty update changes nothing.
  ASSERT_EQ(0, split.Update({}, 0, &out));
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(0, split.Final(static_cast<DWORD>(b - 1), &out));
  EXPECT_EQ(3u, out.size());
  got.insert(got.end(), out.begin(), out.end());
  EXPECT_EQ(plain, got);
}

TEST_P(BlockRules, DecryptingFinalRejectsBadPaddingAndLength) {
  const Cipher& c = GetParam();
  const size_t b = c.block;
  auto lastBlockWith = [&](std::initializer_list<std::pair<size_t, std::uint8_t>> bytes) {
    Bytes block(b, 0x01);
    for (const auto& [at, v] : bytes) {
      block[at] = v;
    }
    return RawEcb(c, true, block);
  };
  const struct {
    const char* what;
    Bytes cipherText;
  } bad[] = {
      {"last byte 0", lastBlockWith({{b - 1, 0x00}})},
      {"last byte above B", lastBlockWith({{b - 1, static_cast<std::uint8_t>(b + 1)}})},
      {"padding bytes differ", lastBlockWith({{b - 1, 0x03}, {b - 2, 0x03}, {b - 3, 0x02}})},
      {"one byte short of a block", Bytes(b - 1, 0x00)},
      {"a block and one byte", Bytes(b + 1, 0x00)},
  };
  for (const auto& t : bad) {
    TraceCapture trace;
    const SymRun dec = RunSym(c.algorithm, MR_MODE_ECB, false, c.key, nullptr, t.cipherText);
    EXPECT_EQ(kResultFinalFailed, dec.hr) << t.what;
    std::uint32_t result = 0;
    EXPECT_TRUE(trace.FindFailure(std::u16string(u"SymKeyFinal - ") +
                                      std::u16string(c.finalStep, c.finalStep + std::wcslen(c.finalStep)),
                                  &result))
        << t.what;
    EXPECT_EQ(static_cast<std::uint32_t>(kResultFinalFailed), result) << t.what;
  }
  // Every padding value from 1 to B is accepted and stripped.
  for (size_t n = 1; n <= b; ++n) {
    Bytes block(b, 0x33);
    std::memset(block.data() + b - n, static_cast<int>(n), n);
    const SymRun dec = RunSym(c.algorithm, MR_MODE_ECB, false, c.key, nullptr, RawEcb(c, true, block));
    ASSERT_EQ(0, dec.hr) << n;
    EXPECT_EQ(Bytes(b - n, 0x33), dec.out) << n;
  }
  // No data at all decrypts to nothing.
  const SymRun empty = RunSym(c.algorithm, MR_MODE_CBC, false, c.key, nullptr, {});
  EXPECT_EQ(0, empty.hr);
  EXPECT_TRUE(empty.out.empty());
}

TEST_P(BlockRules, ShortOutputRoomIsReportedWithTheNeededLength) {
  const Cipher& c = GetParam();
  const size_t b = c.block;
  const Bytes plain(3 * b + 2, 0x11);

  // Update: one byte short of three blocks. Nothing changes, and the same
  // call with enough room then works.
  Ctx enc(c, true);
  Bytes out;
  ASSERT_EQ(kResultBufferTooSmall, enc.Update(plain, static_cast<DWORD>(3 * b - 1), &out));
  EXPECT_EQ(3 * b, out.size()) << "the needed length";
  Bytes again;
  ASSERT_EQ(0, enc.Update(plain, static_cast<DWORD>(3 * b), &again));
  Bytes fin;
  ASSERT_EQ(0, enc.Final(static_cast<DWORD>(b), &fin));
  EXPECT_EQ(RunSym(c.algorithm, MR_MODE_CBC, true, c.key, nullptr, plain).out,
            Concat({again, fin}));

  // Final: a block is needed; the context ends anyway.
  SYMKEY_CTX* raw = nullptr;
  ASSERT_EQ(0, SymEncryptInit(&raw, c.algorithm, MR_MODE_CBC, c.key.data(), nullptr));
  Bytes buf(4 * b);
  DWORD room = static_cast<DWORD>(b - 1);
  EXPECT_EQ(kResultBufferTooSmall, SymCipherFinal(raw, buf.data(), &room));
  EXPECT_EQ(b, room);

  // Decrypting final: room for the data bytes of the last block.
  const Bytes cipherText = RunSym(c.algorithm, MR_MODE_CBC, true, c.key, nullptr, plain).out;
  Ctx dec(c, false);
  ASSERT_EQ(0, dec.Update(cipherText, static_cast<DWORD>(3 * b), &out));
  Bytes tail;
  EXPECT_EQ(kResultBufferTooSmall, dec.Final(1, &tail));
  EXPECT_EQ(2u, tail.size()) << "the needed length";
}

TEST_P(BlockRules, InPlaceWithWaitingBytes) {
  // Waiting bytes put the output ahead of the input it consumes; in-place
  // updates must still read every input byte before overwriting it.
  const Cipher& c = GetParam();
  std::mt19937 rng(99u);
  for (bool encrypt : {true, false}) {
    for (size_t first = 1; first < 2 * c.block; ++first) {
      const Bytes in = RandomBytes(rng, 5 * c.block);
      const Bytes expected = RunSym(c.algorithm, MR_MODE_CBC, encrypt, c.key, nullptr, in,
                                    {first, in.size() - first})
                                 .out;
      SYMKEY_CTX* ctx = nullptr;
      ASSERT_EQ(0, encrypt ? SymEncryptInit(&ctx, c.algorithm, MR_MODE_CBC, c.key.data(), nullptr)
                           : SymDecryptInit(&ctx, c.algorithm, MR_MODE_CBC, c.key.data(), nullptr));
      Bytes buffer = in;
      DWORD room1 = static_cast<DWORD>(first);
      ASSERT_EQ(0, SymCipherUpdate(ctx, buffer.data(), static_cast<DWORD>(first), buffer.data(), &room1));
      DWORD room2 = static_cast<DWORD>(in.size() - room1);
      ASSERT_EQ(0, SymCipherUpdate(ctx, buffer.data() + first, static_cast<DWORD>(in.size() - first),
                                   buffer.data() + room1, &room2));
      Bytes fin(c.block);
      DWORD room3 = static_cast<DWORD>(fin.size());
      const HRESULT hr = SymCipherFinal(ctx, fin.data(), &room3);
      ASSERT_EQ(encrypt ? 0 : hr, hr);  // random input rarely decrypts to valid padding
      const Bytes got(buffer.begin(), buffer.begin() + room1 + room2);
      EXPECT_EQ(Bytes(expected.begin(), expected.begin() + got.size()), got)
          << (encrypt ? "encrypt" : "decrypt") << " first " << first;
    }
  }
}

TEST_P(BlockRules, IvNullIsZerosAndEcbIgnoresIt) {
  const Cipher& c = GetParam();
  const Bytes plain(3 * c.block, 0x77);
  const Bytes zeros(c.block, 0);
  const Bytes other(c.block, 0x99);
  EXPECT_EQ(RunSym(c.algorithm, MR_MODE_CBC, true, c.key, &zeros, plain).out,
            RunSym(c.algorithm, MR_MODE_CBC, true, c.key, nullptr, plain).out);
  EXPECT_NE(RunSym(c.algorithm, MR_MODE_CBC, true, c.key, &other, plain).out,
            RunSym(c.algorithm, MR_MODE_CBC, true, c.key, nullptr, plain).out);
  EXPECT_EQ(RunSym(c.algorithm, MR_MODE_ECB, true, c.key, &other, plain).out,
            RunSym(c.algorithm, MR_MODE_ECB, true, c.key, nullptr, plain).out);
  // Any mode other than 1 chains.
  EXPECT_EQ(RunSym(c.algorithm, 7, true, c.key, &other, plain).out,
            RunSym(c.algorithm, MR_MODE_CBC, true, c.key, &other, plain).out);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, BlockRules, ::testing::Values(kTdes, kSm4),
                         [](const auto& info) { return std::string(info.param.name); });

// The rules as the routines themselves state them.
TEST(CipherRoutines, RefuseUseWithoutKeyWrongKindAndBadDirection) {
  std::uint8_t in[16] = {};
  std::uint8_t out[32] = {};
  DWORD len = sizeof(out);
  SM4_CTX sm4;
  EXPECT_EQ(0, sm4update(&sm4, in, 16, out, &len));
  EXPECT_EQ(0u, len);
  len = sizeof(out);
  EXPECT_EQ(0, sm4final(&sm4, out, &len));
  EXPECT_EQ(0, sm4key(&sm4, 2, kKey16.data(), nullptr, MR_MODE_CBC));
  EXPECT_EQ(0, sm4key(nullptr, kSm4Encrypt, kKey16.data(), nullptr, MR_MODE_CBC));

  MR_DES_CTX des;
  EXPECT_EQ(0, des3key(&des, 2, kKey24.data(), MR_MODE_CBC, nullptr));
  ASSERT_EQ(1, des3key(&des, kDesEncrypt, kKey24.data(), MR_MODE_CBC, nullptr));
  len = sizeof(out);
  EXPECT_EQ(0, desupdate(&des, in, 8, out, &len)) << "a triple-DES context is not single DES";
  len = sizeof(out);
  EXPECT_EQ(1, des3update(&des, in, 8, out, &len));
  EXPECT_EQ(8u, len);

  MR_RC4_KEY rc4;
  len = sizeof(out);
  EXPECT_EQ(0, rc4update(&rc4, in, 8, out, &len));
  EXPECT_EQ(0, rc4key(in, 0, &rc4));
  EXPECT_EQ(0, rc4key(in, 257, &rc4));
  ASSERT_EQ(1, rc4key(in, 5, &rc4));
  len = 4;
  EXPECT_EQ(0, rc4update(&rc4, in, 8, out, &len));
  EXPECT_EQ(8u, len) << "the needed length";
  EXPECT_EQ(1, rc4final(&rc4, &len));
  EXPECT_EQ(0u, len);
}

TEST(CipherRoutines, TwoKeyWithEqualHalvesIsSingleDes) {
  std::mt19937 rng(5u);
  const Bytes k = RandomBytes(rng, 8);
  const Bytes plain = RandomBytes(rng, 40);
  EXPECT_EQ(RunSym(MR_ALG_DES, MR_MODE_CBC, true, k, nullptr, plain).out,
            RunSym(MR_ALG_3DES_2KEY, MR_MODE_CBC, true, Concat({k, k}), nullptr, plain).out);
}

TEST(CipherRoutines, Rc4KeyLengthIsHonoured) {
  // Keys that agree in their first 16 bytes but differ in length give
  // different streams.
  const Bytes longKey = FromHex("0102030405060708090a0b0c0d0e0f101112131415161718");
  MR_RC4_KEY a;
  MR_RC4_KEY b;
  ASSERT_EQ(1, rc4key(longKey.data(), 16, &a));
  ASSERT_EQ(1, rc4key(longKey.data(), 24, &b));
  std::uint8_t zeros[16] = {};
  std::uint8_t sa[16];
  std::uint8_t sb[16];
  DWORD la = 16;
  DWORD lb = 16;
  ASSERT_EQ(1, rc4update(&a, zeros, 16, sa, &la));
  ASSERT_EQ(1, rc4update(&b, zeros, 16, sb, &lb));
  EXPECT_NE(0, std::memcmp(sa, sb, 16));
}

TEST(Padding, ConstantTimeCheckAgreesWithThePlainRule) {
  for (size_t b : {8u, 16u}) {
    std::mt19937 rng(static_cast<unsigned>(b));
    for (int i = 0; i < 20000; ++i) {
      Bytes block = RandomBytes(rng, b);
      // Bias towards nearly valid blocks.
      const size_t n = std::uniform_int_distribution<size_t>(0, b + 1)(rng);
      for (size_t j = 0; j < n && j < b; ++j) {
        block[b - 1 - j] = static_cast<std::uint8_t>(n);
      }
      if (i % 3 == 0 && n > 1 && n <= b) {
        block[b - n] ^= 1;
      }
      const size_t p = block[b - 1];
      bool valid = p >= 1 && p <= b;
      for (size_t j = 0; valid && j < p; ++j) {
        valid = block[b - 1 - j] == p;
      }
      ASSERT_EQ(valid ? b - p : kPaddingInvalid, PkcsUnpaddedLength(block.data(), b));
    }
  }
}

}  // namespace
}  // namespace merro::crypto::test
