// What the main dialog does around a token's USB arrival and removal, apart
// from its own windows: recognising the token's device-interface broadcast,
// opening the bank's page in the browser, and emptying the system's TLS and
// URL caches after a removal.
#pragma once

#include <windows.h>
#include <dbt.h>

namespace merro::certmanager {

// Whether a WM_DEVICECHANGE broadcast names a USB device interface
// (GUID_DEVINTERFACE_USB_DEVICE) with the token's vendor and product IDs.
// The name is read only within the broadcast's size.
bool IsTokenBroadcast(const DEV_BROADCAST_HDR* pHeader);

// The browser the bank's page opens in, and the page.
inline constexpr wchar_t kBrowserPath[] = L"C:\\Program Files\\Internet Explorer\\iexplore.exe";
inline constexpr wchar_t kBankPage[] = L"https://ebank.tavr.example/";

// Opens the bank's page in the browser (shell "open", shown normally) when
// the bank's flag file is absent; failures are only logged.
void OpenBankPage();

// SslEmptyCacheW of Schannel.dll and IncrementUrlCacheHeaderData(14) of
// wininet.dll, each loaded by name; a missing library or function is
// skipped.
void EmptyTlsCaches();

}  // namespace merro::certmanager
