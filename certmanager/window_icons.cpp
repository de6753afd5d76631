#include "certmanager/window_icons.h"

#include "certmanager_resource_ids.h"
#include "foundation/win/this_module.h"

namespace merro::certmanager {
namespace {

HICON LoadManagerIcon(int cx, int cy) {
  return static_cast<HICON>(::LoadImageW(merro::win::ThisModule(), MAKEINTRESOURCEW(IDI_MANAGER),
                                         IMAGE_ICON, cx, cy, LR_DEFAULTCOLOR));
}

}  // namespace

WindowIcons::WindowIcons()
    : m_hLarge(LoadManagerIcon(::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON))),
      m_hSmall(LoadManagerIcon(::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON))) {}

WindowIcons::~WindowIcons() {
  for (HICON hIcon : {m_hLarge, m_hSmall}) {
    if (hIcon != nullptr) {
      ::DestroyIcon(hIcon);
    }
  }
}

void WindowIcons::SetOn(HWND hWnd) const {
  ::SendMessageW(hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hLarge));
  ::SendMessageW(hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmall));
}

}  // namespace merro::certmanager
