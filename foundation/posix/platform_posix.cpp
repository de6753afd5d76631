// Windows facilities the portable core uses, for POSIX hosts.
#include "foundation/platform.h"

#include <time.h>
#include <unistd.h>

#include <climits>
#include <vector>

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

void Sleep(DWORD dwMilliseconds) {
  timespec ts{static_cast<time_t>(dwMilliseconds / 1000),
              static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

DWORD GetTickCount() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<DWORD>(ms);  // wraps after 49.7 days, as on Windows
}

namespace merro::platform {

std::string ModuleDirectory() {
  std::vector<char> path(PATH_MAX + 1, '\0');
  const ssize_t n = readlink("/proc/self/exe", path.data(), PATH_MAX);
  if (n <= 0) {
    return "./";
  }
  std::string full(path.data(), static_cast<size_t>(n));
  const size_t slash = full.find_last_of('/');
  return slash == std::string::npos ? std::string("./") : full.substr(0, slash + 1);
}

}  // namespace merro::platform
