// DeviceHandle::CheckDefaultPINStat: every PIN entry runs it first. Settings
// that forbid the factory user PIN warn the user and refuse while the PIN
// was never changed.
#include "device/device_handle.h"
#include "device/ui/user_interface.h"
#include "foundation/trace/trace.h"
#include "resources/device/device_resource_ids.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "DeviceHandle"

namespace merro::device {
namespace {
// The settings value that forbids the factory user PIN.
constexpr DWORD kRefuseDefaultPIN = 2;
}  // namespace

HRESULT DeviceHandle::CheckDefaultPINStat(DWORD dwModified) {
  MR_TRACE("DeviceHandle::CheckDefaultPINStat");
  if (dwModified == 0 && m_dwDefaultPINCheck == kRefuseDefaultPIN) {
    ui::UserInterface::Current().ShowMessage(nullptr, IDS_DEFAULT_PIN_WARNING,
                                             IDS_DEFAULT_PIN_CAPTION, MB_ICONWARNING);
    MR_LOG_FAIL(L"CHECK if using default PIN", L"TRUE", SCARD_W_SECURITY_VIOLATION);
    return SCARD_W_SECURITY_VIOLATION;
  }
  return S_OK;
}

}  // namespace merro::device
