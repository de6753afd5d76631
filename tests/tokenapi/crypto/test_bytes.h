// Byte strings and hexadecimal for the crypto tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace merro::crypto::test {

using Bytes = std::vector<std::uint8_t>;

// Hexadecimal text (spaces allowed) to bytes.
inline Bytes FromHex(const std::string& hex) {
  std::string digits;
  for (char c : hex) {
    if (c != ' ') {
      digits.push_back(c);
    }
  }
  Bytes out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

inline Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

}  // namespace merro::crypto::test
