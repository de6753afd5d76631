#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "tests/support/captured_trace.h"

namespace {

using merro::testing::CapturedTrace;
using merro::testing::Utf16;
using merro::trace::Deliverable;
using merro::trace::Record;

HRESULT TracedWork(bool failEarly, DWORD lastErrorLeft) {
  MR_TRACE("TracedWork");
  MR_FAIL_IF(failEarly, L"CHECK failEarly", 0x80070001);
  MR_LOG_STEP(L"Work");
  ::SetLastError(lastErrorLeft);
  return S_OK;
}

struct FlagCase {
  Deliverable deliverable;
  DWORD function, error, info;
};

class TraceFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(TraceFlags, EachRecordUsesItsDeliverableFlagBit) {
  const FlagCase c = GetParam();
  {
    CapturedTrace t(c.deliverable, c.function);
    TracedWork(false, 0);
    EXPECT_EQ(t.Numbers(), (std::vector<std::uint16_t>{10, 11}));
    EXPECT_EQ(t.records[0].args[0], std::vector<std::uint8_t>({'T', 'r', 'a', 'c', 'e', 'd', 'W',
                                                               'o', 'r', 'k', 0}));
    EXPECT_EQ(t.records[0].flag, c.function);
  }
  {
    CapturedTrace t(c.deliverable, c.info);
    TracedWork(true, 0);
    TracedWork(false, 0);
    ASSERT_EQ(t.Numbers(), (std::vector<std::uint16_t>{14}));  // the failure needs the error bit
    EXPECT_EQ(t.records[0].args[0], Utf16(u"TracedWork - Work"));
    EXPECT_EQ(t.records[0].args[1], std::vector<std::uint8_t>(4, 0));
  }
  {
    CapturedTrace t(c.deliverable, c.error);
    TracedWork(true, 0);
    ASSERT_EQ(t.Numbers(), (std::vector<std::uint16_t>{13}));
    const std::vector<std::uint8_t> prefix = Utf16(u"[trace_test(");
    ASSERT_GT(t.records[0].args[0].size(), prefix.size());
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end() - 2, t.records[0].args[0].begin()));
    EXPECT_EQ(t.records[0].args[1], std::vector<std::uint8_t>({0x01, 0x00, 0x07, 0x80}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    BothDeliverables, TraceFlags,
    ::testing::Values(FlagCase{Deliverable::CertManager, 0x10, 0x04, 0x08},
                      FlagCase{Deliverable::Provider, 0x08, 0x02, 0x04}));

TEST(Trace, ScopeLeftEarlyStillSendsItsExitRecord) {
  CapturedTrace t(Deliverable::Provider, 0xFFFFFFFF);
  EXPECT_EQ(TracedWork(true, 0), static_cast<HRESULT>(0x80070001));
  EXPECT_EQ(t.Numbers(), (std::vector<std::uint16_t>{10, 13, 11}));
}

TEST(Trace, LastErrorIsWhatTheFunctionLeftWithTracingOnAndOff) {
  for (const DWORD flags : {0u, 0xFFFFFFFFu}) {
    CapturedTrace t(Deliverable::Provider, flags);
    ::SetLastError(1234);
    TracedWork(false, 77);
    EXPECT_EQ(::GetLastError(), 77u) << "flags " << flags;
    ::SetLastError(99);
    { TraceHelper scope("Untouched"); }
    EXPECT_EQ(::GetLastError(), 99u);
  }
}

TEST(Trace, AbsentAndEmptyStringsAreSubstituted) {
  CapturedTrace t(Deliverable::Provider, 0xFFFFFFFF);
  const auto& g = merro::trace::kMiscMessageGuid;
  merro::trace::WppTraceWideString(g, 20, 0x04, nullptr);
  merro::trace::WppTraceWideString(g, 21, 0x04, L"");
  merro::trace::WppTraceAnsiString(g, 22, 0x04, nullptr);
  merro::trace::WppTraceAnsiString(g, 23, 0x04, "");
  ASSERT_EQ(t.records.size(), 4u);
  EXPECT_EQ(t.records[0].args[0], Utf16(u"NULL"));
  EXPECT_EQ(t.records[0].args[0].size(), 10u);
  EXPECT_EQ(t.records[1].args[0], Utf16(u"<NULL>"));
  EXPECT_EQ(t.records[1].args[0].size(), 14u);
  EXPECT_EQ(t.records[2].args[0], std::vector<std::uint8_t>({'N', 'U', 'L', 'L', 0}));
  EXPECT_EQ(t.records[3].args[0], std::vector<std::uint8_t>({0}));
}

TEST(Trace, NothingIsSentWhileUnregistered) {
  merro::trace::SetSink({});
  merro::trace::SetEnableFlags(0xFFFFFFFF);
  EXPECT_FALSE(merro::trace::IsRegistered());
  TracedWork(true, 0);  // must simply not crash or send
  merro::trace::SetEnableFlags(0);
}

TEST(Trace, FailureLineFormatAndNonNegativeFailureGoesOutAsStepLine) {
  EXPECT_EQ(merro::trace::FormatFailureLine("/src/foundation/Misc.cpp", 42, "ReadFileSimple",
                                            L"ReadFile", L"bRetCode == FALSE"),
            L"[Misc(42):] ReadFileSimple - ReadFile [Reason:bRetCode == FALSE]");
  EXPECT_EQ(merro::trace::FormatStepLine("CreateGUIDString", L"Create GUID"),
            L"CreateGUIDString - Create GUID");
  CapturedTrace t(Deliverable::CertManager, 0x08);
  merro::trace::LogFailure(__FILE__, 1, "F", L"CreateFile", L"hFile == INVALID_HANDLE_VALUE",
                           merro::FoldWin32Error(0));
  ASSERT_EQ(t.Numbers(), (std::vector<std::uint16_t>{14}));
}

TEST(Trace, OverlongLineIsTruncatedNotFatal) {
  const std::wstring longStep(2000, L'x');
  const std::wstring line = merro::trace::FormatStepLine("F", longStep.c_str());
  EXPECT_EQ(line.size(), merro::trace::kLineCapacity - 1);
  EXPECT_EQ(line.substr(0, 4), L"F - ");
  CapturedTrace t(Deliverable::Provider, 0xFFFFFFFF);
  merro::trace::LogFailure("a.cpp", 1, "F", longStep.c_str(), longStep.c_str(), -1);
  ASSERT_EQ(t.records.size(), 1u);
  EXPECT_EQ(t.records[0].args[0].size(), 2 * merro::trace::kLineCapacity);
}

TEST(Trace, ValueRecordsCarryNumbersAndStrings) {
  CapturedTrace t(Deliverable::CertManager, 0x04);
  merro::trace::TraceValues(merro::trace::kFunctionInterfaceMessageGuid, 10, {DWORD{7}, L"ab"});
  ASSERT_EQ(t.records.size(), 1u);
  EXPECT_TRUE(t.records[0].messageGuid == merro::trace::kFunctionInterfaceMessageGuid);
  EXPECT_EQ(t.records[0].args[0], std::vector<std::uint8_t>({7, 0, 0, 0}));
  EXPECT_EQ(t.records[0].args[1], Utf16(u"ab"));
}

// A record that cannot be built or delivered is dropped: tracing never
// throws into its caller (scope tracers send from destructors).
TEST(Trace, AFailingRecordIsDroppedWithoutThrowing) {
  CapturedTrace t(Deliverable::Provider, 0xFFFFFFFF);
  merro::trace::SetSink([](const Record&) { throw std::bad_alloc(); });
  ::SetLastError(77);
  EXPECT_NO_THROW({
    TraceHelper scope("Throwing");
    merro::trace::LogStep("Throwing", L"step");
    merro::trace::LogFailure("a.cpp", 1, "Throwing", L"step", L"reason", -1);
    merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 1, {DWORD{1}});
  });
  EXPECT_EQ(::GetLastError(), 77u);
}

TEST(Trace, ValueRecordsUnderAGivenFlagCarryNarrowStrings) {
  CapturedTrace t(Deliverable::Provider, 0x01);
  const char* absent = nullptr;
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 20, 0x01, {"ab", absent, DWORD{9}});
  merro::trace::TraceValues(merro::trace::kMiscMessageGuid, 21, 0x04, {"not enabled"});
  ASSERT_EQ(t.records.size(), 1u);
  EXPECT_EQ(t.records[0].flag, 0x01u);
  EXPECT_EQ(t.records[0].args[0], std::vector<std::uint8_t>({'a', 'b', 0}));
  EXPECT_EQ(t.records[0].args[1], std::vector<std::uint8_t>({'N', 'U', 'L', 'L', 0}));
  EXPECT_EQ(t.records[0].args[2], std::vector<std::uint8_t>({9, 0, 0, 0}));
}

