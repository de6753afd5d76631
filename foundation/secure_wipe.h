// Wiping secrets (PINs, keys, plaintext) before their memory is released.
#pragma once

#include <cstddef>

#include <openssl/crypto.h>

namespace merro {

// Overwrites the bytes with zeros in a way the compiler cannot drop.
inline void SecureWipe(void* p, std::size_t n) {
  if (p != nullptr && n != 0) {
    OPENSSL_cleanse(p, n);
  }
}

}  // namespace merro
