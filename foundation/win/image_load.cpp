#include "foundation/win/image_load.h"

#include <cstring>

#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Misc"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNoPointer = static_cast<HRESULT>(0x80004003);
constexpr HRESULT kFail = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);

using merro::win::FailedCallResult;

// Holds the stream over the picture's memory; a base of StreamImage that is
// constructed before and destroyed after the GDI+ image reading from it.
class StreamHolder {
 protected:
  explicit StreamHolder(IStream* pStream) : m_pStream(pStream) {}
  ~StreamHolder() { m_pStream->Release(); }
  StreamHolder(const StreamHolder&) = delete;
  StreamHolder& operator=(const StreamHolder&) = delete;

  IStream* m_pStream;
};

// A GDI+ image that owns the stream (and through it the memory) it was made
// from, so the picture stays readable for the image's whole life.
class StreamImage final : private StreamHolder, public Gdiplus::Image {
 public:
  explicit StreamImage(IStream* pStream) : StreamHolder(pStream), Gdiplus::Image(pStream) {}
};

// Global memory until a stream takes it over.
class GlobalMemory {
 public:
  explicit GlobalMemory(HGLOBAL h) : m_h(h) {}
  ~GlobalMemory() {
    if (m_h != nullptr) {
      ::GlobalFree(m_h);
    }
  }
  GlobalMemory(const GlobalMemory&) = delete;
  GlobalMemory& operator=(const GlobalMemory&) = delete;
  HGLOBAL Get() const { return m_h; }
  HGLOBAL Release() {
    HGLOBAL h = m_h;
    m_h = nullptr;
    return h;
  }

 private:
  HGLOBAL m_h;
};

HRESULT StatusResult(Gdiplus::Status status) {
  return status == Gdiplus::OutOfMemory ? kNoMemory : kFail;
}

}  // namespace

HRESULT LoadImageFromData(const BYTE* pImageData, DWORD dwImageDataSize, Gdiplus::Image** ppImage) {
  MR_TRACE("LoadImageFromData");
  MR_FAIL_IF(pImageData == NULL || dwImageDataSize == 0, L"Check parameter", kBadArgument);
  MR_FAIL_IF(ppImage == NULL, L"Check parameter", kBadArgument);
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 19, {dwImageDataSize});

  GlobalMemory memory(::GlobalAlloc(GMEM_MOVEABLE, dwImageDataSize));
  if (memory.Get() == nullptr) {
    const HRESULT hr = FailedCallResult(ERROR_NOT_ENOUGH_MEMORY);
    MR_LOG_FAIL(L"GlobalAlloc", L"hMemoryObject == NULL", hr);
    return hr;
  }
  void* pMemoryBlock = ::GlobalLock(memory.Get());
  if (pMemoryBlock == nullptr) {
    const HRESULT hr = FailedCallResult(ERROR_NOT_ENOUGH_MEMORY);
    MR_LOG_FAIL(L"GlobalLock", L"pMemoryBlock == NULL", hr);
    return hr;
  }
  std::memcpy(pMemoryBlock, pImageData, dwImageDataSize);
  ::GlobalUnlock(memory.Get());

  IStream* pStream = nullptr;
  const HRESULT hResult = ::CreateStreamOnHGlobal(memory.Get(), TRUE, &pStream);
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"CreateStreamOnHGlobal", L"FAILED(hResult)", hResult);
    return hResult;
  }
  memory.Release();  // the stream frees it now

  // GDI+ allocates its objects itself and reports failure by a null result.
  StreamImage* pImage = new StreamImage(pStream);
  if (pImage == nullptr) {
    pStream->Release();
    MR_LOG_FAIL(L"FromStream", L"*ppImage == NULL", kNoPointer);
    return kNoPointer;
  }
  const Gdiplus::Status status = pImage->GetLastStatus();
  if (status != Gdiplus::Ok) {
    delete pImage;
    const HRESULT hr = StatusResult(status);
    MR_LOG_FAIL(L"FromStream", L"pImage->GetLastStatus() != Ok", hr);
    return hr;
  }
  *ppImage = pImage;
  return S_OK;
}

HRESULT LoadImageFromResource(HMODULE hModule, UINT nResourceId, LPCWSTR lpType,
                              Gdiplus::Image** ppImage) {
  MR_TRACE("LoadImageFromResource");
  MR_FAIL_IF(lpType == NULL || ppImage == NULL, L"Check parameter", kBadArgument);

  HRSRC hResource = ::FindResourceW(hModule, MAKEINTRESOURCEW(nResourceId), lpType);
  if (hResource == nullptr) {
    const HRESULT hr = FailedCallResult(ERROR_RESOURCE_NAME_NOT_FOUND);
    MR_LOG_FAIL(L"FindResource", L"hResource == NULL", hr);
    return hr;
  }
  const DWORD dwResSize = ::SizeofResource(hModule, hResource);
  if (dwResSize == 0) {
    const HRESULT hr = FailedCallResult(ERROR_RESOURCE_DATA_NOT_FOUND);
    MR_LOG_FAIL(L"SizeofResource", L"dwResSize == 0", hr);
    return hr;
  }
  HGLOBAL hResData = ::LoadResource(hModule, hResource);
  const void* lpResData = hResData != nullptr ? ::LockResource(hResData) : nullptr;
  if (lpResData == nullptr) {
    const HRESULT hr = FailedCallResult(ERROR_RESOURCE_DATA_NOT_FOUND);
    MR_LOG_FAIL(L"LoadResource", L"lpResData == NULL", hr);
    return hr;
  }
  const HRESULT hResult =
      LoadImageFromData(static_cast<const BYTE*>(lpResData), dwResSize, ppImage);
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"LoadImageFromData", L"FAILED(hResult)", hResult);
  }
  ::FreeResource(hResData);
  return hResult;
}
