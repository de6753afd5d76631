// The value of one hexadecimal digit, for every character type.
#pragma once

namespace merro {

// 0-15 for 0-9, A-F and a-f; -1 for any other character.
constexpr int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9') {
    return static_cast<int>(c - U'0');
  }
  if (c >= U'A' && c <= U'F') {
    return static_cast<int>(c - U'A') + 10;
  }
  if (c >= U'a' && c <= U'f') {
    return static_cast<int>(c - U'a') + 10;
  }
  return -1;
}

}  // namespace merro
