// A second process for tests that need one (a mutex held by another process,
// two clients of one token): this test executable started again with other
// arguments, or natively a fork running a function; and the wait for the
// file a child writes once it is ready.
//
//   ChildProcess child = ChildProcess::StartSelf({"--child-hold", marker});
//   ASSERT_TRUE(WaitForFile(marker));
//   ...
//   EXPECT_EQ(child.Join(), 0);
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "foundation/platform.h"

#ifndef _WIN32
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace merro::testing {

// The full path of the running test executable.
inline std::string SelfPath() {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
#else
  return std::filesystem::canonical("/proc/self/exe").string();
#endif
}

class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    std::swap(m_handle, other.m_handle);
    return *this;
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  // A child not joined (a test that stopped early) is still waited for, so
  // that it leaves no zombie or open handle behind.
  ~ChildProcess() { Join(); }

  // Starts this test executable again with these arguments; Started() is
  // false when it could not be started.
  static ChildProcess StartSelf(const std::vector<std::string>& args) {
    return Start(SelfPath(), args);
  }

  // Starts another program (a full path) with these arguments.
  static ChildProcess Start(const std::string& program, const std::vector<std::string>& args) {
    ChildProcess c;
#ifdef _WIN32
    std::string cmd = "\"" + program + "\"";
    for (const std::string& a : args) {
      cmd += " \"" + a + "\"";
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (::CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      ::CloseHandle(pi.hThread);
      c.m_handle = pi.hProcess;
    }
#else
    std::vector<std::string> owned{program};
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : owned) {
      argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
      c.m_handle = pid;
    }
#endif
    return c;
  }

#ifndef _WIN32
  // Natively: a fork of this process that runs fn and exits with its result.
  template <class Fn>
  static ChildProcess Fork(Fn fn) {
    ChildProcess c;
    const pid_t pid = fork();
    if (pid == 0) {
      _exit(fn());
    }
    if (pid > 0) {
      c.m_handle = pid;
    }
    return c;
  }
#endif

  bool Started() const { return m_handle != kNone; }

  // Ends the child at once, wherever it is (it runs no clean-up of its
  // own); Join() still reaps it.
  void Kill() {
    if (!Started()) {
      return;
    }
#ifdef _WIN32
    ::TerminateProcess(m_handle, 9);
#else
    ::kill(m_handle, SIGKILL);
#endif
  }

  // Waits for the child to end; its exit code, or 1 when it did not start
  // or did not exit normally.
  int Join() {
    if (!Started()) {
      return 1;
    }
#ifdef _WIN32
    ::WaitForSingleObject(m_handle, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(m_handle, &code);
    ::CloseHandle(m_handle);
    m_handle = kNone;
    return static_cast<int>(code);
#else
    int status = 0;
    const pid_t pid = m_handle;
    m_handle = kNone;
    if (waitpid(pid, &status, 0) != pid) {
      return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
#endif
  }

 private:
#ifdef _WIN32
  static constexpr HANDLE kNone = nullptr;
  HANDLE m_handle = kNone;
#else
  static constexpr pid_t kNone = -1;
  pid_t m_handle = kNone;
#endif
};

// Waits up to about ten seconds for a file a child writes once it is ready;
// whether it is there.
inline bool WaitForFile(const std::filesystem::path& path) {
  for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i) {
    Sleep(10);
  }
  return std::filesystem::exists(path);
}

}  // namespace merro::testing
