// The fixture of the device object's key operations against the daemon: one
// token, prepared once per program with four containers whose keys were put
// there through the token API, and for each test a device object over it
// with the user PIN verified, the scripted UI installed and the trace
// records and the token's command log cleared.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "device/device_handle.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/key_containers.h"
#include "tests/device/support/key_judges.h"
#include "tests/device/support/scripted_user_interface.h"
#include "tests/tokenapi/api/api_test_support.h"

namespace merro::testing {

inline constexpr char kSm2Pair[] = "keys-sm2";          // SM2 signature and exchange keys
inline constexpr char kRsa1024[] = "keys-rsa1024";      // generated signature key, rsaenh's exchange key
inline constexpr char kRsa2048[] = "keys-rsa2048";      // RSA-2048 signature and exchange keys
inline constexpr char kSm2Single[] = "keys-sm2-single";  // an SM2 exchange key only

// An output buffer and length of a device operation, with the values they
// keep unless the operation succeeded.
struct OutBuffer {
  static constexpr DWORD kUntouched = 0xDEADBEEF;
  OutBuffer() = default;
  OutBuffer(const OutBuffer&) = delete;
  OutBuffer& operator=(const OutBuffer&) = delete;
  ~OutBuffer() { delete[] p; }
  Bytes bytes() const { return p != nullptr ? Bytes(p, p + n) : Bytes(); }
  bool Untouched() const { return p == nullptr && n == kUntouched; }

  BYTE* p = nullptr;
  DWORD n = kUntouched;
};

class KeyOperations : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  const char* Dev() const { return m_dev.c_str(); }
  static const KeyContainer& Container(const std::string& name);
  // The keys of each container and rsaenh, whose generated key is the
  // exchange key of kRsa1024.
  static KeyContainer s_sm2, s_rsa1024, s_rsa2048, s_single;
  static std::unique_ptr<Rsaenh> s_rsaenh;

  // Commands token 0 received since the last call.
  std::vector<BYTE> Commands() { return DeviceBench::CommandLog(0, true); }

  std::string m_dev;
  std::wstring m_providerName;
  ProviderSettings m_settings{};
  ScopedScriptedUi m_ui;
  apitest::TraceLines m_trace;
  device::DeviceHandle m_handle;
};

}  // namespace merro::testing
