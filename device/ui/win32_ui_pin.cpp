#include "device/ui/win32_user_interface.h"

namespace merro::ui {

// The PIN dialog is not built yet.
HRESULT Win32UserInterface::AskPin(const PinRequest&, SecretBytes*) { return E_NOTIMPL; }

}  // namespace merro::ui
