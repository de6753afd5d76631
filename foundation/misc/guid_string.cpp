#include "foundation/misc/guid_string.h"

size_t FormatGUIDString(const merro::trace::Guid& guid, UTF16CHAR* pwszBuffer, size_t cchBuffer) {
  if (pwszBuffer == nullptr || cchBuffer < kGUIDStringLength + 1) {
    return 0;
  }
  static const char kHex[] = "0123456789ABCDEF";
  UTF16CHAR* w = pwszBuffer;
  const auto put = [&w](std::uint64_t value, int octets) {
    for (int shift = octets * 8 - 4; shift >= 0; shift -= 4) {
      *w++ = static_cast<UTF16CHAR>(kHex[(value >> shift) & 0xF]);
    }
  };
  *w++ = '{';
  put(guid.data1, 4);
  *w++ = '-';
  put(guid.data2, 2);
  *w++ = '-';
  put(guid.data3, 2);
  *w++ = '-';
  put(guid.data4[0], 1);
  put(guid.data4[1], 1);
  *w++ = '-';
  for (size_t i = 2; i < 8; ++i) {
    put(guid.data4[i], 1);
  }
  *w++ = '}';
  *w = 0;
  return kGUIDStringLength;
}
