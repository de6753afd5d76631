// The fake provider core of the export tests (fake_core.cpp).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace merro::testing::fake {

struct Behaviour {
  BOOL result = TRUE;
  DWORD error = 0;
  std::function<void()> action;  // runs inside the call, under the lock
};

// What every fake core function does; the names of the core functions
// called, in order; the thread's last error when the last one started.
extern Behaviour g_behaviour;
extern std::vector<std::string> g_calls;
extern DWORD g_errorOnEntry;

}  // namespace merro::testing::fake
