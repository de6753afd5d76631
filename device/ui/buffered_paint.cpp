#include "device/ui/buffered_paint.h"

namespace merro::ui {

BufferedPaint::BufferedPaint(HWND control, HDC target) : m_target(target) {
  ::GetClientRect(control, &m_client);
  if (m_client.right <= 0 || m_client.bottom <= 0) {
    return;
  }
  m_memory = ::CreateCompatibleDC(target);
  m_bitmap = m_memory != nullptr ? ::CreateCompatibleBitmap(target, m_client.right, m_client.bottom)
                                 : nullptr;
  if (m_bitmap == nullptr) {
    if (m_memory != nullptr) {
      ::DeleteDC(m_memory);
      m_memory = nullptr;
    }
    return;
  }
  m_old = ::SelectObject(m_memory, m_bitmap);
}

BufferedPaint::~BufferedPaint() {
  if (m_memory == nullptr) {
    return;
  }
  ::BitBlt(m_target, 0, 0, m_client.right, m_client.bottom, m_memory, 0, 0, SRCCOPY);
  ::SelectObject(m_memory, m_old);
  ::DeleteObject(m_bitmap);
  ::DeleteDC(m_memory);
}

}  // namespace merro::ui
