#include "device/ui/win32_user_interface.h"

namespace merro::ui {

// The confirmation dialogs are not built yet.
HRESULT Win32UserInterface::RunConfirmed(const ConfirmRequest&, const TokenCall&) {
  return E_NOTIMPL;
}

}  // namespace merro::ui
