#include "foundation/win/flag_file.h"

#include <shlwapi.h>

#include <cwchar>

#include "foundation/trace/trace.h"

namespace merro::win {

BOOL FlagFileExists() {
  MR_TRACE("FlagFileExists");
  static const wchar_t kName[] = L"\\TAVR.flag";
  constexpr UINT kCapacity = MAX_PATH;
  wchar_t path[kCapacity];
  const UINT n = ::GetSystemWindowsDirectoryW(path, kCapacity);
  // A directory that does not leave room for the name counts as no file.
  if (n == 0 || n + std::wcslen(kName) >= kCapacity) {
    return FALSE;
  }
  std::wcscat(path, kName);
  return ::PathFileExistsW(path) ? TRUE : FALSE;
}

}  // namespace merro::win
