// merrocsp.dll as CryptoAPI sees it: registered in the prefix, loaded by
// advapi32 (which loads it on every acquire and unloads it after a failed
// one), its export table, its start-up, its COM manners and its call lock
// shared with other processes. The DLL's own trace records are read back
// from the file MERRO_TRACE names.
#include <gtest/gtest.h>

#include <windows.h>

#include <objbase.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "csp/call_lock.h"
#include "foundation/platform.h"
#include "resources/device/device_resource_ids.h"
#include "tests/csp/lock_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/resource_reader.h"

namespace {

namespace fs = std::filesystem;
using merro::testing::CallWithin;
using merro::testing::ChildProcess;
using merro::testing::MarkerPath;
using merro::testing::Outcome;
using merro::testing::UniqueName;

constexpr wchar_t kProviderName[] = L"Tolvane Merro CSP For TAVR V1.0";

// The DLL's path as Windows programs see it (the build tree is on Z:).
std::wstring DllPath() {
  std::wstring path = L"Z:";
  for (const char* p = MERRO_CSP_DLL_PATH; *p != '\0'; ++p) {
    path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  }
  return path;
}

// An environment variable for one test; the DLL reads it at each load.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    _putenv_s(name, value.c_str());
  }
  ~ScopedEnv() { _putenv_s(m_name, ""); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_name;
};

