// The device-update mutex and the signal events across processes: a child
// (this program started again) holds the mutex or signals an event, the
// device object in this process refreshes.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/device/device_daemon_fixture.h"
#include "tests/device/update_mutex_children.h"
#include "tests/support/child_process.h"

namespace merro::testing {
namespace {

using device::DeviceHandle;
namespace fs = std::filesystem;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

void Touch(const fs::path& path) { std::ofstream(path) << "1"; }

// Whether another thread of this process can take the mutex at once (it is
// given back right after).
bool FreeForOtherThread(HANDLE hMutex) {
  bool free = false;
  std::thread other([&] {
    const DWORD wait = ::WaitForSingleObject(hMutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
      free = true;
      ::ReleaseMutex(hMutex);
    }
  });
  other.join();
  return free;
}

class UpdateMutex : public DeviceDaemonTest {
 protected:
  void SetUp() override {
    DeviceDaemonTest::SetUp();
    ASSERT_TRUE(DeviceBench::ProvisionOnly(0));
    ASSERT_TRUE(DeviceBench::ProvisionOnly(1));
    DeviceBench::Pull(1);
    DeviceBench::Pull(2);
    m_providerName = TestProviderName(L"mutex");
    m_settings.pwszProviderName = m_providerName.c_str();
    m_dir = fs::temp_directory_path() /
            ("merro-update-mutex-" + std::to_string(::GetCurrentProcessId()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
  }
  void TearDown() override {
    Touch(m_dir / "stop");  // a child still holding lets go
    m_child.Join();
    m_handle.UnInitialize();
    fs::remove_all(m_dir);
    DeviceDaemonTest::TearDown();
  }
  // A child that takes the mutex, writes "ready", and lets go after
  // holdMs (or when "stop" appears), writing "released" just before.
  void StartHolder(const char* mode, int holdMs) {
    m_child = ChildProcess::StartSelf({kChildHoldMutex, Narrow(m_providerName), m_dir.string(), mode,
                                       std::to_string(holdMs)});
    ASSERT_TRUE(m_child.Started());
    ASSERT_TRUE(WaitForFile(m_dir / "ready"));
  }

  DeviceHandle m_handle;
  fs::path m_dir;
  ChildProcess m_child;
};

TEST_F(UpdateMutex, ARefreshWaitsForTheHolder) {
  StartHolder("release", 1000);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(fs::exists(m_dir / "released"));  // it ran only after the child let go
  EXPECT_GE(waited, std::chrono::milliseconds(800));
  EXPECT_EQ(m_handle.m_vtrDeviceSet.size(), 1u);
  EXPECT_EQ(m_child.Join(), 0);
  EXPECT_TRUE(FreeForOtherThread(m_handle.m_hDeviceUpdateMutex));  // given back
}

TEST_F(UpdateMutex, AHolderThatDiesDoesNotBlock) {
  StartHolder("die", 0);
  EXPECT_EQ(m_child.Join(), 0);  // gone without releasing: the mutex is abandoned
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(m_handle.m_vtrDeviceSet.size(), 1u);
  // Nobody holds it after the refresh.
  EXPECT_TRUE(FreeForOtherThread(m_handle.m_hDeviceUpdateMutex));
  EXPECT_FALSE(m_trace.HasFailureLine("DeviceHandle::UpdateDevice", "Wait m_hDeviceUpdateMutex"));
}

TEST_F(UpdateMutex, AfterTheWaitRunsOutTheRefreshGoesOnAndReleasesNothing) {
  StartHolder("release", 30000);
  m_handle.SetUpdateWait(200);
  DeviceBench::Insert(1);
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  EXPECT_EQ(m_handle.m_vtrDeviceSet.size(), 2u);  // refreshed all the same
  EXPECT_TRUE(m_trace.HasFailureLine("DeviceHandle::UpdateDevice", "Wait m_hDeviceUpdateMutex"));
  // The child still owns it.
  EXPECT_FALSE(fs::exists(m_dir / "released"));
  EXPECT_FALSE(FreeForOtherThread(m_handle.m_hDeviceUpdateMutex));
  Touch(m_dir / "stop");
  EXPECT_EQ(m_child.Join(), 0);
  EXPECT_TRUE(fs::exists(m_dir / "released"));
  EXPECT_TRUE(FreeForOtherThread(m_handle.m_hDeviceUpdateMutex));
}

TEST_F(UpdateMutex, AnotherProcessSignalsEventA) {
  ASSERT_EQ(::WaitForSingleObject(m_handle.m_hEventA, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  ChildProcess child = ChildProcess::StartSelf({kChildSetEvent, "EVENT-A-{" + Narrow(m_providerName) + "}"});
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Join(), 0);
  EXPECT_EQ(::WaitForSingleObject(m_handle.m_hEventA, 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  // Auto-reset: one wait uses the signal up; event B saw none.
  EXPECT_EQ(::WaitForSingleObject(m_handle.m_hEventA, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(::WaitForSingleObject(m_handle.m_hEventB, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

}  // namespace

int RunUpdateMutexChild(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == kChildHoldMutex) {
    const fs::path dir = argv[3];
    const std::string mode = argv[4];
    const int holdMs = std::stoi(argv[5]);
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Wide(argv[2]).c_str());
    if (mutex == nullptr || ::WaitForSingleObject(mutex, 10000) != WAIT_OBJECT_0) {
      return 3;
    }
    Touch(dir / "ready");
    if (mode == "die") {
      ::ExitProcess(0);  // the mutex is abandoned
    }
    for (int waited = 0; waited < holdMs && !fs::exists(dir / "stop"); waited += 10) {
      ::Sleep(10);
    }
    Touch(dir / "released");
    ::ReleaseMutex(mutex);
    ::CloseHandle(mutex);
    return 0;
  }
  if (argc == 3 && std::string(argv[1]) == kChildSetEvent) {
    HANDLE event = ::CreateEventW(nullptr, FALSE, FALSE, Wide(argv[2]).c_str());
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    const bool set = event != nullptr && ::SetEvent(event);
    if (event != nullptr) {
      ::CloseHandle(event);
    }
    return existed && set ? 0 : 4;
  }
  return -1;
}

}  // namespace merro::testing
