#include "device/ui/static_background.h"

namespace merro::ui {

void FillStaticBackground(HWND control, HDC hdc) {
  RECT client = {};
  ::GetClientRect(control, &client);
  auto brush = reinterpret_cast<HBRUSH>(::SendMessageW(::GetParent(control), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(hdc),
                                                       reinterpret_cast<LPARAM>(control)));
  ::FillRect(hdc, &client, brush != nullptr ? brush : ::GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace merro::ui
