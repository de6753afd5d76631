// The device object's lifecycle and lists against the daemon: token 0
// initialised with two containers, token 1 provisioned only (it opens, its
// containers cannot be listed), token 2 not provisioned (it does not open).
#include <cstring>
#include <string>
#include <vector>

#include "device/device_trace.h"
#include "tests/device/device_daemon_fixture.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {
namespace {

using device::DeviceHandle;


class Lifecycle : public DeviceDaemonTest {
 protected:
  void SetUp() override {
    DeviceDaemonTest::SetUp();
    ASSERT_TRUE(DeviceBench::Prepare(0));
    ASSERT_TRUE(DeviceBench::CreateContainers(0, {"alpha", "beta"}));
    ASSERT_TRUE(DeviceBench::ProvisionOnly(1));
    ASSERT_TRUE(DeviceBench::Unprovision(2));
    m_trace.Clear();  // only what the device object sends
  }

  std::vector<std::string> Names(const DeviceHandle& handle) {
    std::vector<std::string> names;
    for (const device::DeviceItem& item : handle.m_vtrDeviceSet) {
      names.emplace_back(item.szDeviceName);
    }
    return names;
  }
};

// A named kernel object that no handle keeps any longer is gone.
bool NamedObjectExists(const std::wstring& mutexName) {
  HANDLE h = ::OpenMutexW(SYNCHRONIZE, FALSE, mutexName.c_str());
  if (h != nullptr) {
    ::CloseHandle(h);
  }
  return h != nullptr;
}

TEST_F(Lifecycle, InitializeListsTheTokensThatOpenAndTheirContainers) {
  DeviceHandle handle;
  ASSERT_EQ(handle.Initialize(m_settings), S_OK);
  EXPECT_TRUE(handle.m_bInitialize);
  EXPECT_EQ(Names(handle),
            (std::vector<std::string>{DeviceBench::DeviceName(0), DeviceBench::DeviceName(1)}));
  for (const device::DeviceItem& item : handle.m_vtrDeviceSet) {
    EXPECT_NE(item.pDevCtx(), nullptr);
    EXPECT_EQ(item.pDevCtx(), item.spDevCtx->get());
    EXPECT_STRNE(item.szDeviceLabel, "");  // the factory label "MT..."
  }
  ASSERT_EQ(handle.m_vtrContainerSet.size(), 2u);
  const char* expected[] = {"alpha", "beta"};
  for (size_t i = 0; i < 2; ++i) {
    const device::ContainerItem& item = handle.m_vtrContainerSet[i];
    EXPECT_EQ(item.dwDeviceIndex, 0u);
    EXPECT_EQ(std::string(item.szDeviceName), DeviceBench::DeviceName(0));
    EXPECT_STREQ(item.pstContainer()->szContainerName, expected[i]);
  }
  EXPECT_EQ(handle.m_nCurrentDeviceIndex, -1);
  EXPECT_EQ(handle.m_lpCurrentDevice, nullptr);
  EXPECT_NE(handle.m_hDeviceUpdateMutex, nullptr);
  EXPECT_NE(handle.m_hEventA, nullptr);
  EXPECT_NE(handle.m_hEventB, nullptr);
  EXPECT_EQ(handle.m_dwKeepPINTimeout, 600000u);
  EXPECT_EQ(handle.m_dwCustomerType, 2u);
  EXPECT_EQ(std::wstring(handle.m_wszProviderName), m_providerName);

  // Value 10: the flag before the check; 37: each name and its open result.
  EXPECT_EQ(DwordValues(10), (std::vector<std::uint32_t>{0}));
  const auto opened = m_trace.Values(device::kDeviceHandleMessageGuid, 37);
  ASSERT_EQ(opened.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(apitest::TraceLines::Text(opened[i][0]), DeviceBench::DeviceName(i));
    EXPECT_EQ(apitest::TraceLines::Dword(opened[i][1]) == 0, i < 2) << i;
  }
}

TEST_F(Lifecycle, ASecondInitializeChangesNothing) {
  DeviceHandle handle;
  ASSERT_EQ(handle.Initialize(m_settings), S_OK);
  const HANDLE mutex = handle.m_hDeviceUpdateMutex;
  const HANDLE eventA = handle.m_hEventA;
  DEV_CTX* first = handle.m_vtrDeviceSet[0].pDevCtx();
  const size_t entries = m_trace.Entries("mr_OpenDevice");

  ProviderSettings other = m_settings;
  other.dwKeepPINTimeout = 1;
  EXPECT_EQ(handle.Initialize(other), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  // No kernel object was made again (each would have leaked a handle), no
  // token reopened, no setting copied.
  EXPECT_EQ(handle.m_hDeviceUpdateMutex, mutex);
  EXPECT_EQ(handle.m_hEventA, eventA);
  EXPECT_EQ(handle.m_vtrDeviceSet.size(), 2u);
  EXPECT_EQ(handle.m_vtrDeviceSet[0].pDevCtx(), first);
  EXPECT_EQ(handle.m_vtrContainerSet.size(), 2u);
  EXPECT_EQ(handle.m_dwKeepPINTimeout, 600000u);
  EXPECT_EQ(m_trace.Entries("mr_OpenDevice"), entries);
  EXPECT_EQ(DwordValues(10), (std::vector<std::uint32_t>{0, 1}));
}

TEST_F(Lifecycle, UnInitializeResetsAndReleasesEverything) {
  DeviceHandle handle;
  ASSERT_EQ(handle.Initialize(m_settings), S_OK);
  // A second context looks at the PIN state from outside (its open resets
  // the token), then token 0's user PIN is verified through the object's.
  DEV_CTX* observer = nullptr;
  ASSERT_EQ(OpenDevice(DeviceBench::DeviceName(0).c_str(), &observer), S_OK);
  DEV_CTX* ctx = handle.m_vtrDeviceSet[0].pDevCtx();
  ASSERT_EQ(ExternalAuth(ctx, 51), S_OK);
  ASSERT_EQ(SetSessionKey(ctx), S_OK);
  ASSERT_EQ(VerifyPIN(ctx, 1, reinterpret_cast<const BYTE*>(DeviceBench::kFactoryPin), 8), S_OK);
  const auto pinState = [&] {
    BYTE tries = 0, state = 0, modified = 0;
    EXPECT_EQ(ExternalAuth(observer, 51), S_OK);
    EXPECT_EQ(SetSessionKey(observer), S_OK);
    EXPECT_EQ(GetPINStatus(observer, 1, &tries, &state, &modified), S_OK);
    return state;
  };
  ASSERT_EQ(pinState(), 0x11);  // verified

  const std::wstring mutexName = m_providerName;
  ASSERT_EQ(handle.UnInitialize(), S_OK);
  EXPECT_NE(pinState(), 0x11);  // the token was reset
  EXPECT_EQ(CloseDevice(observer), S_OK);

  EXPECT_FALSE(handle.m_bInitialize);
  EXPECT_TRUE(handle.m_vtrDeviceSet.empty());
  EXPECT_TRUE(handle.m_vtrContainerSet.empty());
  EXPECT_EQ(handle.m_hDeviceUpdateMutex, nullptr);
  EXPECT_EQ(handle.m_hEventA, nullptr);
  EXPECT_EQ(handle.m_hEventB, nullptr);
  EXPECT_FALSE(NamedObjectExists(mutexName));
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 2u + 1u);  // both tokens and the observer
  // Values 11 (flag), 12 and 13 (reset and close, per token).
  EXPECT_EQ(DwordValues(11), (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(DwordValues(12), (std::vector<std::uint32_t>{0, 0}));
  EXPECT_EQ(DwordValues(13), (std::vector<std::uint32_t>{0, 0}));

  EXPECT_EQ(handle.UnInitialize(), E_FAIL);
  EXPECT_EQ(DwordValues(11), (std::vector<std::uint32_t>{1, 0}));
  // It can start again.
  ASSERT_EQ(handle.Initialize(m_settings), S_OK);
  EXPECT_EQ(handle.m_vtrDeviceSet.size(), 2u);
}

TEST_F(Lifecycle, TheDestructorClosesTheKernelObjects) {
  {
    DeviceHandle handle;
    ASSERT_EQ(handle.Initialize(m_settings), S_OK);
    EXPECT_TRUE(NamedObjectExists(m_providerName));
  }
  EXPECT_FALSE(NamedObjectExists(m_providerName));
  EXPECT_EQ(m_trace.Entries("mr_CloseDevice"), 2u);
}

TEST_F(Lifecycle, ProviderNamesThatCannotNameTheEvents) {
  const std::wstring tooLong(54, L'n');
  const struct {
    const wchar_t* name;
    HRESULT hr;
  } cases[] = {{nullptr, E_INVALIDARG}, {L"", E_INVALIDARG}, {tooLong.c_str(), E_INVALIDARG}};
  for (const auto& c : cases) {
    DeviceHandle handle;
    ProviderSettings settings = m_settings;
    settings.pwszProviderName = c.name;
    EXPECT_EQ(handle.Initialize(settings), c.hr);
    EXPECT_FALSE(handle.m_bInitialize);
    EXPECT_EQ(handle.m_hDeviceUpdateMutex, nullptr);  // nothing was created
    EXPECT_TRUE(handle.m_vtrDeviceSet.empty());
  }
  // 53 characters fit; both events exist under their full names.
  std::wstring padded = TestProviderName(L"53");
  padded.resize(53, L'x');
  DeviceHandle handle;
  ProviderSettings settings = m_settings;
  settings.pwszProviderName = padded.c_str();
  ASSERT_EQ(handle.Initialize(settings), S_OK);
  HANDLE eventB = ::OpenEventW(SYNCHRONIZE, FALSE, (L"EVENT-B-{" + padded + L"}").c_str());
  EXPECT_NE(eventB, nullptr);
  if (eventB != nullptr) {
    ::CloseHandle(eventB);
  }
}

TEST_F(Lifecycle, WithNoTokenInsertedTheListsAreEmpty) {
  for (int i = 0; i < 3; ++i) {
    DeviceBench::Pull(i);
  }
  DeviceHandle handle;
  ASSERT_EQ(handle.Initialize(m_settings), S_OK);
  EXPECT_TRUE(handle.m_bInitialize);
  EXPECT_TRUE(handle.m_vtrDeviceSet.empty());
  EXPECT_TRUE(handle.m_vtrContainerSet.empty());
  EXPECT_EQ(handle.CheckKeyInsert(), NTE_NO_KEY);
  EXPECT_EQ(handle.SelectDevice(), NTE_NO_KEY);
  // A later refresh finds what is inserted then.
  DeviceBench::Insert(0);
  EXPECT_EQ(handle.CheckKeyInsert(), S_OK);
  ASSERT_EQ(handle.UpdateContainer(), S_OK);
  EXPECT_EQ(handle.m_vtrContainerSet.size(), 2u);
}

TEST_F(Lifecycle, NotInitialised) {
  DeviceHandle handle;
  EXPECT_EQ(handle.UpdateDevice(), E_FAIL);
  EXPECT_EQ(handle.UpdateContainer(), NTE_NO_KEY);
  EXPECT_EQ(handle.CheckKeyInsert(), NTE_NO_KEY);
  EXPECT_EQ(handle.SelectDevice(), E_FAIL);
  EXPECT_EQ(handle.UnInitialize(), E_FAIL);
  EXPECT_EQ(DwordValues(14), (std::vector<std::uint32_t>{0, 0, 0}));
  EXPECT_EQ(DwordValues(15), (std::vector<std::uint32_t>{0}));
}

TEST_F(Lifecycle, LookUps) {
  DeviceHandle handle;
  ASSERT_EQ(handle.Initialize(m_settings), S_OK);
  const std::string dev0 = DeviceBench::DeviceName(0);
  const std::string dev1 = DeviceBench::DeviceName(1);

  DWORD index = 99;
  EXPECT_EQ(handle.CheckDeviceExist(dev1.c_str(), &index), S_OK);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(handle.CheckDeviceExist(DeviceBench::DeviceName(2).c_str()), NTE_NO_KEY);
  EXPECT_EQ(handle.CheckDeviceExist(nullptr), E_INVALIDARG);
  EXPECT_EQ(handle.CheckContainerExist(dev0.c_str(), "beta", &index), S_OK);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(handle.CheckContainerExist(dev1.c_str(), "beta", &index), NTE_NO_KEY);
  EXPECT_EQ(handle.CheckContainerExist(dev0.c_str(), "BETA", &index), NTE_NO_KEY);
  EXPECT_EQ(handle.CheckContainerExist(nullptr, "beta", &index), E_INVALIDARG);

  char* owner = nullptr;
  ASSERT_EQ(handle.CheckContainerExist("beta", &owner), S_OK);
  EXPECT_EQ(std::string(owner), dev0);
  delete[] owner;
  EXPECT_EQ(handle.CheckContainerExist("gamma", &owner), NTE_NO_KEY);
  EXPECT_EQ(owner, nullptr);
  // Values 16 (the name sought) and 17 (each name compared).
  const auto sought = m_trace.Values(device::kDeviceHandleMessageGuid, 16);
  ASSERT_EQ(sought.size(), 2u);
  EXPECT_EQ(apitest::TraceLines::Text(sought[0][0]), "beta");
  std::vector<std::string> compared;
  for (const auto& args : m_trace.Values(device::kDeviceHandleMessageGuid, 17)) {
    compared.push_back(apitest::TraceLines::Text(args[0]));
  }
  EXPECT_EQ(compared, (std::vector<std::string>{"alpha", "beta", "alpha", "beta"}));

  DEV_CTX* ctx = nullptr;
  EXPECT_EQ(handle.GetDevCtx(dev1.c_str(), &ctx), S_OK);
  EXPECT_EQ(ctx, handle.m_vtrDeviceSet[1].pDevCtx());
  EXPECT_EQ(handle.GetDevCtx(dev1.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(handle.GetDevCtx("nothing", &ctx), NTE_NO_KEY);

  device::ContainerItem copy;
  ASSERT_EQ(handle.GetContainerInfo(dev0.c_str(), "alpha", &copy), S_OK);
  EXPECT_EQ(copy.pstContainer(), handle.m_vtrContainerSet[0].pstContainer());  // shared record
  EXPECT_EQ(handle.GetContainerInfo(dev1.c_str(), "alpha", &copy), E_FAIL);
}

}  // namespace
}  // namespace merro::testing
