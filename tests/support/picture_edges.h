// The pixels on the outer edges of a picture (row 0, the last row, column 0
// and the last column), for tests that a picture stands on its background
// with no frame of its own; and a count of one colour in the whole picture,
// for outlines a renderer added. GDI+ must be started.
#pragma once

#include <cstddef>
#include <vector>

#include "foundation/win/image_load.h"

namespace merro::test {

inline std::vector<Gdiplus::ARGB> EdgePixels(Gdiplus::Bitmap& bitmap) {
  std::vector<Gdiplus::ARGB> pixels;
  const INT w = static_cast<INT>(bitmap.GetWidth());
  const INT h = static_cast<INT>(bitmap.GetHeight());
  auto add = [&](INT x, INT y) {
    Gdiplus::Color c;
    // A pixel that cannot be read counts as black.
    pixels.push_back(bitmap.GetPixel(x, y, &c) == Gdiplus::Ok ? c.GetValue() : 0xFF000000u);
  };
  for (INT x = 0; x < w; ++x) {
    add(x, 0);
    add(x, h - 1);
  }
  for (INT y = 0; y < h; ++y) {
    add(0, y);
    add(w - 1, y);
  }
  return pixels;
}

inline size_t CountPixels(Gdiplus::Bitmap& bitmap, Gdiplus::ARGB value) {
  size_t count = 0;
  for (INT y = 0; y < static_cast<INT>(bitmap.GetHeight()); ++y) {
    for (INT x = 0; x < static_cast<INT>(bitmap.GetWidth()); ++x) {
      Gdiplus::Color c;
      count += bitmap.GetPixel(x, y, &c) == Gdiplus::Ok && c.GetValue() == value;
    }
  }
  return count;
}

}  // namespace merro::test
