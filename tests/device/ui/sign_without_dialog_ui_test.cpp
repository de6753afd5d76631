// SignXMLMsg in a program whose resources hold the device layer's strings
// but not the transaction dialog's template: the dialog cannot come up, and
// the caller gets a failure and no signature, never the empty work buffer.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "device/device_handle.h"
#include "foundation/alg_ids.h"
#include "foundation/win/this_module.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/key_containers.h"
#include "tests/tokenapi/api/api_test_support.h"

namespace merro::testing {
namespace {

constexpr BYTE kInsDisplaySignSm2 = 0x59;

TEST(SignWithoutTheDialog, IsAFailureWithNoSignature) {
  ASSERT_NE(std::getenv("MERRO_TOKEN_SIM"), nullptr) << "run under run-with-tokensim";
  // The strings are there, the template is not.
  ASSERT_EQ(::FindResourceW(merro::win::ThisModule(), MAKEINTRESOURCEW(IDD_TRANSACTION_CONFIRM),
                            RT_DIALOG),
            nullptr);
  wchar_t tips[260] = {};
  ASSERT_GT(::LoadStringW(merro::win::ThisModule(), IDS_TRANSACTION_TIPS, tips, 260), 0);

  DeviceBench::Insert(0);
  ASSERT_TRUE(DeviceBench::Prepare(0));
  KeyContainer keys;
  ASSERT_TRUE(MakeKeyContainer(0, {"nodialog-sm2", MR_ALG_SM2, MR_ALG_SM2}, &keys));
  const std::wstring provider = L"Merro no dialog test " + std::to_wstring(::GetCurrentProcessId());
  ProviderSettings settings = DefaultProviderSettings(FALSE);
  settings.pwszProviderName = provider.c_str();
  device::DeviceHandle handle;
  ASSERT_EQ(handle.Initialize(settings), S_OK);
  const std::string dev = DeviceBench::DeviceName(0);
  ASSERT_EQ(handle.CheckPIN(dev.c_str(), 1, DeviceBench::kFactoryPin, 8, 6, 0), S_OK);
  DeviceBench::Control("button 0 ok");
  DeviceBench::CommandLog(0, true);

  apitest::TraceLines trace;
  const std::string message = "<SignData/>";
  BYTE* signature = nullptr;
  DWORD length = 0xDEADBEEF;
  const HRESULT hr = handle.SignXMLMsg(dev.c_str(), "nodialog-sm2", AT_SIGNATURE, CALG_SM3,
                                       reinterpret_cast<const BYTE*>(message.data()),
                                       static_cast<DWORD>(message.size()), &signature, &length);
  EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
  EXPECT_EQ(signature, nullptr);
  EXPECT_EQ(length, 0xDEADBEEFu);
  delete[] signature;
  const std::vector<BYTE> commands = DeviceBench::CommandLog(0, true);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), kInsDisplaySignSm2), 0)
      << "no worker asked the token to sign";
  EXPECT_EQ(trace.Entries("AsymKeyInit"), 1u);
  EXPECT_EQ(trace.Entries("AsymKeyFinal"), 1u);
  DeviceBench::Control("button 0 clear");
  handle.UnInitialize();
}

}  // namespace
}  // namespace merro::testing