TEST(Result, FoldingTable) {
  struct Case {
    LONG in;
    DWORD lastError;
    std::uint32_t out;
  } const cases[] = {
      {0, 0, 0},
      {0x10000008, 0, 0x80070008},
      {0x2000ABCD, 0, 0xA007ABCD},
      {static_cast<LONG>(0x8000FF07u), 0, 0x8000FF07},
      {5, 0, 0x80070005},
      {-1, 5, 0x80070005},
      {-1, 0, 0},
      {-1, 0x20000001, 0xA0070001},
  };
  for (const Case& c : cases) {
    ::SetLastError(c.lastError);
    EXPECT_EQ(static_cast<std::uint32_t>(HRESULT_FROM_TOKEN_ERROR(c.in)), c.out) << c.in;
  }
}

}  // namespace

namespace {

// Registration succeeds or quietly does nothing (no logger under Wine, no
// MERRO_TRACE natively); either way callers see no change of last error.
TEST(Trace, RegistrationIsInvisibleToCallers) {
  ::SetLastError(4321);
  merro::trace::Register();
  EXPECT_EQ(::GetLastError(), 4321u);
  { TraceHelper scope("AfterRegister"); }
  merro::trace::Unregister();
  EXPECT_EQ(::GetLastError(), 4321u);
  EXPECT_FALSE(merro::trace::IsRegistered());
}

}  // namespace

