#include "device/ui/confirm_text.h"

#include <vector>

#include "device/ui/buffered_paint.h"
#include "device/ui/static_background.h"

namespace merro::ui {
namespace {

std::wstring WindowText(HWND hWnd) {
  std::vector<wchar_t> buffer(static_cast<size_t>(::GetWindowTextLengthW(hWnd)) + 1);
  const int n = ::GetWindowTextW(hWnd, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

std::wstring TrimBlanks(const std::wstring& text) {
  const size_t first = text.find_first_not_of(L" \t\r");
  if (first == std::wstring::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(L" \t\r") - first + 1);
}

}  // namespace

LRESULT CConfirmText::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint fills the whole control
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC hdc = ::BeginPaint(Window(), &ps);
      if (hdc != nullptr) {
        Paint(hdc);
      }
      ::EndPaint(Window(), &ps);
      return 0;
    }
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_SETTEXT:
    case WM_SETFONT: {
      // The static control may draw the new text itself, its own way.
      const LRESULT result = CallOriginal(message, wParam, lParam);
      ::InvalidateRect(Window(), nullptr, FALSE);
      return result;
    }
    default:
      return CallOriginal(message, wParam, lParam);
  }
}

void CConfirmText::Paint(HDC target) {
  const BufferedPaint buffer(Window(), target);
  HDC hdc = buffer.Dc();
  FillStaticBackground(Window(), hdc);
  const auto font = reinterpret_cast<HFONT>(::SendMessageW(Window(), WM_GETFONT, 0, 0));
  const HGDIOBJ oldFont = font != nullptr ? ::SelectObject(hdc, font) : nullptr;
  const int oldMode = ::SetBkMode(hdc, TRANSPARENT);
  const LONG style = ::GetWindowLongW(Window(), GWL_STYLE);
  const UINT common = DT_WORDBREAK | DT_EXPANDTABS | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);

  RECT area = {};
  ::GetClientRect(Window(), &area);
  const std::wstring text = WindowText(Window());
  for (size_t begin = 0; begin <= text.size() && area.top < area.bottom;) {
    size_t end = text.find(L'\n', begin);
    if (end == std::wstring::npos) {
      end = text.size();
    }
    std::wstring line = text.substr(begin, end - begin);
    UINT flags = common | DT_LEFT;
    if (!m_heading.empty() && TrimBlanks(line) == m_heading) {
      line = m_heading;
      flags = common | DT_CENTER;
    }
    if (!line.empty() && line.back() == L'\r') {
      line.pop_back();
    }
    // An empty line still takes a line's height, as in the static control.
    const wchar_t* shown = line.empty() ? L" " : line.c_str();
    RECT measured = area;
    ::DrawTextW(hdc, shown, -1, &measured, flags | DT_CALCRECT);
    ::DrawTextW(hdc, shown, -1, &area, flags);
    area.top += measured.bottom - measured.top;
    begin = end + 1;
  }

  ::SetBkMode(hdc, oldMode);
  if (oldFont != nullptr) {
    ::SelectObject(hdc, oldFont);
  }
}

}  // namespace merro::ui
