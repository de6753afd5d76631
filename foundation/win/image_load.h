// GDI+ images from memory and from PNG resources. GDI+ must be started in
// the process. The caller owns (and deletes) the image handed out; the image
// keeps its own copy of the picture's octets for as long as it lives.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <algorithm>

// GDI+'s headers use min and max, which NOMINMAX removes.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>

// Makes an image of the picture in memory. A picture GDI+ cannot read gives
// a failure, and *ppImage is left as the caller set it on every failure.
HRESULT LoadImageFromData(const BYTE* pImageData, DWORD dwImageDataSize, Gdiplus::Image** ppImage);

// The same for a resource of the module (for example type L"PNG").
HRESULT LoadImageFromResource(HMODULE hModule, UINT nResourceId, LPCWSTR lpType,
                              Gdiplus::Image** ppImage);
