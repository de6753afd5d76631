// The exported entry points around a fake core: the wrapper's steps, the
// code CPSignHash alone changes, the guard, and the call lock between the
// threads and processes that call them.
#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "csp/call_lock.h"
#include "csp/core_trace.h"
#include "csp/provider_interface.h"
#include "foundation/platform.h"
#include "tests/csp/fake_core.h"
#include "tests/csp/lock_test_support.h"
#include "tests/support/captured_trace.h"
#include "tests/support/child_process.h"

namespace {

namespace fs = std::filesystem;
using merro::testing::CallWithin;
using merro::testing::CapturedTrace;
using merro::testing::ChildProcess;
using merro::testing::MarkerPath;
using merro::testing::Outcome;
using merro::testing::UniqueName;
using merro::testing::Utf16Text;
using merro::trace::Deliverable;
namespace fake = merro::testing::fake;

struct ExportCase {
  const char* name;
  std::function<BOOL()> call;
};

// Every export, called with zero arguments (the fake core reads none).
const std::vector<ExportCase>& AllExports() {
  static const std::vector<ExportCase> all = {
      {"CPAcquireContext", [] { return CPAcquireContext({}, {}, {}, {}); }},
      {"CPCreateHash", [] { return CPCreateHash({}, {}, {}, {}, {}); }},
      {"CPDecrypt", [] { return CPDecrypt({}, {}, {}, {}, {}, {}, {}); }},
      {"CPDeriveKey", [] { return CPDeriveKey({}, {}, {}, {}, {}); }},
      {"CPDestroyHash", [] { return CPDestroyHash({}, {}); }},
      {"CPDestroyKey", [] { return CPDestroyKey({}, {}); }},
      {"CPDuplicateHash", [] { return CPDuplicateHash({}, {}, {}, {}, {}); }},
      {"CPDuplicateKey", [] { return CPDuplicateKey({}, {}, {}, {}, {}); }},
      {"CPEncrypt", [] { return CPEncrypt({}, {}, {}, {}, {}, {}, {}, {}); }},
      {"CPExportKey", [] { return CPExportKey({}, {}, {}, {}, {}, {}, {}); }},
      {"CPGenKey", [] { return CPGenKey({}, {}, {}, {}); }},
      {"CPGenRandom", [] { return CPGenRandom({}, {}, {}); }},
      {"CPGetHashParam", [] { return CPGetHashParam({}, {}, {}, {}, {}, {}); }},
      {"CPGetKeyParam", [] { return CPGetKeyParam({}, {}, {}, {}, {}, {}); }},
      {"CPGetProvParam", [] { return CPGetProvParam({}, {}, {}, {}, {}); }},
      {"CPGetUserKey", [] { return CPGetUserKey({}, {}, {}); }},
      {"CPHashData", [] { return CPHashData({}, {}, {}, {}, {}); }},
      {"CPHashSessionKey", [] { return CPHashSessionKey({}, {}, {}, {}); }},
      {"CPImportKey", [] { return CPImportKey({}, {}, {}, {}, {}, {}); }},
      {"CPReleaseContext", [] { return CPReleaseContext({}, {}); }},
      {"CPSetHashParam", [] { return CPSetHashParam({}, {}, {}, {}, {}); }},
      {"CPSetKeyParam", [] { return CPSetKeyParam({}, {}, {}, {}, {}); }},
      {"CPSetProvParam", [] { return CPSetProvParam({}, {}, {}, {}); }},
      {"CPSignHash", [] { return CPSignHash({}, {}, {}, {}, {}, {}, {}); }},
      {"CPVerifySignature", [] { return CPVerifySignature({}, {}, {}, {}, {}, {}, {}); }},
  };
  return all;
}

class Exports : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::g_behaviour = {};
    fake::g_calls.clear();
  }
  void TearDown() override { fake::g_behaviour = {}; }
};

TEST_F(Exports, EachCallsItsOwnCoreAndPassesItsResult) {
  ASSERT_EQ(AllExports().size(), 25u);
  for (const ExportCase& e : AllExports()) {
    const std::string core = std::string("CPCore") + (e.name + 2);
    fake::g_calls.clear();
    fake::g_behaviour = {TRUE, 0, {}};
    ::SetLastError(0xdeadbeef);
    EXPECT_TRUE(e.call()) << e.name;
    EXPECT_EQ(::GetLastError(), 0u) << e.name;
    EXPECT_EQ(fake::g_calls, std::vector<std::string>{core});
    // The lock's own calls leave nothing in the last error the core sees.
    EXPECT_EQ(fake::g_errorOnEntry, 0xdeadbeefu) << e.name;

    fake::g_behaviour = {FALSE, static_cast<DWORD>(NTE_BAD_KEYSET), {}};
    EXPECT_FALSE(e.call()) << e.name;
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET)) << e.name;
  }
}

