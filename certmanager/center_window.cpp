#include "certmanager/center_window.h"

namespace merro::certmanager {

void CenterOverOwner(HWND hWnd) {
  RECT self = {};
  if (!::GetWindowRect(hWnd, &self)) {
    return;
  }
  RECT area = {};
  const HWND owner = ::GetWindow(hWnd, GW_OWNER);
  if (owner == nullptr || !::IsWindowVisible(owner) || !::GetWindowRect(owner, &area)) {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const LONG width = self.right - self.left;
  const LONG height = self.bottom - self.top;
  const LONG x = area.left + ((area.right - area.left) - width) / 2;
  const LONG y = area.top + ((area.bottom - area.top) - height) / 2;
  ::SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace merro::certmanager
