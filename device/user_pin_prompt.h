// The PIN dialog as the layers above the token API ask for a PIN: the
// "locked" box when no try is left, else the dialog through the UI seam.
#pragma once

#include <windows.h>

namespace merro::device {

// With nLeftTimes below 1: the "locked" message box (no owner) and
// 0x8010006C, no dialog. Otherwise the PIN dialog in `nMode` (0 user PIN,
// 1 administrator PIN, 2 again after a wrong PIN) showing the tries, owned
// by `hOwner`; the typed PIN in a new zero-terminated buffer (array new),
// which the caller wipes and frees. 0x8010006E only when the user cancelled
// or typed nothing; a dialog that could not be shown gives its own failure
// (0x80090022 inside a ui::SilentScope).
HRESULT PromptForPIN(HWND hOwner, int nMode, int nLeftTimes, char** ppszPIN);

}  // namespace merro::device
