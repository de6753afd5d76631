// A second client of the provider, for tests that need a fresh load of the
// library: acquires the container named by the first argument ("" for none)
// with the flags of the second, releases it and exits with 0, or with the
// acquire's last error. It inherits the test's environment (the simulator,
// the scripted UI's files).
#include <windows.h>

#include <wincrypt.h>

#include <cstdlib>
#include <string>


int main(int argc, char** argv) {
  if (argc != 3) {
    return 2;
  }
  const std::string name = argv[1];
  const DWORD flags = std::strtoul(argv[2], nullptr, 0);
  HCRYPTPROV hProv = 0;
  // The name as 8-bit text, as the tests' own requests pass it.
  if (!::CryptAcquireContextA(&hProv, name.empty() ? nullptr : name.c_str(),
                              "Tolvane Merro CSP For TAVR V1.0", PROV_RSA_FULL, flags)) {
    return static_cast<int>(::GetLastError());
  }
  ::CryptReleaseContext(hProv, 0);
  return 0;
}
