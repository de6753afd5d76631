#include "tests/support/ui/robot_thread.h"

#include <cstdio>
#include <cstdlib>

namespace merro::test {

RobotThread::RobotThread(Script script) {
  m_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_thread = std::thread(&RobotThread::Run, this, std::move(script));
}

RobotThread::~RobotThread() {
  Join();
  if (m_done != nullptr) {
    ::CloseHandle(m_done);
  }
}

void RobotThread::Run(Script script) {
  try {
    script(m_robot);
  } catch (const RobotAbort&) {
    // Recorded by Require.
  } catch (const std::exception& e) {
    m_robot.Fail(std::string("robot script threw: ") + e.what());
  } catch (...) {
    m_robot.Fail("robot script threw");
  }
  if (m_robot.Failed()) {
    // A failing robot must not leave the test's thread in a modal loop: close
    // whatever dialog this process shows until the test comes back.
    const DWORD start = ::GetTickCount();
    while (!m_released.load() && ::GetTickCount() - start < kJoinTimeoutMs) {
      CloseDialogsOf(::GetCurrentProcessId());
      ::Sleep(100);
    }
  }
  ::SetEvent(m_done);
}

void RobotThread::Join() {
  if (m_joined) {
    return;
  }
  m_joined = true;
  m_released.store(true);
  if (::WaitForSingleObject(m_done, kJoinTimeoutMs) == WAIT_OBJECT_0) {
    m_thread.join();
  } else {
    // The thread still uses this object: ending the test program is the only
    // way out that neither hangs nor touches freed memory.
    std::fprintf(stderr, "robot thread did not finish within %lu ms\n",
                 static_cast<unsigned long>(kJoinTimeoutMs));
    std::fflush(stderr);
    std::_Exit(3);
  }
}

}  // namespace merro::test
