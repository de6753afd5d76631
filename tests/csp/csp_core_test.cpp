#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "csp/core_call.h"
#include "csp/core_trace.h"
#include "csp/cp_core.h"
#include "csp/deferred_release.h"
#include "csp/flag_file.h"
#include "csp/handle_checks.h"
#include "csp/registries.h"
#include "tests/support/captured_trace.h"

namespace {

using merro::csp::CoreCall;
using merro::csp::HandleRegistry;
using merro::csp::HandleTie;
using merro::testing::CapturedTrace;
using merro::testing::Utf16Text;
using merro::trace::Deliverable;

// The texts of the core's check lines among the captured records.
std::vector<std::string> CoreLines(const CapturedTrace& t) {
  std::vector<std::string> lines;
  for (const auto& r : t.records) {
    if (r.number == merro::trace::kMsgCoreStepLine) {
      EXPECT_TRUE(r.messageGuid == merro::csp::GeneralMessageGuid());
      EXPECT_EQ(r.flag, merro::csp::TRACE_FLAG_CSPCORE);
      lines.push_back(Utf16Text(r.args.at(0)));
    }
  }
  return lines;
}

TEST(CoreTrace, ProviderFlagBitsAreTheFoundationProfile) {
  const auto& p = merro::trace::ProfileOf(Deliverable::Provider);
  EXPECT_EQ(p.functionFlag, merro::csp::TRACE_FLAG_FUNCTION);
  EXPECT_EQ(p.errorFlag, merro::csp::TRACE_FLAG_ERROR);
  EXPECT_EQ(p.infoFlag, merro::csp::TRACE_FLAG_INFO);
  EXPECT_TRUE(p.messageGuid == merro::csp::GeneralMessageGuid());
  EXPECT_FALSE(merro::csp::kDllMainMessageGuid == merro::csp::kCoreArgumentMessageGuid);
  EXPECT_FALSE(merro::csp::kDllMainMessageGuid == p.messageGuid);
}

TEST(CoreTrace, FormatCSPMessageStaysInItsBuffer) {
  struct {
    wchar_t line[merro::csp::kCSPMessageCapacity];
    wchar_t guard[8];
  } out;
  std::fill(std::begin(out.guard), std::end(out.guard), L'#');
  EXPECT_EQ(merro::csp::FormatCSPMessage(out.line, L"%ls - %ls (Error code: 0x%08x)", L"F", L"Step",
                                         0x8009000Fu),
            33);
  EXPECT_EQ(std::wstring(out.line), L"F - Step (Error code: 0x8009000f)");

  const std::wstring longText(600, L'x');
  EXPECT_EQ(merro::csp::FormatCSPMessage(out.line, L"%ls!", longText.c_str()), 511);
  EXPECT_EQ(std::wstring(out.line), std::wstring(511, L'x'));
  EXPECT_EQ(std::wstring(out.guard, 8), std::wstring(8, L'#'));
}

TEST(CoreCall, ChecksLogTheirLinesAndTheFirstFailureDecides) {
  CapturedTrace t(Deliverable::Provider, 0xFF);
  ::SetLastError(0xdeadbeef);
  BOOL result = TRUE;
  {
    CoreCall call("CPCoreExample");
    EXPECT_TRUE(call.Check(true, L"Check parameters", ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(call.CheckResult(NTE_BAD_KEYSET, L"Check container name"));
    EXPECT_FALSE(call.Check(false, L"Later check", ERROR_INVALID_HANDLE));
    EXPECT_EQ(call.Code(), NTE_BAD_KEYSET);
    result = call.Finish();
  }
  EXPECT_FALSE(result);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(CoreLines(t), (std::vector<std::string>{
                              "CPCoreExample - Check parameters SUCCESS",
                              "CPCoreExample - Check container name (Error code: 0x80090016)",
                              "CPCoreExample - Later check (Error code: 0x00000006)"}));
  EXPECT_EQ(t.Numbers(), (std::vector<std::uint16_t>{10, 12, 12, 12, 11}));

  // Success sets the last error to 0; an untraced call sends no entry or exit.
  t.records.clear();
  ::SetLastError(0xdeadbeef);
  {
    CoreCall call("CPCoreQuiet", /*traced=*/false);
    call.Passed(L"Done");
    EXPECT_TRUE(call.Finish());
  }
  EXPECT_EQ(::GetLastError(), 0u);
  EXPECT_EQ(t.Numbers(), (std::vector<std::uint16_t>{12}));
}

TEST(CoreCall, ArgumentMessagesUseTheCoreGuidAndTheGivenFlag) {
  CapturedTrace t(Deliverable::Provider, merro::csp::TRACE_FLAG_INFO);
  merro::csp::TraceCoreArguments(20, merro::csp::TRACE_FLAG_INFO, {"abc", DWORD{8}});
  merro::csp::TraceCoreArguments(21, merro::csp::TRACE_FLAG_CSPCORE, {DWORD{1}});  // not enabled
  ASSERT_EQ(t.records.size(), 1u);
  EXPECT_TRUE(t.records[0].messageGuid == merro::csp::kCoreArgumentMessageGuid);
  EXPECT_EQ(t.records[0].number, 20);
  EXPECT_EQ(t.records[0].args[0], std::vector<std::uint8_t>({'a', 'b', 'c', 0}));
}

// Objects of the registry tests: they count their destruction, and keys and
// hashes name their provider as the provider objects do.
struct TestProvider {
  explicit TestProvider(std::vector<std::string>* log, std::string n)
      : log(log), name(std::move(n)) {}
  virtual ~TestProvider() { log->push_back("~" + name); }
  std::vector<std::string>* log;
  std::string name;
};
struct TestObject {
  TestObject(std::vector<std::string>* log, std::string n, TestProvider* owner)
      : log(log), name(std::move(n)), m_pContainer(owner) {}
  virtual ~TestObject() { log->push_back("~" + name); }
  std::vector<std::string>* log;
  std::string name;
  TestProvider* m_pContainer;
};

class Registries : public ::testing::Test {
 protected:
  ULONG_PTR AddProvider(const std::string& name) {
    return providers.Add(std::make_unique<TestProvider>(&log, name));
  }
  ULONG_PTR AddKey(const std::string& name, ULONG_PTR hProv) {
    return keys.Add(
        std::make_unique<TestObject>(&log, name, reinterpret_cast<TestProvider*>(hProv)));
  }
  ULONG_PTR AddHash(const std::string& name, ULONG_PTR hProv) {
    return hashes.Add(
        std::make_unique<TestObject>(&log, name, reinterpret_cast<TestProvider*>(hProv)));
  }
  std::vector<std::string> log;
  HandleRegistry<TestProvider> providers;
  HandleRegistry<TestObject, HandleTie::Provider> keys;
  HandleRegistry<TestObject, HandleTie::Provider> hashes;
};

TEST_F(Registries, UnknownHandlesAreRefusedAndRemovalKeepsOrder) {
  const ULONG_PTR a = AddProvider("a");
  const ULONG_PTR b = AddProvider("b");
  const ULONG_PTR c = AddProvider("c");
  EXPECT_EQ(providers.Add(nullptr), 0u);
  EXPECT_FALSE(providers.IsKnown(0));
  EXPECT_FALSE(providers.IsKnown(a + 1));  // never handed out; nothing is read through it
  providers.Remove(a + 1);
  providers.Remove(0);
  EXPECT_TRUE(log.empty());

  providers.Remove(b);
  EXPECT_EQ(log, std::vector<std::string>{"~b"});
  EXPECT_FALSE(providers.IsKnown(b));
  providers.Remove(b);  // released: removing it again does nothing
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(providers.Handles(), (std::vector<ULONG_PTR>{a, c}));
  providers.Remove(a);
  providers.Remove(c);
}

TEST_F(Registries, LookUpChecksProviderThenHandleThenOwner) {
  const ULONG_PTR p1 = AddProvider("p1");
  const ULONG_PTR p2 = AddProvider("p2");
  const ULONG_PTR k1 = AddKey("k1", p1);
  const merro::csp::OwnedHandleChecks checks{L"Provider", 11, L"Key", 12, L"Owner", 13};
  struct Case {
    ULONG_PTR hProv, hKey;
    HRESULT code;
    std::vector<std::string> lines;
  } const cases[] = {
      {p1 + 1, k1, 11, {"F - Provider (Error code: 0x0000000b)"}},
      {0, k1, 11, {"F - Provider (Error code: 0x0000000b)"}},
      {p1, k1 + 1, 12, {"F - Provider SUCCESS", "F - Key (Error code: 0x0000000c)"}},
      {p2,
       k1,
       13,
       {"F - Provider SUCCESS", "F - Key SUCCESS", "F - Owner (Error code: 0x0000000d)"}},
      {p1, k1, S_OK, {"F - Provider SUCCESS", "F - Key SUCCESS", "F - Owner SUCCESS"}},
  };
  for (const Case& c : cases) {
    CapturedTrace t(Deliverable::Provider, merro::csp::TRACE_FLAG_CSPCORE);
    CoreCall call("F", false);
    TestObject* found = merro::csp::LookUpOwned(call, providers, keys, c.hProv, c.hKey, checks);
    EXPECT_EQ(call.Code(), c.code);
    EXPECT_EQ(found, c.code == S_OK ? reinterpret_cast<TestObject*>(k1) : nullptr);
    EXPECT_EQ(CoreLines(t), c.lines);
  }
  EXPECT_TRUE(log.empty());
}

// A released provider handle takes the keys and hashes made under it along:
// a new provider at the same address must not find them its own.
TEST_F(Registries, ReleasingAProviderDestroysItsKeysAndHashesOnly) {
  const ULONG_PTR p1 = AddProvider("p1");
  const ULONG_PTR p2 = AddProvider("p2");
  AddKey("k1", p1);
  const ULONG_PTR k2 = AddKey("k2", p2);
  AddKey("k3", p1);
  const ULONG_PTR k4 = AddKey("k4", p2);
  AddHash("h1", p1);
  const ULONG_PTR h2 = AddHash("h2", p2);

  merro::csp::RemoveProviderWithItsObjects(providers, keys, hashes, p1 + 1);  // unknown
  EXPECT_TRUE(log.empty());
  merro::csp::RemoveProviderWithItsObjects(providers, keys, hashes, p1);
  EXPECT_EQ(log, (std::vector<std::string>{"~k1", "~k3", "~h1", "~p1"}));
  EXPECT_EQ(keys.Handles(), (std::vector<ULONG_PTR>{k2, k4}));
  EXPECT_EQ(hashes.Handles(), std::vector<ULONG_PTR>{h2});
  EXPECT_EQ(providers.Handles(), std::vector<ULONG_PTR>{p2});
  EXPECT_EQ(keys.OwnerOf(k2), p2);
  merro::csp::RemoveProviderWithItsObjects(providers, keys, hashes, p2);
  EXPECT_EQ(log.size(), 8u);
}

// A handle released while a core call runs (by a host's window procedure
// inside the call's dialog) is unknown at once, but its object lives until
// the outermost call ends. Then the objects go in the order they were
// released, and the thread keeps the last error the call left; with no
// call running an object goes at once.
TEST_F(Registries, ObjectsReleasedDuringACoreCallLiveUntilTheOutermostEnds) {
  // Its destructor leaves a last error of its own.
  struct NoisyObject : TestObject {
    using TestObject::TestObject;
    ~NoisyObject() override { ::SetLastError(ERROR_GEN_FAILURE); }
  };
  const ULONG_PTR p = AddProvider("p");
  const ULONG_PTR k = AddKey("k", p);
  const ULONG_PTR h =
      hashes.Add(std::make_unique<NoisyObject>(&log, "h", reinterpret_cast<TestProvider*>(p)));
  {
    CoreCall outer("Outer", false);
    {
      CoreCall nested("Nested", false);
      hashes.Remove(h);
      merro::csp::RemoveProviderWithItsObjects(providers, keys, hashes, p);
      EXPECT_FALSE(providers.IsKnown(p));
      EXPECT_FALSE(keys.IsKnown(k));
      EXPECT_FALSE(hashes.IsKnown(h));
    }
    EXPECT_TRUE(log.empty()) << "the outer call still runs";
    EXPECT_EQ(merro::csp::QueuedObjectCount(), 3u);
    ::SetLastError(ERROR_MORE_DATA);
  }
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_MORE_DATA});
  EXPECT_EQ(log, (std::vector<std::string>{"~h", "~k", "~p"}));
  EXPECT_EQ(merro::csp::QueuedObjectCount(), 0u);

  providers.Remove(AddProvider("q"));
  EXPECT_EQ(log.back(), "~q");
}

TEST_F(Registries, OpenNamesCompareAsciiLettersWithoutCase) {
  AddProvider("abc");
  AddProvider("Caf\xC3\xA9");
  const auto nameOf = [](const TestProvider* p) { return p->name.c_str(); };
  struct Case {
    const char* name;
    bool open;
  } const cases[] = {
      {"abc", true},         {"ABC", true},          {"aBc", true},    {"abd", false},
      {"ab", false},         {"abcd", false},        {nullptr, false}, {"", false},
      {"CAF\xC3\xA9", true}, {"caf\xC3\x89", false},  // bytes above 0x7F compare as they are
  };
  for (const Case& c : cases) {
    EXPECT_EQ(merro::csp::IsNameOpen(providers, c.name, nameOf), c.open)
        << (c.name != nullptr ? c.name : "(null)");
  }
  EXPECT_TRUE(merro::csp::ContainerNamesEqual("", ""));
}

// Every core function answers as the published interface asks: FALSE with
// the code in the last error. Those that need the provider objects answer
// NTE_NOT_SUPPORTED until they are built.
TEST(CoreFunctions, DirectCallsAnswerWithTheirCodes) {
  const ULONG_PTR never = 0x12340;
  VTableProvStruc vt{};
  HCRYPTPROV out = 0;
  DWORD len = 0;
  struct Case {
    const char* name;
    std::function<BOOL()> call;
    DWORD code;
  };
  std::vector<Case> cases = {
      {"ReleaseContext(0)", [] { return CPCoreReleaseContext(0, 0); }, ERROR_INVALID_PARAMETER},
      {"ReleaseContext(unknown)", [&] { return CPCoreReleaseContext(never, 0); },
       ERROR_INVALID_PARAMETER},
      {"DestroyKey(0, 0)", [] { return CPCoreDestroyKey(0, 0); }, ERROR_INVALID_PARAMETER},
      {"DestroyKey(unknown)", [&] { return CPCoreDestroyKey(never, never); },
       ERROR_INVALID_PARAMETER},
      {"DestroyHash(0, h)", [&] { return CPCoreDestroyHash(0, never); }, ERROR_INVALID_PARAMETER},
      {"DestroyHash(p, 0)", [&] { return CPCoreDestroyHash(never, 0); }, ERROR_INVALID_PARAMETER},
      {"DestroyHash(unknown)", [&] { return CPCoreDestroyHash(never, never); },
       ERROR_INVALID_HANDLE},
      // Acquire decides before any token is reached; without the token layer
      // every factory fails, and the code tells which kind of request it was.
      {"AcquireContext(no out-pointer)", [&] { return CPCoreAcquireContext(nullptr, "a", 0, &vt); },
       ERROR_INVALID_PARAMETER},
      {"AcquireContext(no VTable)", [&] { return CPCoreAcquireContext(&out, "a", 0, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"AcquireContext(DELETEKEYSET)",
       [&] { return CPCoreAcquireContext(&out, "a", CRYPT_DELETEKEYSET, &vt); },
       static_cast<DWORD>(NTE_NOT_SUPPORTED)},
      {"AcquireContext(no name, no flags)",
       [&] { return CPCoreAcquireContext(&out, nullptr, 0, &vt); },
       static_cast<DWORD>(NTE_BAD_KEYSET)},
      {"AcquireContext(NEWKEYSET, no token layer)",
       [&] { return CPCoreAcquireContext(&out, "a", CRYPT_NEWKEYSET | CRYPT_VERIFYCONTEXT, &vt); },
       static_cast<DWORD>(NTE_NO_MEMORY)},
      {"AcquireContext(VERIFYCONTEXT, no token layer)",
       [&] { return CPCoreAcquireContext(&out, nullptr, 0x10000000, &vt); },
       static_cast<DWORD>(NTE_NO_KEY)},
      {"AcquireContext(named, no token layer)",
       [&] { return CPCoreAcquireContext(&out, "a", 0, &vt); }, static_cast<DWORD>(NTE_NO_KEY)},
      {"GetProvParam(0)", [&] { return CPCoreGetProvParam(0, PP_NAME, nullptr, &len, 0); },
       ERROR_INVALID_PARAMETER},
      {"GetProvParam(no length)",
       [&] { return CPCoreGetProvParam(never, PP_NAME, nullptr, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"GetProvParam(unknown)",
       [&] { return CPCoreGetProvParam(never, PP_NAME, nullptr, &len, 0); },
       ERROR_INVALID_PARAMETER},
      {"SetProvParam(no data)",
       [&] { return CPCoreSetProvParam(never, PP_SIGNATURE_PIN, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"SetProvParam(unknown)",
       [&] {
         return CPCoreSetProvParam(never, PP_SIGNATURE_PIN, reinterpret_cast<const BYTE*>("1"), 0);
       },
       ERROR_INVALID_PARAMETER},
      // Cipher, random and import calls without a provider handle.
      {"Encrypt(0)", [] { return CPCoreEncrypt({}, {}, {}, {}, {}, {}, {}, {}); },
       ERROR_INVALID_PARAMETER},
      {"Decrypt(0)", [] { return CPCoreDecrypt({}, {}, {}, {}, {}, {}, {}); },
       ERROR_INVALID_PARAMETER},
      {"GenRandom(0)", [] { return CPCoreGenRandom({}, {}, {}); }, ERROR_INVALID_PARAMETER},
      {"ImportKey(0)", [] { return CPCoreImportKey({}, {}, {}, {}, {}, {}); },
       ERROR_INVALID_PARAMETER},
      // The key functions refuse null arguments before any handle is looked up.
      {"GenKey(0)", [] { return CPCoreGenKey({}, {}, {}, {}); }, ERROR_INVALID_HANDLE},
      {"DuplicateKey(0)", [] { return CPCoreDuplicateKey({}, {}, {}, {}, {}); },
       ERROR_INVALID_HANDLE},
      {"ExportKey(0)", [] { return CPCoreExportKey({}, {}, {}, {}, {}, {}, {}); },
       ERROR_INVALID_PARAMETER},
      {"GetKeyParam(0)", [] { return CPCoreGetKeyParam({}, {}, {}, {}, {}, {}); },
       ERROR_INVALID_PARAMETER},
      {"GetUserKey(0)", [] { return CPCoreGetUserKey({}, {}, {}); }, ERROR_INVALID_PARAMETER},
      {"SetKeyParam(0)", [] { return CPCoreSetKeyParam({}, {}, {}, {}, {}); },
       ERROR_INVALID_PARAMETER},
  };
  const std::vector<std::pair<const char*, std::function<BOOL()>>> notBuilt = {
      {"CPCoreDeriveKey", [] { return CPCoreDeriveKey({}, {}, {}, {}, {}); }},
  };
  for (const auto& [name, call] : notBuilt) {
    cases.push_back({name, call, static_cast<DWORD>(NTE_NOT_SUPPORTED)});
  }
  ASSERT_EQ(cases.size(), 30u);
  for (const Case& c : cases) {
    ::SetLastError(0xdeadbeef);
    EXPECT_FALSE(c.call()) << c.name;
    EXPECT_EQ(::GetLastError(), c.code) << c.name;
  }
}

TEST(CoreFunctions, DestroyHashChecksInItsOrder) {
  CapturedTrace t(Deliverable::Provider, 0xFF);
  CPCoreDestroyHash(0x40, 0x80);
  EXPECT_EQ(CoreLines(t), (std::vector<std::string>{
                              "CPCoreDestroyHash - Check parameter hProv SUCCESS",
                              "CPCoreDestroyHash - Check parameter hHash SUCCESS",
                              "CPCoreDestroyHash - Check hProv IsKnown (Error code: 0x00000006)"}));
  t.records.clear();
  CPCoreDeriveKey(0, 0, 0, 0, nullptr);
  EXPECT_EQ(CoreLines(t), std::vector<std::string>{
                              "CPCoreDeriveKey - Not support DeriveKey (Error code: 0x80090029)"});
}

// The marker file in the Windows directory decides the settings record's
// flag. The test owns the file for its run (ctest resource lock tavr_flag).
TEST(FlagFile, FollowsTavrFlagInTheWindowsDirectory) {
  wchar_t dir[MAX_PATH];
  ASSERT_GT(::GetSystemWindowsDirectoryW(dir, MAX_PATH), 0u);
  const std::filesystem::path flag = std::filesystem::path(dir) / L"TAVR.flag";
  const bool existed = std::filesystem::exists(flag);

  std::filesystem::remove(flag);
  EXPECT_FALSE(merro::csp::FlagFileExists());
  std::ofstream(flag) << "";
  EXPECT_TRUE(merro::csp::FlagFileExists());
  if (!existed) {
    std::filesystem::remove(flag);
  }
}

}  // namespace
