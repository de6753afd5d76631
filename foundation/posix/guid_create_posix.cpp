// New GUIDs from the system's random source: version 4, variant 1.
#include <openssl/rand.h>

#include <cstring>

#include "foundation/misc/guid_string.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Misc"

HRESULT CreateGUIDString(UTF16CHAR* pwszGUID) {
  MR_TRACE("CreateGUIDString");
  MR_FAIL_IF(pwszGUID == nullptr, L"Check pwszGUID", static_cast<HRESULT>(0x80070057));

  unsigned char bytes[16];
  if (RAND_bytes(bytes, sizeof bytes) != 1) {
    const HRESULT hResult = static_cast<HRESULT>(0x80004005);
    MR_LOG_FAIL(L"Create GUID", L"FAILED(hResult)", hResult);
    return hResult;
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  merro::trace::Guid guid{};
  guid.data1 = static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
               static_cast<std::uint32_t>(bytes[2]) << 8 | bytes[3];
  guid.data2 = static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  guid.data3 = static_cast<std::uint16_t>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid.data4.data(), bytes + 8, 8);
  FormatGUIDString(guid, pwszGUID, kGUIDStringCapacity);
  return S_OK;
}
