#include "device/ui/win32_user_interface.h"

namespace merro::ui {

// The token selection dialog is not built yet.
HRESULT Win32UserInterface::SelectToken(HWND, const std::vector<device::DeviceItem>&, int*) {
  return E_NOTIMPL;
}

}  // namespace merro::ui
