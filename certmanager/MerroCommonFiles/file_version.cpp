#include "certmanager/MerroCommonFiles/file_version.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MerroManagerFunction"

HRESULT ReadFileVersion(const wchar_t* wszFileName, wchar_t* wszText, DWORD dwCapacity) {
  MR_TRACE("ReadFileVersion");
  MR_FAIL_IF(wszFileName == nullptr || wszText == nullptr || dwCapacity == 0, L"Check parameters",
             E_INVALIDARG);
  DWORD handle = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(wszFileName, &handle);
  if (size == 0) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_RESOURCE_TYPE_NOT_FOUND);
    MR_LOG_FAIL(L"GetFileVersionInfoSizeW", L"dwSize == 0", hr);
    return hr;
  }
  std::vector<BYTE> info(size);
  if (!::GetFileVersionInfoW(wszFileName, 0, size, info.data())) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_RESOURCE_TYPE_NOT_FOUND);
    MR_LOG_FAIL(L"GetFileVersionInfoW", L"bRetCode == FALSE", hr);
    return hr;
  }
  // The translation table: pairs of 16-bit language and code page.
  void* table = nullptr;
  UINT tableBytes = 0;
  if (!::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &table, &tableBytes) ||
      table == nullptr || tableBytes < 2 * sizeof(WORD)) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_RESOURCE_DATA_NOT_FOUND);
    MR_LOG_FAIL(L"VerQueryValueW", L"Translation", hr);
    return hr;
  }
  WORD pair[2];
  std::memcpy(pair, table, sizeof pair);
  wchar_t query[64];
  std::swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\%ls", pair[0], pair[1], L"FileVersion");
  void* value = nullptr;
  UINT chars = 0;
  if (!::VerQueryValueW(info.data(), query, &value, &chars) || value == nullptr) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_RESOURCE_DATA_NOT_FOUND);
    MR_LOG_FAIL(L"VerQueryValueW", L"FileVersion", hr);
    return hr;
  }
  // chars counts the terminator when there is one; the copy never relies on it.
  const wchar_t* text = static_cast<const wchar_t*>(value);
  DWORD n = 0;
  while (n < chars && n + 1 < dwCapacity && text[n] != L'\0') {
    wszText[n] = text[n];
    ++n;
  }
  wszText[n] = L'\0';
  return S_OK;
}
