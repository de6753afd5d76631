// A kept user PIN of one token: the PIN as the data-protection API protected
// it, never in clear, and the tick-count stamps of its two windows.
//
// The stamps are 64-bit tick counts: a 32-bit difference would wrap after
// 49.7 days and make a long-expired PIN usable again.
#pragma once

#include <memory>

#include "foundation/platform.h"
#include "foundation/secure_wipe.h"

namespace merro::device {

struct UserPINContext {
  UserPINContext() = default;
  // The blob is wiped before it is freed, like every copy of a PIN.
  ~UserPINContext() { ReplaceBlob(nullptr, 0); }
  UserPINContext(UserPINContext&&) = default;
  UserPINContext& operator=(UserPINContext&&) = delete;
  UserPINContext(const UserPINContext&) = delete;
  UserPINContext& operator=(const UserPINContext&) = delete;

  // Takes ownership of a blob made by CreateProtectData (array new); the
  // old one is wiped and freed.
  void ReplaceBlob(BYTE* pbyBlob, DWORD dwSize) {
    SecureWipe(pbyProtectedPIN.get(), dwProtectedPINSize);
    pbyProtectedPIN.reset(pbyBlob);
    dwProtectedPINSize = pbyBlob != nullptr ? dwSize : 0;
  }

  DWORD dwProtectedPINSize = 0;              // length of the protected blob
  std::unique_ptr<BYTE[]> pbyProtectedPIN;   // the blob CreateProtectData made
  // 64-bit tick counts under their specified names.
  ULONGLONG dwLastUsedTick = 0;              // kept or last handed out; 0: not set
  ULONGLONG dwKeptTick = 0;                  // kept; 0: not set
};

}  // namespace merro::device
