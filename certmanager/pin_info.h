// The PIN state the manager's commands ask the token for, read through the
// device object; a failure is logged here once for every caller.
#pragma once

#include <windows.h>

namespace merro::certmanager {

constexpr DWORD kUserPIN = 1;
constexpr DWORD kAdminPIN = 2;

struct PINInfo {
  DWORD dwLeftTimes = 0;
  DWORD dwStatus = 0;
  DWORD dwModified = 0;
  // Tries left as a signed count: a token that reports nonsense counts as locked.
  int LeftTimes() const { return static_cast<int>(dwLeftTimes); }
};

HRESULT ReadPINInfo(const char* pszDevName, DWORD dwPINType, PINInfo* pInfo);

}  // namespace merro::certmanager
