// The provider's contexts and provider parameters as CryptoAPI programs see
// them: merrocsp.dll registered in the prefix and loaded by advapi32, one
// token in the simulator whose user PIN was never changed.
#include <gtest/gtest.h>

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/csp/lock_test_support.h"

namespace {

using merro::testing::CallWithin;
using merro::testing::Outcome;

constexpr char kProviderName[] = "Tolvane Merro CSP For TAVR V1.0";

// A provider handle released when the test leaves its scope.
struct Provider {
  Provider() = default;
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  ~Provider() {
    if (h != 0) {
      ::CryptReleaseContext(h, 0);
    }
  }
  HCRYPTPROV h = 0;
};

// Acquires through advapi32 with an 8-bit name (null: none). Every success
// must leave the last error 0, so it starts from a value that is not.
Outcome AcquireInto(Provider* p, const char* name, DWORD flags) {
  ::SetLastError(0xdeadbeef);
  const BOOL ok = ::CryptAcquireContextA(&p->h, name, kProviderName, PROV_RSA_FULL, flags);
  return {ok, ::GetLastError()};
}

// C:\windows\TAVR.flag in the prefix, present or absent for one test; what
// was there before comes back.
class TavrFlag {
 public:
  explicit TavrFlag(bool present) {
    wchar_t dir[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(dir, MAX_PATH);
    m_path = std::filesystem::path(dir) / L"TAVR.flag";
    m_existed = std::filesystem::exists(m_path);
    Set(present);
  }
  ~TavrFlag() { Set(m_existed); }
  TavrFlag(const TavrFlag&) = delete;
  TavrFlag& operator=(const TavrFlag&) = delete;

 private:
  void Set(bool present) {
    std::error_code ignored;
    if (present) {
      std::ofstream(m_path) << "";
    } else {
      std::filesystem::remove(m_path, ignored);
    }
  }
  std::filesystem::path m_path;
  bool m_existed = false;
};

// Requests the flags turn down before any container is made or opened.
TEST(CspCryptoApi, AcquireRefusalsCarryTheirCodes) {
  struct Case {
    const char* name;
    DWORD flags;
    DWORD code;
  } const cases[] = {
      {"abc", CRYPT_DELETEKEYSET, static_cast<DWORD>(NTE_NOT_SUPPORTED)},
      {nullptr, CRYPT_DELETEKEYSET, static_cast<DWORD>(NTE_NOT_SUPPORTED)},
      {nullptr, 0, static_cast<DWORD>(NTE_BAD_KEYSET)},
      {"no such container", 0, static_cast<DWORD>(NTE_NO_KEY)},
  };
  for (const Case& c : cases) {
    Provider p;
    const Outcome o = AcquireInto(&p, c.name, c.flags);
    EXPECT_FALSE(o.result) << (c.name ? c.name : "(none)") << " " << c.flags;
    EXPECT_EQ(o.error, c.code) << (c.name ? c.name : "(none)") << " " << c.flags;
  }
}

}  // namespace
