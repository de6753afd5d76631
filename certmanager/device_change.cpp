#include "certmanager/device_change.h"

#include <initguid.h>
#include <shellapi.h>
#include <usbiodef.h>

#include <cstddef>
#include <cwchar>
#include <string>

#include "certmanager/MerroCommonFiles/device_interface_name.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/flag_file.h"
#include "foundation/win/win_resource.h"
#include "tokenapi/api/token_types.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

namespace merro::certmanager {
namespace {

// The URL cache header entry that IncrementUrlCacheHeaderData bumps after a
// token left, so that cached pages of the session are not served again.
constexpr DWORD kUrlCacheHeaderIndex = 14;

bool HexEquals(const std::wstring& text, WORD value) {
  wchar_t* end = nullptr;
  const unsigned long parsed = std::wcstoul(text.c_str(), &end, 16);
  return !text.empty() && end != nullptr && *end == L'\0' && parsed == value;
}

}  // namespace

bool IsTokenBroadcast(const DEV_BROADCAST_HDR* pHeader) {
  if (pHeader == nullptr || pHeader->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      pHeader->dbch_size <= offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) {
    return false;
  }
  const auto* pInterface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(pHeader);
  if (!::IsEqualGUID(pInterface->dbcc_classguid, GUID_DEVINTERFACE_USB_DEVICE)) {
    return false;
  }
  // The name ends at its terminator or at the broadcast's end.
  const size_t maxChars =
      (pHeader->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) / sizeof(wchar_t);
  const std::wstring name(pInterface->dbcc_name, wcsnlen(pInterface->dbcc_name, maxChars));
  std::wstring productId, vendorId;
  if (GetVidAndPidFromDBCCName(name.c_str(), &productId, &vendorId) != S_OK) {
    return false;
  }
  return HexEquals(productId, merro::transport::kTokenUsbProductId) &&
         HexEquals(vendorId, merro::transport::kTokenUsbVendorId);
}

void OpenBankPage() {
  MR_TRACE("OpenBankPage");
  if (merro::win::FlagFileExists()) {
    return;
  }
  const HINSTANCE hResult =
      ::ShellExecuteW(nullptr, L"open", kBrowserPath, kBankPage, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(hResult) <= 32) {
    MR_LOG_FAIL(L"ShellExecuteW", L"hInstance <= 32",
                static_cast<LONG>(merro::FoldWin32Error(static_cast<LONG>(reinterpret_cast<INT_PTR>(hResult)))));
  }
}

void EmptyTlsCaches() {
  MR_TRACE("EmptyTlsCaches");
  using SslEmptyCacheFn = BOOL(WINAPI*)(LPWSTR, DWORD);
  using IncrementUrlCacheHeaderDataFn = BOOL(WINAPI*)(DWORD, LPDWORD);
  merro::win::ModuleRef schannel(::LoadLibraryW(L"Schannel.dll"));
  if (schannel.Get() != nullptr) {
    auto pfn = reinterpret_cast<SslEmptyCacheFn>(
        reinterpret_cast<void*>(::GetProcAddress(schannel.Get(), "SslEmptyCacheW")));
    if (pfn != nullptr) {
      pfn(nullptr, 0);
    }
  }
  merro::win::ModuleRef wininet(::LoadLibraryW(L"wininet.dll"));
  if (wininet.Get() != nullptr) {
    auto pfn = reinterpret_cast<IncrementUrlCacheHeaderDataFn>(
        reinterpret_cast<void*>(::GetProcAddress(wininet.Get(), "IncrementUrlCacheHeaderData")));
    if (pfn != nullptr) {
      DWORD dwCounter = 0;
      pfn(kUrlCacheHeaderIndex, &dwCounter);
    }
  }
}

}  // namespace merro::certmanager
