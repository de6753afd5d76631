// A stand-in for the browser: writes its command line into the file that
// MERRO_BROWSER_RECORD names and ends.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int main() {
  wchar_t path[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"MERRO_BROWSER_RECORD", path, MAX_PATH) == 0) {
    return 1;
  }
  FILE* out = _wfopen(path, L"w");
  if (out == nullptr) {
    return 1;
  }
  std::fputws(::GetCommandLineW(), out);
  std::fclose(out);
  return 0;
}
