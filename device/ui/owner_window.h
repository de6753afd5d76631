// The window that should own a dialog shown inside another program (the PIN
// dialog when the provider runs in a caller's process).
#pragma once

#include <windows.h>

namespace merro::ui {

// The parent of process `dwProcessId`, or 0xFFFFFFFF when it cannot be
// learned.
DWORD GetParentProcessID(DWORD dwProcessId);

using ParentProcessLookup = DWORD (*)(DWORD dwProcessId);

// The first top-level window (enumeration, that is z-, order) of the
// process that has no parent window, when it is visible; else the same for
// its parent process, and so up the chain. The walk ends when the lookup
// fails or comes back to a process already searched (a parent identifier
// reused by a descendant makes a cycle); then the foreground window. Never
// null while there is a foreground window. Tests give their own lookup.
HWND FindOwnerWindow(DWORD dwProcessId, ParentProcessLookup pfnParentOf = &GetParentProcessID);

}  // namespace merro::ui