namespace {

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "Misc"

HRESULT WorkOfTheMiscSource() {
  MR_TRACE("ReadFileSimple");
  MR_LOG_FAIL(L"ReadFile", L"bRetCode == FALSE", static_cast<HRESULT>(0x80070005));
  return S_OK;
}

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE __FILE__

TEST(Trace, FailureLinesNameTheSourceAFileDeclares) {
  CapturedTrace t(Deliverable::Provider, 0x02);
  WorkOfTheMiscSource();
  ASSERT_EQ(t.records.size(), 1u);
  const std::vector<std::uint8_t> prefix = Utf16(u"[Misc(");
  EXPECT_TRUE(std::equal(prefix.begin(), prefix.end() - 2, t.records[0].args[0].begin()));
}

// A helper's lines carry its caller's function name and source; the helper
// adds no entry or exit records of its own.
HRESULT HelperOfTheCaller(const char* function, bool failHere) {
  MR_TRACE_UNDER(function);
  MR_LOG_STEP(L"Helper step", 5);
  MR_FAIL_IF(failHere, L"Helper check", static_cast<HRESULT>(0x80070002));
  return S_OK;
}

HRESULT CallerOfTheHelper(bool failHere) {
  MR_TRACE("CallerOfTheHelper");
  return HelperOfTheCaller(MR_TRACE_FUNCTION, failHere);
}

TEST(Trace, HelperReportsUnderItsCallersNameWithoutScopeRecords) {
  CapturedTrace t(Deliverable::Provider, 0xFFFFFFFF);
  EXPECT_EQ(CallerOfTheHelper(true), static_cast<HRESULT>(0x80070002));
  ASSERT_EQ(t.Numbers(), (std::vector<std::uint16_t>{10, 14, 13, 11}));
  EXPECT_EQ(merro::testing::Utf16Text(t.records[1].args[0]), "CallerOfTheHelper - Helper step");
  EXPECT_EQ(t.records[1].args[1], std::vector<std::uint8_t>({5, 0, 0, 0}));
  const std::string failure = merro::testing::Utf16Text(t.records[2].args[0]);
  EXPECT_EQ(failure.rfind("[trace_test(", 0), 0u) << failure;
  EXPECT_NE(failure.find("):] CallerOfTheHelper - Helper check [Reason:failHere]"),
            std::string::npos)
      << failure;
}

TEST(Trace, EventRecordAndStartUpCalls) {
  {
    CapturedTrace t(Deliverable::Provider, 0x04);
    merro::trace::WppTraceEvent(merro::trace::kMiscMessageGuid, 12, 0x04);
    merro::trace::WppTraceEvent(merro::trace::kMiscMessageGuid, 13, 0x01);  // not enabled
    ASSERT_EQ(t.records.size(), 1u);
    EXPECT_EQ(t.records[0].number, 12);
    EXPECT_TRUE(t.records[0].args.empty());
  }
  ::SetLastError(4321);
  WppLoadTraceMessage();
  WppInitUm();
  WppCleanupUm();
  EXPECT_EQ(::GetLastError(), 4321u);
  EXPECT_FALSE(merro::trace::IsRegistered()) << "cleanup marks tracing off";
}

}  // namespace

namespace {

void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  if (*value == '\0') {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
#endif
}

// Natively, and in Windows test builds (where event tracing records nothing
// under Wine), MERRO_TRACE=<file> makes registration write each record as a
// text line; unregistering closes the file.
TEST(Trace, RegistrationWithMerroTraceWritesTextLines) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "merro-trace-text-sink-test.log";
  std::filesystem::remove(file);
  SetEnv("MERRO_TRACE", file.string().c_str());
  SetEnv("MERRO_TRACE_FLAGS", "0x08");
  merro::trace::Register();
  EXPECT_TRUE(merro::trace::IsRegistered());
  { TraceHelper scope("TextSinkWork"); }
  merro::trace::LogStep("TextSinkWork", L"not enabled");
  merro::trace::Unregister();
  { TraceHelper scope("AfterUnregister"); }
  SetEnv("MERRO_TRACE", "");
  SetEnv("MERRO_TRACE_FLAGS", "");
  merro::trace::SetEnableFlags(0);

  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  std::filesystem::remove(file);
  EXPECT_EQ(text.str(), "[D799E92C #10] TextSinkWork\n[D799E92C #11] TextSinkWork\n");
}

}  // namespace
