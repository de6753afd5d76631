// A growable byte buffer for secrets (PINs, keys, plaintext): wiped whenever
// its bytes are released, so no copy of a secret outlives its use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/secure_wipe.h"

namespace merro {

class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::size_t n) : m_bytes(n, 0) {}
  SecretBytes(const void* p, std::size_t n)
      : m_bytes(static_cast<const std::uint8_t*>(p), static_cast<const std::uint8_t*>(p) + n) {}
  ~SecretBytes() { Clear(); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  SecretBytes(SecretBytes&& other) noexcept : m_bytes(std::move(other.m_bytes)) {
    other.m_bytes.clear();
  }
  SecretBytes& operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
      Clear();
      m_bytes.swap(other.m_bytes);
    }
    return *this;
  }

  // Replaces the content with a copy of p[0..n). The old bytes are wiped
  // first, and a fresh allocation never leaves a stale copy behind.
  void Assign(const void* p, std::size_t n) {
    Clear();
    std::vector<std::uint8_t> fresh(static_cast<const std::uint8_t*>(p),
                                    static_cast<const std::uint8_t*>(p) + n);
    m_bytes.swap(fresh);
  }
  // Wipes and empties the buffer (its capacity is released too).
  void Clear() {
    SecureWipe(m_bytes.data(), m_bytes.size());
    std::vector<std::uint8_t>().swap(m_bytes);
  }

  std::uint8_t* data() { return m_bytes.data(); }
  const std::uint8_t* data() const { return m_bytes.data(); }
  std::size_t size() const { return m_bytes.size(); }
  bool empty() const { return m_bytes.empty(); }

 private:
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace merro
