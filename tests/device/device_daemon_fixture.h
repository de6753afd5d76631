// The fixture of the device object's tests against the daemon (three tokens):
// every token inserted, a scripted UI installed (an unexpected prompt is a
// cancel, never a hang), the trace records collected, and settings whose
// provider name is unique to this process, so that concurrent test
// programs do not share the device-update mutex.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/device_handle.h"
#include "device/device_trace.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/scripted_user_interface.h"
#include "tests/tokenapi/api/api_test_support.h"

namespace merro::testing {

// "Merro device test <pid> <tag>": at most 53 characters.
inline std::wstring TestProviderName(const wchar_t* tag) {
  return L"Merro device test " + std::to_wstring(::GetCurrentProcessId()) + L" " + tag;
}

class DeviceDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
    for (int i = 0; i < 3; ++i) {
      DeviceBench::Insert(i);
    }
    m_providerName = TestProviderName(L"lists");
    m_settings = DefaultProviderSettings(FALSE);
    m_settings.pwszProviderName = m_providerName.c_str();
  }
  void TearDown() override {
    for (int i = 0; i < 3; ++i) {
      DeviceBench::Insert(i);
    }
  }

  // The last 32-bit value of each DeviceHandle value record `number` sent
  // (0xFFFFFFFF for a record without values).
  std::vector<std::uint32_t> DwordValues(std::uint16_t number) {
    std::vector<std::uint32_t> out;
    for (const auto& args : m_trace.Values(device::kDeviceHandleMessageGuid, number)) {
      out.push_back(args.empty() ? 0xFFFFFFFF : apitest::TraceLines::Dword(args.back()));
    }
    return out;
  }

  std::wstring m_providerName;
  ProviderSettings m_settings{};
  ScopedScriptedUi m_ui;
  apitest::TraceLines m_trace;
};

// Token 0 initialised, token 1 provisioned only (it opens, its file system
// is missing), token 2 pulled; the device object initialised over them and
// the trace records cleared.
class PreparedDevices : public DeviceDaemonTest {
 protected:
  void SetUp() override {
    DeviceDaemonTest::SetUp();
    ASSERT_TRUE(DeviceBench::Prepare(0));
    ASSERT_TRUE(DeviceBench::ProvisionOnly(1));
    DeviceBench::Pull(2);
    m_dev0 = DeviceBench::DeviceName(0);
    m_dev1 = DeviceBench::DeviceName(1);
    m_gone = DeviceBench::DeviceName(2);
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
    ASSERT_EQ(m_handle.m_vtrDeviceSet.size(), 2u);
    m_trace.Clear();
  }
  void TearDown() override {
    m_handle.UnInitialize();
    DeviceDaemonTest::TearDown();
  }

  device::DeviceHandle m_handle;
  std::string m_dev0, m_dev1, m_gone;  // m_gone: the pulled token's name
};

}  // namespace merro::testing
