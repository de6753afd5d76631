// The provider DLL's own module handle, stored at process attach. Its
// strings, dialogs and pictures are loaded through merro::win::ThisModule(),
// which names the same module.
#pragma once

#include <windows.h>

extern HMODULE g_hModule;
