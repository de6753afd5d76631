// The manager's icon (resource 100) in the system's large and small sizes,
// given to a window as its own icons and destroyed with the object.
#pragma once

#include <windows.h>

namespace merro::certmanager {

class WindowIcons {
 public:
  WindowIcons();
  ~WindowIcons();
  WindowIcons(const WindowIcons&) = delete;
  WindowIcons& operator=(const WindowIcons&) = delete;

  // Makes them the window's large and small icons (WM_SETICON).
  void SetOn(HWND hWnd) const;
  HICON Small() const { return m_hSmall; }

 private:
  HICON m_hLarge = nullptr;
  HICON m_hSmall = nullptr;
};

}  // namespace merro::certmanager
