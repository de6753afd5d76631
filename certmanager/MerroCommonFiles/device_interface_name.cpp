#include "certmanager/MerroCommonFiles/device_interface_name.h"

#include "foundation/trace/trace.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MerroManagerFunction"

namespace {

constexpr size_t kIdChars = 4;

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; }

// The four characters after the tag (lower-case ASCII), when more than four
// follow it.
bool IdAfterTag(const std::wstring& name, const wchar_t* tag, std::wstring* pId) {
  std::wstring lower(name);
  for (wchar_t& c : lower) {
    c = AsciiLower(c);
  }
  const size_t at = lower.find(tag);
  if (at == std::wstring::npos) {
    return false;
  }
  const size_t start = at + std::wstring(tag).size();
  if (name.size() - start <= kIdChars) {
    return false;
  }
  *pId = name.substr(start, kIdChars);
  return true;
}

}  // namespace

HRESULT GetVidAndPidFromDBCCName(const wchar_t* wszName, std::wstring* pProductId,
                                 std::wstring* pVendorId) {
  MR_TRACE("GetVidAndPidFromDBCCName");
  MR_FAIL_IF(wszName == nullptr || pProductId == nullptr || pVendorId == nullptr,
             L"Check parameters", E_INVALIDARG);
  const std::wstring name(wszName);
  std::wstring vendor;
  std::wstring product;
  MR_FAIL_IF(!IdAfterTag(name, L"vid_", &vendor), L"Find Vid_", E_INVALIDARG);
  MR_FAIL_IF(!IdAfterTag(name, L"pid_", &product), L"Find Pid_", E_INVALIDARG);
  *pProductId = std::move(product);
  *pVendorId = std::move(vendor);
  return S_OK;
}
