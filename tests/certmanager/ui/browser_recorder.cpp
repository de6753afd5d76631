// A stand-in for the browser: writes its command line into the file that
// MERRO_BROWSER_RECORD names and ends.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int main() {
  wchar_t path[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"MERRO_BROWSER_RECORD", path, MAX_PATH) == 0) {
    return 1;
  }
  // Written beside the record and moved into place, so that a record that
  // exists is complete.
  const std::wstring partial = std::wstring(path) + L".partial";
  FILE* out = _wfopen(partial.c_str(), L"w");
  if (out == nullptr) {
    return 1;
  }
  std::fputws(::GetCommandLineW(), out);
  std::fclose(out);
  if (!::MoveFileExW(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING)) {
    return 1;
  }
  return 0;
}
