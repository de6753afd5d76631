#include "device/ui/image_static.h"

#include "device/ui/buffered_paint.h"
#include "device/ui/static_background.h"
#include "foundation/trace/trace.h"
#include "foundation/win/image_load.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "TransactionConfirmDlg"

namespace merro::ui {

void CImageStatic::ImageDelete::operator()(Gdiplus::Image* p) const { delete p; }

CImageStatic::CImageStatic() = default;

CImageStatic::~CImageStatic() = default;

HRESULT CImageStatic::LoadImageFromResource(UINT nResourceId) {
  MR_TRACE("CImageStatic::LoadImageFromResource");
  ClearImage();
  Gdiplus::Image* pImage = nullptr;
  const HRESULT hr = ::LoadImageFromResource(merro::win::ThisModule(), nResourceId, L"PNG", &pImage);
  MR_FAIL_IF(FAILED(hr), L"LoadImageFromResource", hr);
  m_pImage.reset(pImage);
  return S_OK;
}

void CImageStatic::ClearImage() { m_pImage.reset(); }

SIZE CImageStatic::ImageSize() const {
  if (!m_pImage) {
    return {0, 0};
  }
  return {static_cast<LONG>(m_pImage->GetWidth()), static_cast<LONG>(m_pImage->GetHeight())};
}

LRESULT CImageStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // the paint fills the whole control: no flicker
    case WM_PAINT:
      Paint();
      return 0;
    default:
      return CallOriginal(message, wParam, lParam);
  }
}

void CImageStatic::Paint() {
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(Window(), &ps);
  if (hdc != nullptr) {
    const BufferedPaint buffer(Window(), hdc);
    // The control around the picture and the picture's transparent parts
    // show the dialog's background.
    FillStaticBackground(Window(), buffer.Dc());
    // Without an image (a picture that did not load) only the background shows.
    if (m_pImage) {
      Gdiplus::Graphics graphics(buffer.Dc());
      const INT width = static_cast<INT>(m_pImage->GetWidth());
      const INT height = static_cast<INT>(m_pImage->GetHeight());
      graphics.DrawImage(m_pImage.get(), Gdiplus::Rect(0, 0, width, height), 0, 0, width, height,
                         Gdiplus::UnitPixel, nullptr);
    }
  }
  ::EndPaint(Window(), &ps);
}

}  // namespace merro::ui