// The DLL's trace records while alive, in a file of their own.
class DllTrace {
 public:
  DllTrace()
      : m_file(fs::temp_directory_path() / (UniqueName("trace") + ".log")),
        m_trace("MERRO_TRACE", m_file.string()) {}
  ~DllTrace() { fs::remove(m_file); }
  std::string Text() const {
    std::ifstream in(m_file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  fs::path m_file;
  ScopedEnv m_trace;
};

Outcome Acquire(const wchar_t* container, DWORD flags) {
  HCRYPTPROV hProv = 0;
  ::SetLastError(0xdeadbeef);
  const BOOL ok = ::CryptAcquireContextW(&hProv, container, kProviderName, PROV_RSA_FULL, flags);
  const DWORD error = ::GetLastError();
  if (ok) {
    ::CryptReleaseContext(hProv, 0);
  }
  return {ok, error};
}

const char* const kExportNames[] = {
    "CPAcquireContext", "CPCreateHash",     "CPDecrypt",       "CPDeriveKey",
    "CPDestroyHash",    "CPDestroyKey",     "CPDuplicateHash", "CPDuplicateKey",
    "CPEncrypt",        "CPExportKey",      "CPGenKey",        "CPGenRandom",
    "CPGetHashParam",   "CPGetKeyParam",    "CPGetProvParam",  "CPGetUserKey",
    "CPHashData",       "CPHashSessionKey", "CPImportKey",     "CPReleaseContext",
    "CPSetHashParam",   "CPSetKeyParam",    "CPSetProvParam",  "CPSignHash",
    "CPVerifySignature"};

// Wine's advapi32 accepts a provider that lacks an export, so the table is
// checked here: each name at its ordinal, alphabetical, and nothing after.
TEST(CspDll, ExportsResolveByNameAndByTheirOrdinals) {
  HMODULE dll = ::LoadLibraryW(DllPath().c_str());
  ASSERT_NE(dll, nullptr) << ::GetLastError();
  for (WORD ordinal = 1; ordinal <= 25; ++ordinal) {
    const char* name = kExportNames[ordinal - 1];
    FARPROC byName = ::GetProcAddress(dll, name);
    EXPECT_NE(byName, nullptr) << name;
    EXPECT_EQ(byName, ::GetProcAddress(dll, MAKEINTRESOURCEA(ordinal))) << name;
  }
  EXPECT_EQ(::GetProcAddress(dll, MAKEINTRESOURCEA(26)), nullptr);
  EXPECT_TRUE(std::is_sorted(std::begin(kExportNames), std::end(kExportNames),
                             [](const char* a, const char* b) { return std::strcmp(a, b) < 0; }));
  EXPECT_TRUE(::FreeLibrary(dll));
}

// The library carries the device layer's dialogs, picture and texts
// itself, in each of their languages: the PIN dialog and the confirmations
// are loaded from it. Read from the file with no code run.
TEST(CspDll, HoldsTheDeviceDialogsPictureAndStringsInEachLanguage) {
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&::FreeLibrary)> dll(
      ::LoadLibraryExW(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &::FreeLibrary);
  ASSERT_NE(dll, nullptr) << ::GetLastError();
  using merro::test::ResourceBytes;
  using merro::test::kEnglish;
  constexpr LANGID kSimplified = merro::test::kSimplifiedChinese;
  constexpr LANGID kTraditional = merro::test::kTraditionalChinese;
  for (const UINT id : {IDD_SELECT_KEY, IDD_OPERATION_CONFIRM, IDD_INPUT_PIN, IDD_TRANSACTION_CONFIRM}) {
    for (const LANGID lang : {kEnglish, kSimplified}) {
      EXPECT_FALSE(ResourceBytes(dll.get(), RT_DIALOG, id, lang).empty())
          << "dialog " << id << " language " << std::hex << lang;
    }
  }
  EXPECT_FALSE(ResourceBytes(dll.get(), L"PNG", IDR_TOKEN_PNG, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL))
                   .empty());
  for (const UINT id : {IDS_INPUT_PIN, IDS_PIN_RETRY, IDS_REMAINING_TIMES, IDS_ERROR_CAPTION,
                        IDS_PIN_LOCKED, IDS_INPUT_ADMIN_PIN, IDS_CHECK_ADMIN_PIN,
                        IDS_TRANSACTION_TIPS, IDS_OPERATION_CONFIRM, IDS_TAKE_CAUTION,
                        IDS_DEFAULT_PIN_CAPTION, IDS_DEFAULT_PIN_WARNING}) {
    for (const LANGID lang : {kEnglish, kSimplified, kTraditional}) {
      EXPECT_FALSE(merro::test::StringIn(dll.get(), id, lang).empty())
          << "string " << id << " language " << std::hex << lang;
    }
  }
}

// advapi32 reaches CPAcquireContext, and the code the provider answered
// survives the unload that follows a failed acquire, even when the detach
// work leaves an error of its own.
TEST(CspDll, CryptAcquireContextReachesTheProviderAndKeepsItsAnswer) {
  DllTrace trace;
  ScopedEnv detachError("MERRO_CSP_DETACH_ERROR", "1234");
  const Outcome o = Acquire(L"no such container", 0);
  EXPECT_FALSE(o.result);
  EXPECT_EQ(o.error, static_cast<DWORD>(NTE_NO_KEY));
  const std::string text = trace.Text();
  EXPECT_NE(text.find("[D799E92C #10] CPAcquireContext"), std::string::npos) << text;
  EXPECT_NE(text.find("CPCoreAcquireContext - Create container (Error code: 0x8009000d)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("EnsureTokenLayerStarted - TokenInitialize 0x00000000"), std::string::npos)
      << text;
  EXPECT_NE(text.find("[E20E5F95 #10]"), std::string::npos) << "attach event: " << text;
  EXPECT_NE(text.find("[E20E5F95 #13]"), std::string::npos) << "detach event: " << text;
}

// The token layer stops (its stop resets the tokens) at the end of a call
// after which no provider handle is left (here an acquire that made none),
// under the call lock; the unload that follows, under the loader lock,
// finds nothing left to stop.
TEST(CspDll, TheTokenLayerStopsWhenNoHandleIsLeftNotAtUnload) {
  DllTrace trace;
  EXPECT_FALSE(Acquire(L"no such container", 0).result);
  const std::string text = trace.Text();
  const size_t start = text.find("EnsureTokenLayerStarted - TokenInitialize");
  const size_t stop = text.find("StopTokenLayer", start == std::string::npos ? 0 : start);
  const size_t detach = text.find("[E20E5F95 #13]");
  ASSERT_NE(start, std::string::npos) << text;
  ASSERT_NE(stop, std::string::npos) << "no stop after the call: " << text;
  ASSERT_NE(detach, std::string::npos) << text;
  EXPECT_LT(stop, detach) << text;
  EXPECT_EQ(text.find("StopTokenLayer", detach), std::string::npos) << "stopped at unload: " << text;
}

// The core sends a message of its own for each call with the call's plain
// arguments: a container name as text ("NULL" for none) and the flags of an
// acquire; the parameter number, the caller's length and the flags of a
// parameter read, even one refused for its handles. A PIN handed to the
// library never shows.
TEST(CspDll, TheCoreTracesItsArgumentsButNoSecret) {
  DllTrace trace;
  EXPECT_FALSE(Acquire(L"no such container", 0).result);
  Acquire(nullptr, CRYPT_VERIFYCONTEXT);

  HMODULE dll = ::LoadLibraryW(DllPath().c_str());
  ASSERT_NE(dll, nullptr) << ::GetLastError();
  using GetKeyParamFn = BOOL(WINAPI*)(HCRYPTPROV, HCRYPTKEY, DWORD, BYTE*, DWORD*, DWORD);
  using SetProvParamFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD, const BYTE*, DWORD);
  const auto getKeyParam =
      reinterpret_cast<GetKeyParamFn>(::GetProcAddress(dll, "CPGetKeyParam"));
  const auto setProvParam =
      reinterpret_cast<SetProvParamFn>(::GetProcAddress(dll, "CPSetProvParam"));
  ASSERT_NE(getKeyParam, nullptr);
  ASSERT_NE(setProvParam, nullptr);
  BYTE buffer[16] = {};
  DWORD length = 7;
  EXPECT_FALSE(getKeyParam(0x1234, 0x5678, KP_CERTIFICATE, buffer, &length, 0));
  const char pin[] = "13572468";
  EXPECT_FALSE(setProvParam(0x1234, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>(pin), 0));
  ::FreeLibrary(dll);

  const std::string text = trace.Text();
  for (const char* line : {"[0A1BD11B #1] no such container 0x00000000\n",
                           "[0A1BD11B #1] NULL 0xF0000000\n",
                           "[0A1BD11B #14] 0x0000001A 0x00000007 0x00000000\n",
                           "[0A1BD11B #23] "}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  EXPECT_EQ(text.find(pin), std::string::npos) << text;
}

// The token layer starts at the provider's first call, never while the
// library loads: a start that fails leaves the library loaded and fails that
// call as a library that could not load did; the next call starts it again.
TEST(CspDll, AFailedStartFailsTheCallAndTheNextCallStartsAgain) {
  DllTrace trace;
  {
    ScopedEnv fail("MERRO_CSP_START_FAILURE", "0x8009001D");
    HMODULE dll = ::LoadLibraryW(DllPath().c_str());
    EXPECT_NE(dll, nullptr) << "loading must not start the token layer";
    if (dll != nullptr) {
      ::FreeLibrary(dll);
    }
    const Outcome o = Acquire(L"abc", 0);
    EXPECT_FALSE(o.result);
    EXPECT_EQ(o.error, static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
  }
  EXPECT_NE(trace.Text().find("[dllmain("), std::string::npos) << trace.Text();
  EXPECT_NE(trace.Text().find("CPAcquireContext - TokenInitialize [Reason:hResult != S_OK] 0x8009001D"),
            std::string::npos)
      << trace.Text();
  // Started now: the call reaches the core, which finds no such container.
  EXPECT_EQ(Acquire(L"no such container", 0).error, static_cast<DWORD>(NTE_NO_KEY));
}

// The start is the token layer's own: with the simulator out of reach the
// device object cannot list the tokens, and the call fails; once the tokens
// are reachable again, the next call starts the layer in the same load.
TEST(CspDll, ATokenLayerThatCannotReachTheTokensFailsTheCall) {
  DllTrace trace;
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  ASSERT_NE(sim, nullptr);
  const std::string reachable = sim;
  // Kept loaded across the calls, as a host that holds another context would.
  HMODULE dll = ::LoadLibraryW(DllPath().c_str());
  ASSERT_NE(dll, nullptr);
  _putenv_s("MERRO_TOKEN_SIM", "127.0.0.1:1");  // nothing listens there
  const Outcome refused = Acquire(nullptr, CRYPT_VERIFYCONTEXT);
  _putenv_s("MERRO_TOKEN_SIM", reachable.c_str());
  EXPECT_FALSE(refused.result);
  EXPECT_EQ(refused.error, static_cast<DWORD>(NTE_PROVIDER_DLL_FAIL));
  EXPECT_NE(trace.Text().find("CPAcquireContext - TokenInitialize [Reason:hResult != S_OK] 0x80004005"),
            std::string::npos)
      << trace.Text();
  EXPECT_EQ(Acquire(L"no such container", 0).error, static_cast<DWORD>(NTE_NO_KEY));
  ::FreeLibrary(dll);
}

int ApartmentOfThisThread() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  return SUCCEEDED(::CoGetApartmentType(&type, &qualifier)) ? static_cast<int>(type) : -1;
}

// The library leaves COM to its host: loading it initialises nothing on the
// loading thread, and a host thread in the multithreaded apartment stays
// there, whether the library is loaded and unloaded on it, used through
// CryptoAPI, or unloaded on it after being loaded elsewhere.
TEST(CspDll, AThreadInTheMultithreadedApartmentStaysThere) {
  const std::wstring path = DllPath();
  struct Case {
    const char* what;
    std::function<void()> work;
  } const cases[] = {
      {"load and unload",
       [&] {
         HMODULE dll = ::LoadLibraryW(path.c_str());
         EXPECT_NE(dll, nullptr);
         ::FreeLibrary(dll);
       }},
      {"acquire through CryptoAPI", [] { Acquire(L"abc", 0); }},
      {"loaded on another thread, unloaded here",
       [&] {
         HMODULE dll = nullptr;
         int apartmentThere = -1;
         std::thread loader([&] {
           dll = ::LoadLibraryW(path.c_str());
           apartmentThere = ApartmentOfThisThread();
         });
         loader.join();
         // (The host's multithreaded apartment may count for it implicitly.)
         EXPECT_TRUE(apartmentThere != APTTYPE_STA && apartmentThere != APTTYPE_MAINSTA)
             << "loading the library made the loading thread a COM apartment: " << apartmentThere;
         ::FreeLibrary(dll);
       }},
  };
  for (const Case& c : cases) {
    std::thread host([&] {
      ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
      c.work();
      EXPECT_EQ(ApartmentOfThisThread(), APTTYPE_MTA) << c.what;
      ::CoUninitialize();
    });
    host.join();
  }
}

// Child: takes the provider's lock by its name as another process's provider
// would, writes the marker, then holds it for holdMs or ends holding it.
int HoldLockChild(const std::string& name, const std::string& mode) {
  auto lock = merro::platform::NamedMutex::Create(merro::csp::kCSPSerializeLockName);
  if (!lock || lock->Wait(INFINITE) != merro::platform::WaitResult::Acquired) {
    return 2;
  }
  merro::testing::WriteTickMarker(name);
  if (mode == "die") {
    // Ends owning the lock once the parent has it open too.
    merro::testing::WaitForFile(MarkerPath(name + ".go"));
    return 0;
  }
  ::Sleep(static_cast<DWORD>(std::stoul(mode)));
  lock->Release();
  return 0;
}

TEST(CspDll, CallsWaitForAHolderInAnotherProcess) {
  const std::string name = UniqueName("dllholder");
  ChildProcess child = ChildProcess::StartSelf({"--hold-lock", name, "1500"});
  merro::testing::ExpectCallWaitsForHolder(child, name, 1500, [] { Acquire(L"abc", 0); });
}

TEST(CspDll, AHolderThatEndedLeavesTheLockToTheNextCall) {
  const std::string name = UniqueName("dlldead");
  ChildProcess child = ChildProcess::StartSelf({"--hold-lock", name, "die"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(merro::testing::WaitForFile(MarkerPath(name)));
  auto waiter = merro::testing::OpenLockAsAWaiter();
  ASSERT_TRUE(waiter);
  std::ofstream(MarkerPath(name + ".go")) << "go";
  EXPECT_EQ(child.Join(), 0);
  fs::remove(MarkerPath(name));
  fs::remove(MarkerPath(name + ".go"));

  DllTrace trace;
  const Outcome o = CallWithin(std::chrono::seconds(20), [] { return Acquire(L"abc", 0).result; });
  EXPECT_FALSE(o.result);
  EXPECT_NE(
      trace.Text().find("CPAcquireContext - Call lock abandoned by a holder that ended, taken"),
      std::string::npos)
      << trace.Text();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--hold-lock") {
    return HoldLockChild(argv[2], argv[3]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
