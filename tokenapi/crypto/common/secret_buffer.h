// A fixed-size heap buffer for secret intermediate data (key streams,
// candidate plaintexts): allocation failure is reported, not thrown, and the
// contents are wiped before the memory is released.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace merro::crypto {

class SecretBuffer {
 public:
  explicit SecretBuffer(size_t size)
      : m_data(size != 0 ? new (std::nothrow) std::uint8_t[size]() : nullptr),
        m_size(m_data ? size : 0) {}
  ~SecretBuffer() {
    if (m_data) {
      OPENSSL_cleanse(m_data.get(), m_size);
    }
  }
  SecretBuffer(const SecretBuffer&) = delete;
  SecretBuffer& operator=(const SecretBuffer&) = delete;

  // False when the allocation failed (a zero-size buffer is never valid).
  bool ok() const { return m_data != nullptr; }
  std::uint8_t* data() { return m_data.get(); }
  const std::uint8_t* data() const { return m_data.get(); }
  size_t size() const { return m_size; }

 private:
  std::unique_ptr<std::uint8_t[]> m_data;
  size_t m_size;
};

}  // namespace merro::crypto
