// New GUIDs from the system (CoCreateGuid) in registry form.
#include <windows.h>
#include <objbase.h>

#include "foundation/misc/guid_string.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Misc"

HRESULT CreateGUIDString(UTF16CHAR* pwszGUID) {
  MR_TRACE("CreateGUIDString");
  MR_FAIL_IF(pwszGUID == NULL, L"Check pwszGUID", static_cast<HRESULT>(0x80070057));

  GUID guid;
  const HRESULT hResult = ::CoCreateGuid(&guid);
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"Create GUID", L"FAILED(hResult)", hResult);
    return hResult;
  }
  const int nStringLen = ::StringFromGUID2(guid, pwszGUID, static_cast<int>(kGUIDStringCapacity));
  if (nStringLen == 0) {
    const HRESULT hr = merro::win::FailedCallResult(ERROR_INSUFFICIENT_BUFFER);
    MR_LOG_FAIL(L"StringFromGUID2", L"nStringLen == 0", hr);
    return hr;
  }
  return S_OK;
}
