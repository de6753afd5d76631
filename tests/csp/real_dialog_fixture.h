// The fixture of the tests that reach the library's real dialogs through
// advapi32: a factory-fresh token and no scripted UI, so the library shows
// its own dialogs for a robot to work.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "tests/device/support/device_bench.h"

namespace merro::testing::csp {

class CspRealDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    // The display driver is loaded here, on this thread, before the robot
    // and the calling thread start: under Wine the robot's first window
    // call would load it while the other thread holds the loader lock in
    // the library's load, and each would wait for the other.
    const HWND probe = ::CreateWindowW(L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                       nullptr, nullptr);
    ASSERT_NE(probe, nullptr);
    ::DestroyWindow(probe);
    _putenv_s("MERRO_UI_SCRIPT", "");
    DeviceBench::Insert(0);
    ASSERT_TRUE(DeviceBench::Prepare(0));
  }
  void TearDown() override { DeviceBench::Insert(0); }
};

}  // namespace merro::testing::csp
