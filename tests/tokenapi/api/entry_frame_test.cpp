// The entry-point frame: check order, the device mutex, folding, tracing.
#include "tokenapi/api/entry_frame.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "tests/tokenapi/api/api_test_support.h"
#include "tokenapi/transport/merro_transport.h"

namespace {

using merro::api::DeviceMutex;
using merro::api::RunEntryPoint;
using merro::apitest::MutexContext;
using merro::apitest::MutexFreeForOtherThread;
using merro::apitest::TraceLines;

struct FoldCase {
  HRESULT routineResult;
  DWORD lastError;  // set by the routine just before it returns
  HRESULT expected;
};

class FoldTest : public ::testing::TestWithParam<FoldCase> {};

// The routine's result folds into the entry point's; the release of the
// device mutex between the routine and the fold never changes it (a -1
// stands for the last error the routine left).
TEST_P(FoldTest, RoutineResultIsFolded) {
  const FoldCase c = GetParam();
  MutexContext ctx;
  TraceLines trace;
  const HRESULT hr = RunEntryPoint("FoldProbe", {{L"CHECK pDevCtx", true}}, DeviceMutex::Wait,
                                   ctx.get(), L"mr_FoldProbe", [&] {
                                     ::SetLastError(c.lastError);
                                     return c.routineResult;
                                   });
  EXPECT_EQ(static_cast<std::uint32_t>(hr), static_cast<std::uint32_t>(c.expected));
  const auto lines = trace.Of("FoldProbe");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "FoldProbe - mr_FoldProbe");
  EXPECT_EQ(lines.back().result, static_cast<std::uint32_t>(c.expected));
  EXPECT_EQ(lines.back().failure, c.expected < 0);
  EXPECT_TRUE(MutexFreeForOtherThread(ctx.get()->szMutexName));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FoldTest,
    ::testing::Values(
        FoldCase{0, 0, 0}, FoldCase{0x10000008, 0, static_cast<HRESULT>(0x80070008)},
        FoldCase{0x20001234, 0, static_cast<HRESULT>(0xA0071234)},
        FoldCase{0x2000FFFF, 0, static_cast<HRESULT>(0xA007FFFF)},
        FoldCase{static_cast<HRESULT>(0x8000FF07), 0, static_cast<HRESULT>(0x8000FF07)},
        FoldCase{static_cast<HRESULT>(0x800063C2), 0, static_cast<HRESULT>(0x800063C2)},
        FoldCase{-1, 5, static_cast<HRESULT>(0x80070005)},
        FoldCase{-1, 0x20000010, static_cast<HRESULT>(0xA0070010)}, FoldCase{-1, 0, 0}));

// The first failing check ends the call: its step is the failure line, the
// checks before it are step lines, and neither the mutex nor the routine is
// touched.
TEST(EntryFrameTest, FirstFailingCheckStopsBeforeMutexAndRoutine) {
  MutexContext ctx;
  TraceLines trace;
  bool called = false;
  const HRESULT hr =
      RunEntryPoint("Probe", {{L"CHECK pA", true}, {L"CHECK pB", false}, {L"CHECK pC", false}},
                    DeviceMutex::Wait, ctx.get(), L"mr_Probe", [&] {
                      called = true;
                      return 0;
                    });
  EXPECT_EQ(static_cast<std::uint32_t>(hr), 0x80070001u);
  EXPECT_FALSE(called);
  const auto lines = trace.Of("Probe");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Probe - CHECK pA");
  EXPECT_FALSE(lines[0].failure);
  EXPECT_EQ(lines[1].text, "Probe - CHECK pB");
  EXPECT_TRUE(lines[1].failure);
  EXPECT_EQ(lines[1].result, 0x80070001u);
  EXPECT_FALSE(trace.Has("Probe - MerroWaitDevMutex"));
}

