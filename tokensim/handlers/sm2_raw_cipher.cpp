#include "tokensim/handlers/sm2_raw_cipher.h"

#include <openssl/crypto.h>

namespace merro::tokensim {
namespace {

constexpr size_t kCoordLen = 32;
constexpr size_t kCheckLen = 32;

void AppendLength(size_t len, Bytes* out) {
  if (len < 0x80) {
    out->push_back(static_cast<std::uint8_t>(len));
  } else if (len <= 0xFF) {
    out->insert(out->end(), {0x81, static_cast<std::uint8_t>(len)});
  } else {
    out->insert(out->end(),
                {0x82, static_cast<std::uint8_t>(len >> 8), static_cast<std::uint8_t>(len)});
  }
}

void AppendTlv(std::uint8_t tag, const std::uint8_t* p, size_t n, Bytes* out) {
  out->push_back(tag);
  AppendLength(n, out);
  out->insert(out->end(), p, p + n);
}

// An unsigned big-endian number as a DER INTEGER.
void AppendInteger(const std::uint8_t* p, size_t n, Bytes* out) {
  while (n > 1 && *p == 0) {
    ++p;
    --n;
  }
  Bytes value;
  if ((*p & 0x80) != 0) {
    value.push_back(0);
  }
  value.insert(value.end(), p, p + n);
  AppendTlv(0x02, value.data(), value.size(), out);
}

}  // namespace

Bytes Sm2RawToDer(const std::uint8_t* c, size_t n) {
  // A plaintext of at least one byte, and one that fits a 16-bit length.
  if (n <= kSm2CipherOverhead || n > 0xFFFF || c[0] != 0x04) {
    return {};
  }
  const std::uint8_t* x = c + 1;
  const std::uint8_t* y = x + kCoordLen;
  const std::uint8_t* c2 = y + kCoordLen;
  const size_t c2Len = n - kSm2CipherOverhead;
  const std::uint8_t* c3 = c2 + c2Len;
  Bytes body;
  AppendInteger(x, kCoordLen, &body);
  AppendInteger(y, kCoordLen, &body);
  AppendTlv(0x04, c3, kCheckLen, &body);
  AppendTlv(0x04, c2, c2Len, &body);
  Bytes der;
  AppendTlv(0x30, body.data(), body.size(), &der);
  return der;
}

bool Sm2DecryptRaw(EVP_PKEY* key, const std::uint8_t* c, size_t n, SecretBytes* pPlain) {
  const Bytes der = Sm2RawToDer(c, n);
  if (der.empty() || !EVP_PKEY_is_a(key, "SM2")) {
    return false;
  }
  const EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  size_t len = 0;
  if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
      EVP_PKEY_decrypt(ctx.get(), nullptr, &len, der.data(), der.size()) != 1) {
    return false;
  }
  SecretBytes plain(len);
  if (EVP_PKEY_decrypt(ctx.get(), plain.data(), &len, der.data(), der.size()) != 1 ||
      len != n - kSm2CipherOverhead) {
    return false;
  }
  OPENSSL_cleanse(plain.data() + len, plain.size() - len);
  plain.bytes().resize(len);
  pPlain->bytes().swap(plain.bytes());
  return true;
}

}  // namespace merro::tokensim
