// The settings record of the token layer: built by the provider library and
// by the manager, handed to DeviceHandle::Initialize, which copies it.
#pragma once

#include "foundation/platform.h"

// The provider name: names the provider, the device-update mutex and the
// two signal events.
#define MR_PROVIDER_NAME L"Tolvane Merro CSP For TAVR V1.0"

struct ProviderSettings {
  DWORD dwKeepPINTimeout;            // ms a kept PIN stays usable after its last use; 0: not kept
  const wchar_t* pwszProviderName;   // names the device-update mutex and the two events
  DWORD dwDefaultPINCheck;           // 2: warn and refuse while the user PIN is the factory one
  DWORD dwMessageType;               // transaction-message format: 1 QARN, 2 TAVR ("SignData")
  DWORD dwCustomerType;              // 2: the bank's rule set
  BOOL bFlagFileExist;               // "TAVR.flag" exists in the Windows directory
};

// The customer type of the bank's rule set.
inline constexpr DWORD kCustomerTypeBank = 2;

// The record both deliverables pass: PINs kept for 600000 ms, the provider
// name, no default-PIN warning, the TAVR message format, the bank's rules;
// bFlagFileExist as given (the provider looks for the flag file, the manager
// passes FALSE).
inline ProviderSettings DefaultProviderSettings(BOOL bFlagFileExist) {
  return ProviderSettings{600000, MR_PROVIDER_NAME, 1, 2, kCustomerTypeBank, bFlagFileExist};
}
