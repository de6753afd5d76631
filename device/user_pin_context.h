// A kept user PIN of one token: the PIN as the data-protection API protected
// it, never in clear, and the tick-count stamps of its two windows.
#pragma once

#include <memory>

#include "foundation/platform.h"

namespace merro::device {

struct UserPINContext {
  DWORD dwProtectedPINSize = 0;              // length of the protected blob
  std::unique_ptr<BYTE[]> pbyProtectedPIN;   // the blob CreateProtectData made
  DWORD dwLastUsedTick = 0;                  // kept or last handed out; 0: not set
  DWORD dwKeptTick = 0;                      // kept; 0: not set
};

}  // namespace merro::device
