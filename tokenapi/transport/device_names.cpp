#include "tokenapi/transport/device_names.h"

#include <cstring>

#include "foundation/trace/trace.h"
#include "tokenapi/transport/device_ctx.h"
#include "tokenapi/transport/hex_text.h"
#include "tokenapi/transport/usb_ids.h"

namespace merro::transport {

bool ParseParentUsbIds(std::u16string_view parentId, WORD* pVendorId, WORD* pProductId) {
  MR_TRACE("ParseParentUsbIds");
  const std::u16string_view prefix(kUsbIdPrefix);
  const std::u16string_view infix(kUsbPidInfix);
  if (parentId.size() < kProductIdOffset + 4 || parentId.substr(0, prefix.size()) != prefix ||
      parentId.substr(kVendorIdOffset + 4, infix.size()) != infix) {
    return false;
  }
  // HexTextToWord wants terminated text; copy the two digit groups.
  const std::u16string vid(parentId.substr(kVendorIdOffset, 4));
  const std::u16string pid(parentId.substr(kProductIdOffset, 4));
  for (const char16_t c : vid + pid) {
    const bool hex = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F') || (c >= u'a' && c <= u'f');
    if (!hex) {
      return false;
    }
  }
  *pVendorId = HexTextToWord(vid.c_str());
  *pProductId = HexTextToWord(pid.c_str());
  return true;
}

DWORD PackDeviceNames(const std::vector<std::string>& names, BYTE* pBuf, DWORD nCapacity) {
  MR_TRACE("PackDeviceNames");
  size_t packed = 0;
  for (const std::string& name : names) {
    const size_t need = name.size() + 1;  // the name and its zero
    // The final zero of the list must fit behind it too.
    if (pBuf == nullptr || packed + need + 1 > nCapacity) {
      break;
    }
    std::memcpy(pBuf + packed, name.c_str(), need);
    packed += need;
  }
  if (packed == 0) {
    return 0;
  }
  pBuf[packed] = 0;
  return static_cast<DWORD>(packed + 1);
}

MutexNameError DeviceMutexNameFromPath(std::string_view path, std::string* pName) {
  MR_TRACE("DeviceMutexNameFromPath");
  const size_t rev = path.find("rev_");
  if (rev == std::string_view::npos) {
    return MutexNameError::NoRev;
  }
  const size_t begin = path.find('#', rev);
  if (begin == std::string_view::npos) {
    return MutexNameError::NoHashAfterRev;
  }
  const size_t end = path.find('#', begin + 1);
  if (end == std::string_view::npos) {
    return MutexNameError::NoHashAfterBegin;
  }
  const std::string_view instance = path.substr(begin + 1, end - begin - 1);
  if (instance.size() >= MR_MUTEX_NAME_LEN) {
    return MutexNameError::TooLong;
  }
  pName->assign(instance);
  return MutexNameError::None;
}

}  // namespace merro::transport
