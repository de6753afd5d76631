// The one place where the portable core meets the operating system.
//
// On Windows this is <windows.h>. Elsewhere it supplies the few Windows
// types and facilities the core relies on, with the same widths and the same
// observable behaviour, so that the core compiles and runs unchanged on both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = int;
using HRESULT = std::int32_t;
using ALG_ID = std::uint32_t;
using ULONG_PTR = std::uintptr_t;
using PBYTE = BYTE*;
using LPBYTE = BYTE*;
using LPDWORD = DWORD*;
using WCHAR = wchar_t;
using LPSTR = char*;
using LPCSTR = const char*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define S_OK ((HRESULT)0)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define INFINITE 0xFFFFFFFFu

#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_OUTOFMEMORY 14u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_INSUFFICIENT_BUFFER 122u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_MORE_DATA 234u
#define ERROR_TIMEOUT 1460u
#define ERROR_NOT_OWNER 288u

DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount();

// Private-profile (INI) reading with the semantics of the Windows calls:
// section and key names compare without regard to case, a missing file,
// section or key yields the default, numbers are read as the Windows
// reader reads them (optional sign, decimal, or hexadecimal after "0x").
UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, int nDefault,
                           LPCSTR lpFileName);
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName,
                               LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName);

#endif  // _WIN32

namespace merro::platform {

enum class WaitResult { Acquired, Abandoned, Timeout, Failed };

// A named mutex shared by all processes of the user: re-entrant for the
// owning thread, with a timed wait; a wait that finds the previous owner
// gone reports Abandoned and takes ownership. On Windows this is a kernel
// mutex; elsewhere a robust, recursive, process-shared mutex in shared memory.
class NamedMutex {
 public:
  // Opens the mutex of this name, creating it when it does not exist yet.
  static std::unique_ptr<NamedMutex> Create(const std::string& name);
  // Opens an existing mutex; null (last error ERROR_FILE_NOT_FOUND) when absent.
  static std::unique_ptr<NamedMutex> Open(const std::string& name);

  virtual ~NamedMutex() = default;
  virtual WaitResult Wait(DWORD dwTimeoutMs) = 0;
  // Fails (returns false) when the calling thread does not own the mutex.
  virtual bool Release() = 0;

 protected:
  NamedMutex() = default;
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
};

// Folder of the running program (or DLL on Windows), with a trailing separator.
std::string ModuleDirectory();

}  // namespace merro::platform
