// SM2 sign, verify, encrypt and decrypt: ours against OpenSSL's EVP SM2 on
// the same key (key and context set-up outside the timed loops).
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <vector>

#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/sm2/sm2_api.h"
#include "tokenapi/crypto/sm2/sm2_curve.h"
#include "tokenapi/crypto/sm2/sm2_pkey.h"

namespace {

using merro::crypto::EvpPkeyCtxPtr;
using merro::crypto::EvpPkeyPtr;
using Bytes = std::vector<unsigned char>;

struct Fixture {
  EvpPkeyPtr pkey;
  Bytes pub;  // x || y
  Bytes e = Bytes(32, 0x5A);
  Bytes plain = Bytes(16, 0x33);  // a session key's length
};

Bytes Coordinate(EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  EVP_PKEY_get_bn_param(pkey, name, &bn);
  Bytes out(32);
  BN_bn2binpad(bn, out.data(), 32);
  BN_free(bn);
  return out;
}

Fixture& Shared() {
  static Fixture f = [] {
    Fixture x;
    x.pkey.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2"));
    x.pub = Coordinate(x.pkey.get(), OSSL_PKEY_PARAM_EC_PUB_X);
    const Bytes y = Coordinate(x.pkey.get(), OSSL_PKEY_PARAM_EC_PUB_Y);
    x.pub.insert(x.pub.end(), y.begin(), y.end());
    return x;
  }();
  return f;
}

EvpPkeyCtxPtr Context(int (*init)(EVP_PKEY_CTX*)) {
  EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, Shared().pkey.get(), nullptr));
  init(ctx.get());
  return ctx;
}

Bytes OpenSslSignature() {
  Fixture& f = Shared();
  EvpPkeyCtxPtr ctx = Context(EVP_PKEY_sign_init);
  Bytes sig(80);
  size_t len = sig.size();
  EVP_PKEY_sign(ctx.get(), sig.data(), &len, f.e.data(), f.e.size());
  sig.resize(len);
  return sig;
}

Bytes OpenSslCiphertext() {
  Fixture& f = Shared();
  EvpPkeyCtxPtr ctx = Context(EVP_PKEY_encrypt_init);
  Bytes out(200);
  size_t len = out.size();
  EVP_PKEY_encrypt(ctx.get(), out.data(), &len, f.plain.data(), f.plain.size());
  out.resize(len);
  return out;
}

void SignOurs(benchmark::State& state) {
  Fixture& f = Shared();
  Bytes sig(80);
  for (auto _ : state) {
    size_t len = sig.size();
    merro::crypto::pkey_ec_sign(f.pkey.get(), sig.data(), &len, f.e.data(), f.e.size());
    benchmark::DoNotOptimize(sig.data());
  }
}

void SignOpenSsl(benchmark::State& state) {
  Fixture& f = Shared();
  EvpPkeyCtxPtr ctx = Context(EVP_PKEY_sign_init);
  Bytes sig(80);
  for (auto _ : state) {
    size_t len = sig.size();
    EVP_PKEY_sign(ctx.get(), sig.data(), &len, f.e.data(), f.e.size());
    benchmark::DoNotOptimize(sig.data());
  }
}

// The token API's form: raw r || s against a 64-byte public key.
void VerifyOurs(benchmark::State& state) {
  Fixture& f = Shared();
  const Bytes der = OpenSslSignature();
  const unsigned char* p = der.data();
  merro::crypto::EcdsaSigPtr sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
  Bytes rs(64);
  BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), rs.data(), 32);
  BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), rs.data() + 32, 32);
  for (auto _ : state) {
    benchmark::DoNotOptimize(merro::crypto::SM2_Verify(f.pub.data(), f.e.data(), rs.data(), 64));
  }
}

void VerifyOpenSsl(benchmark::State& state) {
  Fixture& f = Shared();
  const Bytes der = OpenSslSignature();
  EvpPkeyCtxPtr ctx = Context(EVP_PKEY_verify_init);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        EVP_PKEY_verify(ctx.get(), der.data(), der.size(), f.e.data(), f.e.size()));
  }
}

// The token API's form: raw ciphertext under a 64-byte public key.
void EncryptOurs(benchmark::State& state) {
  Fixture& f = Shared();
  Bytes out(f.plain.size() + 97);
  for (auto _ : state) {
    DWORD len = 0;
    merro::crypto::SM2_Encrypt(f.pub.data(), f.plain.data(), static_cast<DWORD>(f.plain.size()),
                               out.data(), &len);
    benchmark::DoNotOptimize(out.data());
  }
}

void EncryptOpenSsl(benchmark::State& state) {
  Fixture& f = Shared();
  EvpPkeyCtxPtr ctx = Context(EVP_PKEY_encrypt_init);
  Bytes out(200);
  for (auto _ : state) {
    size_t len = out.size();
    EVP_PKEY_encrypt(ctx.get(), out.data(), &len, f.plain.data(), f.plain.size());
    benchmark::DoNotOptimize(out.data());
  }
}

// Both sides decrypt the same DER ciphertext.
void DecryptOurs(benchmark::State& state) {
  Fixture& f = Shared();
  const Bytes der = OpenSslCiphertext();
  Bytes out(f.plain.size());
  for (auto _ : state) {
    size_t len = out.size();
    merro::crypto::pkey_sm2_decrypt(f.pkey.get(), out.data(), &len, der.data(), der.size());
    benchmark::DoNotOptimize(out.data());
  }
}

void DecryptOpenSsl(benchmark::State& state) {
  Fixture& f = Shared();
  const Bytes der = OpenSslCiphertext();
  EvpPkeyCtxPtr ctx = Context(EVP_PKEY_decrypt_init);
  Bytes out(f.plain.size() + 32);
  for (auto _ : state) {
    size_t len = out.size();
    EVP_PKEY_decrypt(ctx.get(), out.data(), &len, der.data(), der.size());
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(SignOurs)->Name("SM2/ours/sign");
BENCHMARK(SignOpenSsl)->Name("SM2/openssl/sign");
BENCHMARK(VerifyOurs)->Name("SM2/ours/verify");
BENCHMARK(VerifyOpenSsl)->Name("SM2/openssl/verify");
BENCHMARK(EncryptOurs)->Name("SM2/ours/encrypt");
BENCHMARK(EncryptOpenSsl)->Name("SM2/openssl/encrypt");
BENCHMARK(DecryptOurs)->Name("SM2/ours/decrypt");
BENCHMARK(DecryptOpenSsl)->Name("SM2/openssl/decrypt");

}  // namespace
