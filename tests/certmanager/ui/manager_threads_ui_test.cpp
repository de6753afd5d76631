// The event thread on its own: it ends when its quit event is set, and also
// when it cannot wait at all (a show event that could not be made), rather
// than failing its wait again forever.
#include <gtest/gtest.h>

#include "certmanager/manager_thread_param.h"
#include "certmanager/run_cert_manager.h"

namespace {

struct Case {
  const char* name;
  bool makeShowEvent;
  bool setExit;
};

TEST(ManagerThreads, TheEventThreadEnds) {
  const Case cases[] = {
      {"quit event set", true, true},
      {"no show event", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ManagerThreadParam param;
    param.hExitEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    param.hShowEvent = c.makeShowEvent ? ::CreateEventW(nullptr, TRUE, FALSE, nullptr) : nullptr;
    HANDLE thread = ::CreateThread(nullptr, 0, &OpenMainDlgThread, &param, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    if (c.setExit) {
      ::SetEvent(param.hExitEvent);
    }
    const DWORD wait = ::WaitForSingleObject(thread, 10000);
    EXPECT_EQ(wait, WAIT_OBJECT_0);
    if (wait != WAIT_OBJECT_0) {
      // It still reads the block: ending the program is the only way out.
      std::fflush(stdout);
      std::_Exit(3);
    }
    ::CloseHandle(thread);
    ::CloseHandle(param.hExitEvent);
    if (param.hShowEvent != nullptr) {
      ::CloseHandle(param.hShowEvent);
    }
  }
}

}  // namespace
