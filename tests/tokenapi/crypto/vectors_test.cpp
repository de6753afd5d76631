// Known answers from the standards, read from the vector files under data/,
// all run by one parameterised test. Each vector is checked in one piece
// and in random pieces, in both directions where there are two, in place
// and from a misaligned buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>

#include "tests/tokenapi/crypto/sym_driver.h"
#include "tests/tokenapi/crypto/vec_file.h"
#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/contexts/hash.h"
#include "tokenapi/crypto/contexts/symkey.h"
#include "tokenapi/crypto/md5/md5.h"

namespace merro::crypto::test {
namespace {

struct BlockCipherSetup {
  BYTE algorithm;
  BYTE mode;
  size_t block;
};
const std::map<std::string, BlockCipherSetup> kBlockCiphers = {
    {"DES-ECB", {MR_ALG_DES, MR_MODE_ECB, 8}},        {"DES-CBC", {MR_ALG_DES, MR_MODE_CBC, 8}},
    {"3DES-ECB", {MR_ALG_3DES, MR_MODE_ECB, 8}},      {"3DES-CBC", {MR_ALG_3DES, MR_MODE_CBC, 8}},
    {"3DES2-ECB", {MR_ALG_3DES_2KEY, MR_MODE_ECB, 8}}, {"3DES2-CBC", {MR_ALG_3DES_2KEY, MR_MODE_CBC, 8}},
    {"SM4-ECB", {MR_ALG_SM4, MR_MODE_ECB, 16}},       {"SM4-CBC", {MR_ALG_SM4, MR_MODE_CBC, 16}},
};
const std::map<std::string, BYTE> kHashes = {
    {"MD5", MR_ALG_MD5}, {"SHA-1", MR_ALG_SHA1}, {"SHA-256", MR_ALG_SHA256},
    {"SHA-512", MR_ALG_SHA512}};

std::vector<VecCase> AllCases() {
  std::vector<VecCase> all;
  for (const char* name : {"md5.vec", "sha.vec", "des.vec", "tdes.vec", "sm4.vec", "rc4.vec"}) {
    std::string error;
    auto cases = LoadVecFile(name, &error);
    if (!error.empty() || cases.empty()) {
      VecCase broken;
      broken.file = name;
      broken.header = "unreadable";
      broken.fields["Error"] = error.empty() ? "no cases" : error;
      cases = {broken};
    }
    all.insert(all.end(), cases.begin(), cases.end());
  }
  return all;
}

class Vectors : public ::testing::TestWithParam<VecCase> {
 protected:
  std::mt19937 m_rng{20240611u};
};

// One block through the cipher state `iterations` times (ECB only).
Bytes IterateBlock(const BlockCipherSetup& setup, const Bytes& key, const Bytes& block, long iterations) {
  SYMKEY_CTX* ctx = nullptr;
  EXPECT_EQ(0, SymEncryptInit(&ctx, setup.algorithm, setup.mode, key.data(), nullptr));
  const BlockCipher* cipher = nullptr;
  if (auto* sm4 = std::get_if<SM4_CTX>(ctx->pKeyState.get())) {
    cipher = sm4;
  } else {
    cipher = std::get_if<MR_DES_CTX>(ctx->pKeyState.get());
  }
  Bytes b = block;
  for (long i = 0; i < iterations; ++i) {
    cipher->ProcessBlock(b.data(), b.data());
  }
  Bytes last(16);
  DWORD room = static_cast<DWORD>(last.size());
  SymCipherFinal(ctx, last.data(), &room);
  return b;
}

void CheckBlockCipher(const VecCase& c, const BlockCipherSetup& setup, std::mt19937& rng) {
  const Bytes key = FromHex(c.Get("Key"));
  const Bytes in = FromHex(c.Get("In"));
  const Bytes out = FromHex(c.Get("Out"));
  const Bytes iv = c.Has("IV") ? FromHex(c.Get("IV")) : Bytes();
  const Bytes* ivp = c.Has("IV") ? &iv : nullptr;

  if (c.Has("Iterations")) {
    EXPECT_EQ(out, IterateBlock(setup, key, in, std::stol(c.Get("Iterations"))));
    return;
  }

  // Encrypting: all whole blocks come out of the update, the final adds one
  // padding block. Decrypting that gives the input back.
  const SymRun enc = RunSym(setup.algorithm, setup.mode, true, key, ivp, in);
  ASSERT_EQ(0, enc.hr) << enc.step;
  ASSERT_EQ(in.size() + setup.block, enc.out.size());
  EXPECT_EQ(out, Bytes(enc.out.begin(), enc.out.begin() + out.size()));
  const SymRun dec = RunSym(setup.algorithm, setup.mode, false, key, ivp, enc.out);
  ASSERT_EQ(0, dec.hr) << dec.step;
  EXPECT_EQ(in, dec.out);

  // The same in random pieces: the chaining value and the waiting bytes
  // carry over between updates.
  for (int round = 0; round < 8; ++round) {
    EXPECT_EQ(enc.out, RunSym(setup.algorithm, setup.mode, true, key, ivp, in,
                              RandomPieces(rng, in.size(), 3)).out);
    EXPECT_EQ(in, RunSym(setup.algorithm, setup.mode, false, key, ivp, enc.out,
                         RandomPieces(rng, enc.out.size(), 3)).out);
  }

  // In place, from a misaligned buffer.
  Bytes buffer(in.size() + 1);
  std::memcpy(buffer.data() + 1, in.data(), in.size());
  SYMKEY_CTX* ctx = nullptr;
  ASSERT_EQ(0, SymEncryptInit(&ctx, setup.algorithm, setup.mode, key.data(),
                              ivp ? ivp->data() : nullptr));
  DWORD room = static_cast<DWORD>(in.size());
  ASSERT_EQ(0, SymEncryptUpdate(ctx, buffer.data() + 1, static_cast<DWORD>(in.size()),
                                buffer.data() + 1, &room));
  Bytes pad(setup.block);
  DWORD padRoom = static_cast<DWORD>(pad.size());
  ASSERT_EQ(0, SymEncryptFinal(ctx, pad.data(), &padRoom));
  EXPECT_EQ(out, Bytes(buffer.begin() + 1, buffer.end()));
}

void CheckRc4(const VecCase& c, std::mt19937& rng) {
  const Bytes key = FromHex(c.Get("Key"));
  const size_t offset = std::stoul(c.Get("Offset"));
  const Bytes out = FromHex(c.Get("Out"));
  const Bytes zeros(offset + out.size());
  auto pieces = RandomPieces(rng, zeros.size(), 3);

  MR_RC4_KEY state;
  ASSERT_EQ(1, rc4key(key.data(), static_cast<std::uint32_t>(key.size()), &state));
  Bytes stream;
  size_t at = 0;
  pieces.push_back(zeros.size());
  for (size_t p : pieces) {
    const size_t n = std::min(p, zeros.size() - at);
    Bytes chunk(n + 1);
    DWORD len = static_cast<std::uint32_t>(chunk.size());
    ASSERT_EQ(1, rc4update(&state, zeros.data() + at, static_cast<std::uint32_t>(n),
                           chunk.data(), &len));
    ASSERT_EQ(n, len);
    stream.insert(stream.end(), chunk.begin(), chunk.begin() + n);
    at += n;
  }
  EXPECT_EQ(out, Bytes(stream.begin() + offset, stream.end()));

  if (key.size() == kRc4KeyBytes) {
    // The context reads exactly 16 key bytes; encryption and decryption are
    // the same, and the final writes nothing.
    const SymRun enc = RunSym(MR_ALG_RC4, 0, true, key, nullptr, zeros, {offset});
    ASSERT_EQ(0, enc.hr);
    EXPECT_EQ(stream, enc.out);
    EXPECT_EQ(0u, enc.written.back());
    EXPECT_EQ(zeros, RunSym(MR_ALG_RC4, 0, false, key, nullptr, enc.out).out);
  }
}

void CheckHash(const VecCase& c, BYTE hashType, std::mt19937& rng) {
  Bytes in = FromHex(c.Get("In"));
  const Bytes out = FromHex(c.Get("Out"));
  if (c.Has("Repeat")) {
    const size_t times = std::stoul(c.Get("Repeat"));
    const Bytes unit = in;
    in.clear();
    for (size_t i = 0; i < times; ++i) {
      in.insert(in.end(), unit.begin(), unit.end());
    }
  }
  EXPECT_EQ(out, RunHash(hashType, in));
  EXPECT_EQ(out, RunHash(hashType, in, RandomPieces(rng, in.size(), 3)));
  if (hashType == MR_ALG_MD5) {
    Bytes digest(kMd5DigestBytes);
    EXPECT_EQ(digest.data(), MD5Digest(in.data(), static_cast<std::uint32_t>(in.size()),
                                       digest.data()));
    EXPECT_EQ(out, digest);
    DWORD len = 0;
    const BYTE dummy = 0;
    EXPECT_EQ(0, Hash_Digest(MR_ALG_MD5, in.empty() ? &dummy : in.data(),
                             static_cast<DWORD>(in.size()), digest.data(), &len));
    EXPECT_EQ(kMd5DigestBytes, len);
    EXPECT_EQ(out, digest);
  }
}

TEST_P(Vectors, KnownAnswer) {
  const VecCase& c = GetParam();
  SCOPED_TRACE(c.Where());
  ASSERT_FALSE(c.Has("Error")) << c.Get("Error");
  if (auto it = kBlockCiphers.find(c.header); it != kBlockCiphers.end()) {
    CheckBlockCipher(c, it->second, m_rng);
  } else if (auto h = kHashes.find(c.header); h != kHashes.end()) {
    CheckHash(c, h->second, m_rng);
  } else if (c.header == "RC4") {
    CheckRc4(c, m_rng);
  } else {
    FAIL() << "no runner for this header";
  }
}

std::string CaseName(const ::testing::TestParamInfo<VecCase>& info) {
  std::string name = info.param.header + "_line" + std::to_string(info.param.line);
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) {
      ch = '_';
    }
  }
  return name + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Standards, Vectors, ::testing::ValuesIn(AllCases()), CaseName);

}  // namespace
}  // namespace merro::crypto::test
