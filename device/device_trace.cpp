#include "device/device_trace.h"

#include <memory>

#include "foundation/misc/text_convert.h"

namespace merro::device {
namespace {

// The name as UTF-16 text, or null when it cannot be converted (the record
// then carries "NULL").
std::unique_ptr<wchar_t[]> Widened(const char* pszName) {
  wchar_t* wide = nullptr;
  if (pszName == nullptr || FAILED(UTF8ToUTF16(pszName, &wide, nullptr))) {
    return nullptr;
  }
  return std::unique_ptr<wchar_t[]>(wide);
}

}  // namespace

void TraceDeviceName(std::uint16_t number, const char* pszName) {
  const std::unique_ptr<wchar_t[]> wide = Widened(pszName);
  TraceDeviceValue(number, {wide.get()});
}

void TraceDeviceName(std::uint16_t number, const char* pszName, DWORD dwValue) {
  const std::unique_ptr<wchar_t[]> wide = Widened(pszName);
  TraceDeviceValue(number, {wide.get(), dwValue});
}

}  // namespace merro::device
