// What the tests that reach merrocsp.dll through advapi32 share: the
// provider's registered name, handles released at scope exit, calls that
// record their last error, C:\windows\TAVR.flag toggled per test, the
// container list and a fixture that starts every test from a token as the
// factory gives it, with the library's prompts answered by a script.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <wincrypt.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/csp/lock_test_support.h"
#include "tests/csp/provider_ui_script.h"
#include "tests/device/support/device_bench.h"

namespace merro::testing::csp {

inline constexpr char kProviderName[] = "Tolvane Merro CSP For TAVR V1.0";

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

// A hash or key handle destroyed when the test leaves its scope (declare it
// after its provider, so that it goes first).
template <class H, BOOL(WINAPI* kDestroy)(H)>
struct ScopedHandle {
  ScopedHandle() = default;
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() {
    if (h != 0) {
      kDestroy(h);
    }
  }
  H h = 0;
};
using ScopedHash = ScopedHandle<HCRYPTHASH, ::CryptDestroyHash>;
using ScopedKey = ScopedHandle<HCRYPTKEY, ::CryptDestroyKey>;

// Acquires through advapi32 with an 8-bit name (null: none). Every success
// must leave the last error 0, so it starts from a value that is not.
inline Outcome AcquireInto(Provider* p, const char* name, DWORD flags) {
  ::SetLastError(0xdeadbeef);
  const BOOL ok = ::CryptAcquireContextA(&p->h, name, kProviderName, PROV_RSA_FULL, flags);
  return {ok, ::GetLastError()};
}

// The same for a request that may stop at a dialog: a bounded wait, so a
// prompt nobody answers fails the test instead of hanging it.
inline Outcome AcquireWithin(std::chrono::seconds limit, Provider* p, const char* name,
                             DWORD flags) {
  return CallWithin(limit, [p, name, flags] {
    const Outcome o = AcquireInto(p, name, flags);
    ::SetLastError(o.error);
    return o.result;
  });
}

// Acquires in a child process (csp_acquire_child beside the test program),
// so the library loads afresh there; the child's outcome, within a bound.
inline Outcome AcquireInChild(const char* name, DWORD flags) {
  const std::string self = SelfPath();
  const std::string child = self.substr(0, self.find_last_of("\\/") + 1) + "csp_acquire_child.exe";
  ChildProcess process = ChildProcess::Start(child, {name, std::to_string(flags)});
  EXPECT_TRUE(process.Started()) << child;
  const Outcome joined = CallWithin(std::chrono::seconds(90), [&process] {
    ::SetLastError(static_cast<DWORD>(process.Join()));
    return TRUE;
  });
  return {joined.error == 0, joined.error};
}

inline Outcome GetParam(HCRYPTPROV h, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
  ::SetLastError(0xdeadbeef);
  const BOOL ok = ::CryptGetProvParam(h, param, data, length, flags);
  return {ok, ::GetLastError()};
}

inline Outcome SetParam(HCRYPTPROV h, DWORD param, const BYTE* data) {
  ::SetLastError(0xdeadbeef);
  const BOOL ok = ::CryptSetProvParam(h, param, data, 0);
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

// The container names PP_ENUMCONTAINERS lists, from the start.
inline std::vector<std::string> EnumContainers(HCRYPTPROV h) {
  std::vector<std::string> names;
  DWORD flags = CRYPT_FIRST;
  for (int i = 0; i < 64; ++i) {
    char name[1024] = {};
    DWORD length = sizeof name;
    if (!::CryptGetProvParam(h, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &length,
                             flags)) {
      // The end of the list, in its folded form.
      EXPECT_EQ(::GetLastError(), static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)));
      break;
    }
    names.emplace_back(name);
    flags = 0;
  }
  return names;
}

// Each test starts from a token as the factory gives it: provisioned,
// emptied, its user PIN never changed.
class CspCryptoApi : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceBench::Insert(0);
    ASSERT_TRUE(DeviceBench::Prepare(0));
  }
  void TearDown() override { DeviceBench::Insert(0); }
  // The library's prompts: answered from a script, never a real dialog.
  ProviderUiScript ui;
};

}  // namespace merro::testing::csp
