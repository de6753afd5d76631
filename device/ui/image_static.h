// A static control that paints a GDI+ image, unscaled, at its top-left
// corner over the parent's background: the token picture of the transaction
// dialog, the manager's logo.
// It is attached to an existing static control by subclassing. GDI+ must
// run (GdiplusSession) from loading the image until it is cleared.
#pragma once

#include <windows.h>

#include <memory>

#include "device/ui/dialog_base.h"

namespace Gdiplus {
class Image;
}

namespace merro::ui {

class CImageStatic : public SubclassedWindow {
 public:
  CImageStatic();
  ~CImageStatic() override;

  // Clears the image, then loads PNG resource `nResourceId` of the module
  // that holds this code. On failure the control has no image (and paints
  // only its background).
  HRESULT LoadImageFromResource(UINT nResourceId);
  // Deletes the image; before GDI+ shuts down.
  void ClearImage();
  bool HasImage() const { return m_pImage != nullptr; }
  // The image's size in pixels; 0 x 0 without an image.
  SIZE ImageSize() const;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint();

  struct ImageDelete {
    void operator()(Gdiplus::Image* p) const;
  };
  std::unique_ptr<Gdiplus::Image, ImageDelete> m_pImage;
};

}  // namespace merro::ui
