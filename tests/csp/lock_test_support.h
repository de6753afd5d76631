// Helpers of the tests that hold the provider's call lock in one process and
// call the provider in another: unique names, the marker a holder writes
// once it has the lock (with the tick count at which it got it), and calls
// with a deadline, since a broken lock hangs its callers.
#pragma once

#include <gtest/gtest.h>

#include "csp/call_lock.h"
#include "foundation/platform.h"
#include "tests/support/child_process.h"
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace merro::testing {

inline std::string UniqueName(const char* tag) {
  return std::string("merro-csp-") + tag + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

inline std::filesystem::path MarkerPath(const std::string& name) {
  return std::filesystem::temp_directory_path() / (name + ".ready");
}

// Written whole (through a rename), so a reader never sees half of it.
inline void WriteTickMarker(const std::string& name) {
  const std::filesystem::path marker = MarkerPath(name);
  { std::ofstream(marker.string() + ".tmp") << ::GetTickCount(); }
  std::filesystem::rename(marker.string() + ".tmp", marker);
}

// The tick count in the marker; 0 when it cannot be read within a second.
inline DWORD ReadTickMarker(const std::string& name) {
  for (int i = 0; i < 100; ++i) {
    std::ifstream in(MarkerPath(name));
    DWORD tick = 0;
    if (in >> tick) {
      return tick;
    }
    ::Sleep(10);
  }
  return 0;
}

struct Outcome {
  BOOL result;
  DWORD error;  // the calling thread's last error after the call
};

// Runs a call on its own thread and waits a bounded time. A call still
// running then hangs on the lock: the test fails and the process ends, since
// a thread stuck in a wait cannot be taken back.
inline Outcome CallWithin(std::chrono::milliseconds limit, const std::function<BOOL()>& call) {
  std::packaged_task<Outcome()> task([&call] {
    const BOOL r = call();
    return Outcome{r, ::GetLastError()};
  });
  std::future<Outcome> done = task.get_future();
  std::thread worker(std::move(task));
  if (done.wait_for(limit) != std::future_status::ready) {
    ADD_FAILURE() << "the call did not return within " << limit.count() << " ms";
    std::fflush(nullptr);
    std::_Exit(3);
  }
  worker.join();
  return done.get();
}

// With a child that holds the lock for holdMs and then writes its marker
// (named name): runs call and checks that it started while the lock was held
// and ended no earlier than the holder let go.
inline void ExpectCallWaitsForHolder(ChildProcess& child, const std::string& name, DWORD holdMs,
                                     const std::function<void()>& call) {
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(WaitForFile(MarkerPath(name)));
  const DWORD taken = ReadTickMarker(name);
  const DWORD start = ::GetTickCount();
  call();
  const DWORD end = ::GetTickCount();
  EXPECT_EQ(child.Join(), 0);
  std::filesystem::remove(MarkerPath(name));
  ASSERT_NE(taken, 0u);
  EXPECT_LT(start - taken, holdMs) << "the call started after the holder had let go";
  EXPECT_GE(end - taken, holdMs) << "taken " << taken << ", call " << start << " to " << end;
}

// The lock opened as a process waiting for it has it open. A lock that no
// process has open any more is simply made anew by the next call; only while
// someone has it open does a holder that ends leave it abandoned.
inline std::unique_ptr<platform::NamedMutex> OpenLockAsAWaiter() {
  return platform::NamedMutex::Open(csp::kCSPSerializeLockName);
}

}  // namespace merro::testing