// The routine runs while this thread holds the device mutex; afterwards it
// is free again.
TEST(EntryFrameTest, RoutineRunsUnderTheDeviceMutex) {
  MutexContext ctx;
  TraceLines trace;
  bool freeInside = true;
  const HRESULT hr = RunEntryPoint("Probe", {{L"CHECK pDevCtx", true}}, DeviceMutex::Wait,
                                   ctx.get(), L"mr_Probe", [&] {
                                     freeInside = MutexFreeForOtherThread(ctx.get()->szMutexName);
                                     return 0;
                                   });
  EXPECT_EQ(hr, 0);
  EXPECT_FALSE(freeInside);
  EXPECT_TRUE(MutexFreeForOtherThread(ctx.get()->szMutexName));
  const auto lines = trace.Of("Probe");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].text, "Probe - MerroWaitDevMutex");
  EXPECT_EQ(lines[2].text, "Probe - mr_Probe");
}

// An entry point called by a routine that already holds the mutex waits and
// releases once more; the outer hold survives the inner release.
TEST(EntryFrameTest, NestedEntryPointKeepsTheOuterHold) {
  MutexContext ctx;
  bool freeAfterInner = true;
  const HRESULT hr = RunEntryPoint(
      "Outer", {{L"CHECK pDevCtx", true}}, DeviceMutex::Wait, ctx.get(), L"mr_Outer", [&] {
        const HRESULT inner = RunEntryPoint("Inner", {{L"CHECK pDevCtx", true}}, DeviceMutex::Wait,
                                            ctx.get(), L"mr_Inner", [] { return 0; });
        freeAfterInner = MutexFreeForOtherThread(ctx.get()->szMutexName);
        return inner;
      });
  EXPECT_EQ(hr, 0);
  EXPECT_FALSE(freeAfterInner);
  EXPECT_TRUE(MutexFreeForOtherThread(ctx.get()->szMutexName));
}

// A wait that fails (the mutex cannot be opened) is returned folded under
// its own step; the routine is not called and nothing is released.
TEST(EntryFrameTest, FailedWaitSkipsTheRoutine) {
  DEV_CTX ctx{};
  std::snprintf(ctx.szMutexName, sizeof ctx.szMutexName, "merro-api-test-never-created");
  TraceLines trace;
  bool called = false;
  const HRESULT hr =
      RunEntryPoint("Probe", {{L"CHECK pDevCtx", true}}, DeviceMutex::Wait, &ctx, L"mr_Probe", [&] {
        called = true;
        return 0;
      });
  EXPECT_LT(hr, 0);
  EXPECT_FALSE(called);
  const auto* failure = trace.FirstFailure("Probe");
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->text, "Probe - MerroWaitDevMutex");
  EXPECT_EQ(failure->result, static_cast<std::uint32_t>(hr));
  EXPECT_FALSE(trace.Has("Probe - mr_Probe"));
}

// Entry points without the mutex never wait.
TEST(EntryFrameTest, UnlockedEntryPointDoesNotWait) {
  MutexContext ctx;
  TraceLines trace;
  bool freeInside = false;
  EXPECT_EQ(RunEntryPoint("Probe", {{L"CHECK pCtx", true}}, L"mr_Probe",
                          [&] {
                            freeInside = MutexFreeForOtherThread(ctx.get()->szMutexName);
                            return 0;
                          }),
            0);
  EXPECT_TRUE(freeInside);
  EXPECT_FALSE(trace.Has("Probe - MerroWaitDevMutex"));
}

// No exception leaves the frame, and the mutex is released after one.
TEST(EntryFrameTest, ExceptionsBecomeResults) {
  MutexContext ctx;
  EXPECT_EQ(static_cast<std::uint32_t>(RunEntryPoint("Probe", {}, DeviceMutex::Wait, ctx.get(),
                                                     L"mr_Probe",
                                                     []() -> HRESULT { throw std::bad_alloc(); })),
            0x80070008u);
  EXPECT_TRUE(MutexFreeForOtherThread(ctx.get()->szMutexName));
  EXPECT_EQ(static_cast<std::uint32_t>(RunEntryPoint(
                "Probe", {}, L"mr_Probe", []() -> HRESULT { throw std::runtime_error("x"); })),
            0x8000FFFFu);
}

}  // namespace
