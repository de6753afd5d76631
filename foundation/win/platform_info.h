// The processor platform of the system, and file-system redirection of a
// 32-bit process on 64-bit Windows.
#pragma once

#include <windows.h>

// Platform codes.
constexpr DWORD MR_PLATFORM_X64 = 0;
constexpr DWORD MR_PLATFORM_X86 = 1;

// MR_PLATFORM_X64 or MR_PLATFORM_X86 from the native processor architecture;
// any other architecture gives 0x80070032 and no output.
HRESULT GetWindowsOSPlatform(DWORD* pdwPlatform);

// Turns redirection off for the calling thread; *ppvOldValue receives the
// state to hand to RevertWow64FileSystemRedirection (written only on success).
HRESULT DisableWow64FileSystemRedirection(PVOID* ppvOldValue);
HRESULT RevertWow64FileSystemRedirection(PVOID pvOldValue);
