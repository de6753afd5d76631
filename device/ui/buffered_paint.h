// Painting a control off the screen: a memory bitmap the size of the
// control's client area, copied onto the control's DC when the scope ends.
// The control never shows half a paint (no flicker), and GDI+ blends a
// picture's alpha into a plain bitmap instead of into a window.
#pragma once

#include <windows.h>

namespace merro::ui {

class BufferedPaint {
 public:
  BufferedPaint(HWND control, HDC target);
  ~BufferedPaint();
  BufferedPaint(const BufferedPaint&) = delete;
  BufferedPaint& operator=(const BufferedPaint&) = delete;

  // The DC to paint on: the memory bitmap, or the target itself when no
  // bitmap could be made.
  HDC Dc() const { return m_memory != nullptr ? m_memory : m_target; }

 private:
  HDC m_target;
  RECT m_client = {};
  HDC m_memory = nullptr;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_old = nullptr;
};

}  // namespace merro::ui
