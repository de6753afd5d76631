// SM3 throughput: ours against OpenSSL's EVP_sm3, same loop, sizes swept.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "tokenapi/crypto/sm3/sm3.h"

namespace {

void Sm3Ours(benchmark::State& state) {
  const std::vector<std::uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  std::uint8_t digest[merro::crypto::kSm3DigestBytes];
  for (auto _ : state) {
    merro::crypto::SM3(data.data(), data.size(), digest);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void Sm3OpenSsl(benchmark::State& state) {
  const std::vector<std::uint8_t> data(static_cast<size_t>(state.range(0)), 0x5A);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  const EVP_MD* md = EVP_sm3();
  std::uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  for (auto _ : state) {
    EVP_DigestInit_ex(ctx.get(), md, nullptr);
    EVP_DigestUpdate(ctx.get(), data.data(), data.size());
    EVP_DigestFinal_ex(ctx.get(), digest, &len);
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(Sm3Ours)->Name("SM3/ours")->RangeMultiplier(16)->Range(64, 1 << 20);
BENCHMARK(Sm3OpenSsl)->Name("SM3/openssl")->RangeMultiplier(16)->Range(64, 1 << 20);

}  // namespace
