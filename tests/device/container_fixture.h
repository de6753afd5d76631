// The fixture of the container tests against the daemon: token 0 prepared
// (user PIN "47193628", six tries, never changed), tokens 1 and 2 pulled,
// no button answers or faults queued. Start() initialises the device object
// with or without the bank's flag file; what the tokens hold is read
// through the object's own contexts, so no other open resets them.
#pragma once

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tests/device/device_daemon_fixture.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {

constexpr char kFactoryPin[] = "47193628";

class ContainerTest : public DeviceDaemonTest {
 protected:
  void SetUp() override {
    DeviceDaemonTest::SetUp();
    ClearScripts();
    ASSERT_TRUE(DeviceBench::Prepare(0));
    DeviceBench::Pull(1);
    DeviceBench::Pull(2);
    m_dev0 = DeviceBench::DeviceName(0);
    m_dev1 = DeviceBench::DeviceName(1);
    m_dev2 = DeviceBench::DeviceName(2);
  }
  void TearDown() override {
    m_handle.UnInitialize();
    ClearScripts();
    DeviceDaemonTest::TearDown();
  }
  static void ClearScripts() {
    for (int i = 0; i < 3; ++i) {
      DeviceBench::Control("button " + std::to_string(i) + " clear");
      DeviceBench::Control("fault " + std::to_string(i) + " clear");
    }
  }

  void Start(BOOL bFlagFileExist) {
    m_settings.bFlagFileExist = bFlagFileExist;
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
  }
  // Token i with its PINs as prepared but `tries` tries for each.
  static ::testing::AssertionResult LimitTries(int i, int tries) {
    const std::string pins = std::string(" user ") + kFactoryPin + " admin " + kFactoryPin +
                             " unlock " + kFactoryPin + " retry " + std::to_string(tries);
    if (DeviceBench::Control("provision " + std::to_string(i) + pins) != "ok") {
      return ::testing::AssertionFailure() << "provision refused";
    }
    return ::testing::AssertionSuccess();
  }

  // MerroCreateContainer; the device name handed back, or empty.
  HRESULT CreateOn(const char* name, std::string* dev = nullptr) {
    char* devName = nullptr;
    const HRESULT hr = m_handle.MerroCreateContainer(name, &devName);
    if (dev != nullptr) {
      *dev = devName != nullptr ? devName : "";
    }
    delete[] devName;
    return hr;
  }
  // The user PIN verified on the token through the object.
  HRESULT VerifyUserPin(const std::string& dev) {
    return m_handle.CheckPIN(dev.c_str(), 1, kFactoryPin, 8, 6, 0);
  }
  DWORD Tries(const std::string& dev) {
    DWORD tries = 0, status = 0, modified = 0;
    EXPECT_EQ(m_handle.GetPINInfo(dev.c_str(), 1, &tries, &status, &modified), S_OK);
    return tries;
  }
  DEV_CTX* Context(const std::string& dev) {
    DEV_CTX* ctx = nullptr;
    EXPECT_EQ(m_handle.GetDevCtx(dev.c_str(), &ctx), S_OK);
    return ctx;
  }
  // The containers the token lists, in slot order.
  std::vector<std::string> OnToken(const std::string& dev) {
    CONTAINER_RECORD records[8] = {};
    DWORD count = 8;
    EXPECT_EQ(EnumContainer(Context(dev), records, &count), S_OK);
    std::vector<std::string> names;
    for (DWORD i = 0; i < count && i < 8; ++i) {
      names.emplace_back(records[i].szContainerName, strnlen(records[i].szContainerName, 64));
    }
    return names;
  }
  const CONTAINER_RECORD& TokenRecord(const std::string& dev, const std::string& name) {
    std::memset(&m_read, 0, sizeof m_read);
    std::memcpy(m_read.szContainerName, name.data(), std::min<size_t>(name.size(), 64));
    EXPECT_EQ(ReadContainer(Context(dev), &m_read), S_OK);
    return m_read;
  }
  CONTAINER_RECORD ListedRecord(const std::string& dev, const std::string& name) {
    DWORD index = 0;
    EXPECT_EQ(m_handle.CheckContainerExist(dev.c_str(), name.c_str(), &index), S_OK);
    return *m_handle.m_vtrContainerSet.at(index).pstContainer();
  }

  // "mode M tries T" of each PIN prompt.
  std::vector<std::string> PinPrompts() {
    std::vector<std::string> out;
    for (const auto& p : m_ui->Transcript()) {
      if (p.kind == "pin") {
        out.push_back("mode " + std::to_string(p.mode) + " tries " + std::to_string(p.tries));
      }
    }
    return out;
  }
  // Each prompt in short: kind, and the PIN mode and tries, the
  // confirmation kind or the message ids and type.
  std::vector<std::string> PromptHeads() {
    std::vector<std::string> out;
    for (const auto& p : m_ui->Transcript()) {
      std::ostringstream line;
      line << p.kind;
      if (p.kind == "pin") {
        line << " mode=" << p.mode << " tries=" << p.tries;
      } else if (p.kind == "confirm") {
        line << " kind=" << p.confirmKind;
      } else if (p.kind == "message") {
        line << " text=" << p.ids.at(0) << " caption=" << p.ids.at(1) << " type=0x" << std::hex
             << p.ids.at(2);
      }
      out.push_back(line.str());
    }
    return out;
  }

  device::DeviceHandle m_handle;
  std::string m_dev0, m_dev1, m_dev2;
  CONTAINER_RECORD m_read{};
};

}  // namespace merro::testing
