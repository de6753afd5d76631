#include "device/ui/win32_user_interface.h"

namespace merro::ui {

// Message boxes are not built yet.
int Win32UserInterface::ShowMessage(HWND, UINT, UINT, UINT) { return 0; }

}  // namespace merro::ui
