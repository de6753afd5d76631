// Block cipher and MD5 throughput: ours against OpenSSL's EVP in the same
// run, with the same loop, buffer sizes swept and key set-up timed apart.
// Names follow "<algorithm>/ours|openssl/<size>" for the ratio report.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/des/des.h"
#include "tokenapi/crypto/md5/md5.h"
#include "tokenapi/crypto/sm4/sm4.h"

namespace {

using merro::crypto::OpenSslDeleter;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, OpenSslDeleter<EVP_CIPHER_CTX_free>>;

const std::uint8_t kKey[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                               0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10,
                               0x0f, 0x1e, 0x2d, 0x3c, 0x4b, 0x5a, 0x69, 0x78};
const std::uint8_t kIv[16] = {};

void Bytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

// Encrypts or decrypts a buffer per iteration through an update routine of
// ours on a context that stays set up (the chaining runs on).
template <class Ctx, class Setup, class Update>
void RunOurs(benchmark::State& state, Setup setup, Update update) {
  const std::vector<std::uint8_t> in(static_cast<size_t>(state.range(0)), 0x5A);
  std::vector<std::uint8_t> out(in.size() + 32);
  Ctx ctx;
  setup(ctx);
  for (auto _ : state) {
    DWORD len = static_cast<DWORD>(out.size());
    update(&ctx, in.data(), static_cast<std::uint32_t>(in.size()), out.data(), &len);
    benchmark::DoNotOptimize(out.data());
  }
  Bytes(state);
}

void RunEvp(benchmark::State& state, const EVP_CIPHER* cipher, int encrypt) {
  const std::vector<std::uint8_t> in(static_cast<size_t>(state.range(0)), 0x5A);
  std::vector<std::uint8_t> out(in.size() + 32);
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  EVP_CipherInit_ex2(ctx.get(), cipher, kKey, kIv, encrypt, nullptr);
  for (auto _ : state) {
    int len = 0;
    EVP_CipherUpdate(ctx.get(), out.data(), &len, in.data(), static_cast<int>(in.size()));
    benchmark::DoNotOptimize(out.data());
  }
  Bytes(state);
}

void Sm4CbcEncryptOurs(benchmark::State& state) {
  RunOurs<merro::crypto::SM4_CTX>(
      state,
      [](auto& c) { merro::crypto::sm4key(&c, merro::crypto::kSm4Encrypt, kKey, kIv, MR_MODE_CBC); },
      merro::crypto::sm4update);
}
void Sm4CbcEncryptOpenSsl(benchmark::State& state) { RunEvp(state, EVP_sm4_cbc(), 1); }
void Sm4CbcDecryptOurs(benchmark::State& state) {
  RunOurs<merro::crypto::SM4_CTX>(
      state,
      [](auto& c) { merro::crypto::sm4key(&c, merro::crypto::kSm4Decrypt, kKey, kIv, MR_MODE_CBC); },
      merro::crypto::sm4update);
}
void Sm4CbcDecryptOpenSsl(benchmark::State& state) { RunEvp(state, EVP_sm4_cbc(), 0); }

void TdesCbcEncryptOurs(benchmark::State& state) {
  RunOurs<merro::crypto::MR_DES_CTX>(
      state,
      [](auto& c) { merro::crypto::des3key(&c, merro::crypto::kDesEncrypt, kKey, MR_MODE_CBC, kIv); },
      merro::crypto::des3update);
}
void TdesCbcEncryptOpenSsl(benchmark::State& state) { RunEvp(state, EVP_des_ede3_cbc(), 1); }

void Md5Ours(benchmark::State& state) {
  const std::vector<std::uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  std::uint8_t digest[merro::crypto::kMd5DigestBytes];
  for (auto _ : state) {
    merro::crypto::MD5Digest(data.data(), static_cast<std::uint32_t>(data.size()), digest);
    benchmark::DoNotOptimize(digest);
  }
  Bytes(state);
}
void Md5OpenSsl(benchmark::State& state) {
  const std::vector<std::uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  std::uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  const EVP_MD* md = EVP_md5();
  for (auto _ : state) {
    EVP_Digest(data.data(), data.size(), digest, &len, md, nullptr);
    benchmark::DoNotOptimize(digest);
  }
  Bytes(state);
}

// Key set-up alone.
void Sm4KeyOurs(benchmark::State& state) {
  merro::crypto::SM4_CTX ctx;
  for (auto _ : state) {
    merro::crypto::sm4key(&ctx, merro::crypto::kSm4Decrypt, kKey, kIv, MR_MODE_CBC);
    benchmark::DoNotOptimize(&ctx);
  }
}
void Sm4KeyOpenSsl(benchmark::State& state) {
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  for (auto _ : state) {
    EVP_CipherInit_ex2(ctx.get(), EVP_sm4_cbc(), kKey, kIv, 0, nullptr);
    benchmark::DoNotOptimize(ctx.get());
  }
}
void TdesKeyOurs(benchmark::State& state) {
  merro::crypto::MR_DES_CTX ctx;
  for (auto _ : state) {
    merro::crypto::des3key(&ctx, merro::crypto::kDesEncrypt, kKey, MR_MODE_CBC, kIv);
    benchmark::DoNotOptimize(&ctx);
  }
}
void TdesKeyOpenSsl(benchmark::State& state) {
  CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  for (auto _ : state) {
    EVP_CipherInit_ex2(ctx.get(), EVP_des_ede3_cbc(), kKey, kIv, 1, nullptr);
    benchmark::DoNotOptimize(ctx.get());
  }
}

#define MERRO_SIZES ->Arg(64)->Arg(1024)->Arg(16384)->Arg(1 << 20)
BENCHMARK(Sm4CbcEncryptOurs)->Name("SM4-CBC-enc/ours") MERRO_SIZES;
BENCHMARK(Sm4CbcEncryptOpenSsl)->Name("SM4-CBC-enc/openssl") MERRO_SIZES;
BENCHMARK(Sm4CbcDecryptOurs)->Name("SM4-CBC-dec/ours") MERRO_SIZES;
BENCHMARK(Sm4CbcDecryptOpenSsl)->Name("SM4-CBC-dec/openssl") MERRO_SIZES;
BENCHMARK(TdesCbcEncryptOurs)->Name("3DES-CBC-enc/ours") MERRO_SIZES;
BENCHMARK(TdesCbcEncryptOpenSsl)->Name("3DES-CBC-enc/openssl") MERRO_SIZES;
BENCHMARK(Md5Ours)->Name("MD5/ours") MERRO_SIZES;
BENCHMARK(Md5OpenSsl)->Name("MD5/openssl") MERRO_SIZES;
BENCHMARK(Sm4KeyOurs)->Name("SM4-key/ours");
BENCHMARK(Sm4KeyOpenSsl)->Name("SM4-key/openssl");
BENCHMARK(TdesKeyOurs)->Name("3DES-key/ours");
BENCHMARK(TdesKeyOpenSsl)->Name("3DES-key/openssl");

}  // namespace
