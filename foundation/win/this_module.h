// The module that holds the calling code: the provider DLL inside the
// provider, the program inside the manager. Our strings, dialogs and pictures
// are loaded from it, never from GetModuleHandle(NULL), which inside the
// provider is the host program.
#pragma once

#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace merro::win {

inline HMODULE ThisModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

}  // namespace merro::win
