// GDI+ for as long as a window with a picture stands. A dialog that shows a
// picture starts GDI+ when it opens and shuts it down when it ends: never
// DllMain or the token layer's start, because GdiplusStartup under the loader
// lock can deadlock a host process, and the provider DLL is unloaded at
// every last release, so nothing may stay started in it. Every GDI+ object
// made meanwhile must be gone before the session ends.
#pragma once

#include <windows.h>

namespace merro::ui {

class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  // Whether GDI+ started; without it no image can be made.
  bool Started() const { return m_bStarted; }

 private:
  ULONG_PTR m_token = 0;
  bool m_bStarted = false;
};

}  // namespace merro::ui