// A token whose button was not pressed in time: a signature reports it as
// cancelled by the user, every other call keeps the time-out.
TEST_F(Exports, OnlyCPSignHashReportsATokenTimeOutAsCancelled) {
  for (const ExportCase& e : AllExports()) {
    const bool sign = std::string(e.name) == "CPSignHash";
    fake::g_behaviour = {FALSE, static_cast<DWORD>(SCARD_E_TIMEOUT), {}};
    EXPECT_FALSE(e.call());
    EXPECT_EQ(::GetLastError(),
              static_cast<DWORD>(sign ? SCARD_W_CANCELLED_BY_USER : SCARD_E_TIMEOUT))
        << e.name;
  }
  fake::g_behaviour = {FALSE, static_cast<DWORD>(NTE_BAD_SIGNATURE), {}};
  EXPECT_FALSE(CPSignHash(0, 0, 0, nullptr, 0, nullptr, nullptr));
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(NTE_BAD_SIGNATURE));
}

TEST_F(Exports, EntryAndExitRecordsNameTheExport) {
  CapturedTrace t(Deliverable::Provider, merro::csp::TRACE_FLAG_FUNCTION);
  size_t recordsSeenByCore = 0;
  fake::g_behaviour.action = [&] { recordsSeenByCore = t.records.size(); };
  ::SetLastError(55);
  CPHashData(0, 0, nullptr, 0, 0);
  EXPECT_EQ(recordsSeenByCore, 1u);
  ASSERT_EQ(t.Numbers(), (std::vector<std::uint16_t>{10, 11}));
  for (const auto& r : t.records) {
    EXPECT_TRUE(r.messageGuid == merro::trace::ProfileOf(Deliverable::Provider).messageGuid);
    EXPECT_EQ(r.flag, merro::csp::TRACE_FLAG_FUNCTION);
    EXPECT_EQ(r.args.at(0),
              std::vector<std::uint8_t>({'C', 'P', 'H', 'a', 's', 'h', 'D', 'a', 't', 'a', 0}));
  }
}

