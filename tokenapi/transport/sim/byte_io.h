// Little-endian writer and bounds-checked reader for the simulator's wire
// messages and image file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace merro::sim {

using Bytes = std::vector<std::uint8_t>;

class ByteWriter {
 public:
  void U8(std::uint8_t v) { m_out.push_back(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Raw(const std::uint8_t* p, size_t n) { m_out.insert(m_out.end(), p, p + n); }
  void Raw(const Bytes& b) { Raw(b.data(), b.size()); }
  // A byte string with a 32-bit length in front.
  void Blob(const Bytes& b) {
    U32(static_cast<std::uint32_t>(b.size()));
    Raw(b);
  }
  void Text(const std::string& s) { Blob(Bytes(s.begin(), s.end())); }
  Bytes& Out() { return m_out; }

 private:
  Bytes m_out;
};

// Every read fails (returns false) once the input is exhausted; after a
// failure the reader stays failed.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* p, size_t n) : m_p(p), m_n(n) {}
  explicit ByteReader(const Bytes& b) : ByteReader(b.data(), b.size()) {}

  bool U8(std::uint8_t* v) {
    if (!Need(1)) {
      return false;
    }
    *v = m_p[m_pos++];
    return true;
  }
  bool U16(std::uint16_t* v) {
    std::uint8_t lo = 0, hi = 0;
    if (!U8(&lo) || !U8(&hi)) {
      return false;
    }
    *v = static_cast<std::uint16_t>(lo | (hi << 8));
    return true;
  }
  bool U32(std::uint32_t* v) {
    std::uint16_t lo = 0, hi = 0;
    if (!U16(&lo) || !U16(&hi)) {
      return false;
    }
    *v = static_cast<std::uint32_t>(lo) | (static_cast<std::uint32_t>(hi) << 16);
    return true;
  }
  bool Raw(size_t n, Bytes* out) {
    if (!Need(n)) {
      return false;
    }
    out->assign(m_p + m_pos, m_p + m_pos + n);
    m_pos += n;
    return true;
  }
  bool Raw(size_t n, std::uint8_t* out) {
    if (!Need(n)) {
      return false;
    }
    for (size_t i = 0; i < n; ++i) {
      out[i] = m_p[m_pos + i];
    }
    m_pos += n;
    return true;
  }
  // A byte string with a 32-bit length in front, at most maxLen bytes.
  bool Blob(Bytes* out, size_t maxLen) {
    std::uint32_t n = 0;
    if (!U32(&n) || n > maxLen) {
      m_failed = true;
      return false;
    }
    return Raw(n, out);
  }
  bool Text(std::string* out, size_t maxLen) {
    Bytes b;
    if (!Blob(&b, maxLen)) {
      return false;
    }
    out->assign(b.begin(), b.end());
    return true;
  }
  size_t Remaining() const { return m_failed ? 0 : m_n - m_pos; }
  bool AtEnd() const { return !m_failed && m_pos == m_n; }

 private:
  bool Need(size_t n) {
    if (m_failed || n > m_n - m_pos) {
      m_failed = true;
      return false;
    }
    return true;
  }
  const std::uint8_t* m_p;
  size_t m_n;
  size_t m_pos = 0;
  bool m_failed = false;
};

}  // namespace merro::sim
