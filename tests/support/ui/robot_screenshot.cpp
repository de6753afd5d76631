// The robot's screenshots: the dialog's rectangle copied from the screen
// and written as PNG with GDI+.
#include <cstdlib>
#include <memory>

#include "foundation/win/file_util.h"
#include "foundation/win/image_load.h"  // GDI+ with the project's min/max fix
#include "tests/support/ui/window_robot.h"

namespace merro::test {

namespace {

class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    m_ok = Gdiplus::GdiplusStartup(&m_token, &input, nullptr) == Gdiplus::Ok;
  }
  ~GdiplusSession() {
    if (m_ok) {
      Gdiplus::GdiplusShutdown(m_token);
    }
  }
  bool Ok() const { return m_ok; }

 private:
  ULONG_PTR m_token = 0;
  bool m_ok = false;
};

bool PngEncoder(CLSID* clsid) {
  UINT count = 0;
  UINT bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) {
    return false;
  }
  std::unique_ptr<BYTE[]> buffer(new BYTE[bytes]);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.get());
  if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) {
    return false;
  }
  for (UINT i = 0; i < count; ++i) {
    if (::lstrcmpW(codecs[i].MimeType, L"image/png") == 0) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

}  // namespace

std::wstring WindowRobot::Screenshot(HWND dialog, const std::wstring& name) {
  std::wstring folder = PathFromEnvironment("MERRO_UI_SHOTS");
  if (folder.empty()) {
    return {};
  }
  const char* lang = std::getenv("MERRO_UI_LANG");
  const std::string run = lang != nullptr && *lang != '\0' ? lang : "default";
  folder += L"\\" + std::wstring(run.begin(), run.end());  // ASCII
  CreateDirectories((folder + L"\\").c_str());
  const std::wstring file = folder + L"\\" + name + L".png";

  // Let the dialog finish painting before the screen is read.
  ::RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  ::Sleep(200);
  // And let its thread come to rest: the screen is read through the X
  // connection the dialog's thread also uses (for a cursor it loads, say),
  // and libX11 can deadlock when two threads use it at once.
  WaitForMessageLoop(dialog);
  RECT r;
  if (!::GetWindowRect(dialog, &r) || r.right <= r.left || r.bottom <= r.top) {
    Fail("no window rectangle for screenshot " + Utf8(name));
    return {};
  }
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  const bool copied = ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);

  bool saved = false;
  if (copied) {
    GdiplusSession gdiplus;
    CLSID png;
    if (gdiplus.Ok() && PngEncoder(&png)) {
      Gdiplus::Bitmap image(bitmap, nullptr);
      saved = image.Save(file.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
  }
  ::DeleteObject(bitmap);
  if (!saved) {
    Fail("screenshot " + Utf8(file) + " not written");
    return {};
  }
  return file;
}

}  // namespace merro::test