// An exception out of the core fails the call and still releases the lock:
// another thread gets it at once.
TEST_F(Exports, AnExceptionFailsTheCallAndReleasesTheLock) {
  struct Case {
    std::function<void()> action;
    HRESULT code;
  } const cases[] = {
      {[] { throw std::bad_alloc(); }, NTE_NO_MEMORY},
      {[] { throw 42; }, NTE_FAIL},
  };
  for (const Case& c : cases) {
    fake::g_behaviour = {TRUE, 0, c.action};
    EXPECT_FALSE(CPGenRandom(0, 0, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(c.code));
    fake::g_behaviour = {};
    const Outcome other =
        CallWithin(std::chrono::seconds(10), [] { return CPGenRandom(0, 0, nullptr); });
    EXPECT_TRUE(other.result);
  }
}

// An object of another kind under the lock's name (an old event-based
// version of the library in the same session): the call fails with the
// folded error instead of running unlocked.
TEST_F(Exports, ALockThatCannotBeCreatedFailsTheCall) {
  HANDLE squatter = ::CreateEventA(nullptr, FALSE, TRUE, merro::csp::kCSPSerializeLockName);
  ASSERT_NE(squatter, nullptr);
  ::SetLastError(0);
  EXPECT_FALSE(CPGetProvParam(0, 0, nullptr, nullptr, 0));
  EXPECT_EQ(::GetLastError(), 0x80070006u);
  EXPECT_TRUE(fake::g_calls.empty()) << "the core ran without the lock";
  ::CloseHandle(squatter);
  EXPECT_TRUE(CPGetProvParam(0, 0, nullptr, nullptr, 0));
}

// A window procedure inside a modal PIN dialog may call the provider again
// on the thread that holds the lock.
TEST_F(Exports, ANestedCallOnTheHoldingThreadCompletes) {
  Outcome nested{FALSE, 1};
  fake::g_behaviour.action = [&] {
    if (fake::g_calls.size() == 1) {
      nested.result = CPGetProvParam(0, 0, nullptr, nullptr, 0);
      nested.error = ::GetLastError();
    }
  };
  const Outcome outer =
      CallWithin(std::chrono::seconds(10), [] { return CPGenRandom(0, 0, nullptr); });
  EXPECT_TRUE(outer.result);
  EXPECT_TRUE(nested.result);
  EXPECT_EQ(fake::g_calls, (std::vector<std::string>{"CPCoreGenRandom", "CPCoreGetProvParam"}));
}

// ---- Two processes ---------------------------------------------------------

// Child: calls CPGenRandom, whose core writes the tick count at which it got
// the lock into the marker and then holds the lock for holdMs.
int HoldChild(const std::string& name, DWORD holdMs) {
  fake::g_behaviour.action = [&] {
    merro::testing::WriteTickMarker(name);
    ::Sleep(holdMs);
  };
  return CPGenRandom(0, 0, nullptr) ? 0 : 2;
}

TEST_F(Exports, AHolderThatWasKilledLeavesTheLockToTheNextCall) {
  const std::string name = UniqueName("killed");
  ChildProcess child = ChildProcess::StartSelf({"--hold", name, "30000"});
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(merro::testing::WaitForFile(MarkerPath(name)));
  auto waiter = merro::testing::OpenLockAsAWaiter();
  ASSERT_TRUE(waiter);
  child.Kill();
  child.Join();
  fs::remove(MarkerPath(name));

  CapturedTrace t(Deliverable::Provider, 0xFF);
  const Outcome o = CallWithin(std::chrono::seconds(10),
                               [] { return CPGetProvParam(0, 0, nullptr, nullptr, 0); });
  EXPECT_TRUE(o.result);
  EXPECT_EQ(o.error, 0u);
  std::vector<std::string> lines;
  for (const auto& r : t.records) {
    if (r.number == merro::trace::kMsgStepLine) {
      lines.push_back(Utf16Text(r.args.at(0)));
    }
  }
  EXPECT_EQ(lines, std::vector<std::string>{
                       "CPGetProvParam - Call lock abandoned by a holder that ended, taken"});
  t.records.clear();
  EXPECT_TRUE(CPGetProvParam(0, 0, nullptr, nullptr, 0));
  EXPECT_EQ(t.Numbers(), (std::vector<std::uint16_t>{10, 11})) << "abandoned only once";
}

TEST_F(Exports, AHolderDelaysACallOfAnotherProcess) {
  const std::string name = UniqueName("holder");
  ChildProcess child = ChildProcess::StartSelf({"--hold", name, "1500"});
  merro::testing::ExpectCallWaitsForHolder(
      child, name, 1500, [] { EXPECT_TRUE(CPGetProvParam(0, 0, nullptr, nullptr, 0)); });
}

// The shared counters of the overlap test, in a named section.
struct Overlap {
  LONG ready;
  LONG inCall;
  LONG maxInCall;
  LONG calls;
};

class SharedOverlap {
 public:
  explicit SharedOverlap(const std::string& name)
      : m_section(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                       sizeof(Overlap), name.c_str())),
        m_view(m_section != nullptr ? static_cast<Overlap*>(::MapViewOfFile(
                                          m_section, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Overlap)))
                                    : nullptr) {}
  ~SharedOverlap() {
    if (m_view != nullptr) {
      ::UnmapViewOfFile(m_view);
    }
    if (m_section != nullptr) {
      ::CloseHandle(m_section);
    }
  }
  Overlap* operator->() const { return m_view; }
  explicit operator bool() const { return m_view != nullptr; }

 private:
  HANDLE m_section;
  Overlap* m_view;
};

// Child: calls CPGenRandom count times; each core call notes how many calls
// are inside at once.
int CountChild(const std::string& name, int count) {
  SharedOverlap shared(name);
  if (!shared) {
    return 2;
  }
  fake::g_behaviour.action = [&] {
    const LONG inside = ::InterlockedIncrement(&shared->inCall);
    LONG seen = shared->maxInCall;
    while (inside > seen &&
           ::InterlockedCompareExchange(&shared->maxInCall, inside, seen) != seen) {
      seen = shared->maxInCall;
    }
    ::Sleep(3);
    ::InterlockedIncrement(&shared->calls);
    ::InterlockedDecrement(&shared->inCall);
  };
  // Both children start calling together, so that their calls contend.
  ::InterlockedIncrement(&shared->ready);
  for (int i = 0; i < 1000 && shared->ready < 2; ++i) {
    ::Sleep(10);
  }
  for (int i = 0; i < count; ++i) {
    if (!CPGenRandom(0, 0, nullptr)) {
      return 3;
    }
  }
  return 0;
}

TEST_F(Exports, CallsOfTwoProcessesNeverOverlap) {
  const std::string name = UniqueName("overlap");
  SharedOverlap shared(name);
  ASSERT_TRUE(shared);
  ChildProcess a = ChildProcess::StartSelf({"--count", name, "40"});
  ChildProcess b = ChildProcess::StartSelf({"--count", name, "40"});
  EXPECT_EQ(a.Join(), 0);
  EXPECT_EQ(b.Join(), 0);
  EXPECT_EQ(shared->calls, 80);
  EXPECT_EQ(shared->maxInCall, 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--hold") {
    return HoldChild(argv[2], static_cast<DWORD>(std::stoul(argv[3])));
  }
  if (argc == 4 && std::string(argv[1]) == "--count") {
    return CountChild(argv[2], std::stoi(argv[3]));
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
