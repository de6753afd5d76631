// The kept-PIN cache of the device object: its two windows measured with an
// injected clock, the real data-protection API of the platform, and the
// default-PIN check through the scripted UI. No token is needed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "device/device_trace.h"
#include "foundation/secure_wipe.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/support/scripted_user_interface.h"
#include "tests/tokenapi/api/api_test_support.h"

namespace merro::testing {
namespace {

using device::DeviceHandle;

constexpr char kDevA[] = "\\\\?\\sim#token&rev_0100#0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char kDevB[] = "\\\\?\\sim#token&rev_0100#1#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char kPin[] = "246810";
constexpr ULONGLONG kWrap = 0x100000000ull;  // where a 32-bit tick count wraps

ULONGLONG g_now = 0;
ULONGLONG FakeTicks() { return g_now; }

const BYTE* PinBytes(const char* pin) { return reinterpret_cast<const BYTE*>(pin); }

class KeptPin : public ::testing::Test {
 protected:
  void SetUp() override {
    m_handle.SetTickSource(FakeTicks);
    m_handle.m_dwKeepPINTimeout = 600000;
  }

  HRESULT Keep(const char* dev, ULONGLONG at, const char* pin = kPin) {
    g_now = at;
    return m_handle.KeepUserPIN(dev, PinBytes(pin), static_cast<DWORD>(std::strlen(pin)));
  }
  // GetKeptUserPIN at `at`; the PIN as text, or empty on failure.
  std::string Use(const char* dev, ULONGLONG at, HRESULT* hr) {
    g_now = at;
    BYTE* pin = nullptr;
    DWORD size = 0;
    *hr = m_handle.GetKeptUserPIN(dev, &pin, &size);
    if (*hr != S_OK) {
      EXPECT_EQ(pin, nullptr);
      return std::string();
    }
    std::string out(reinterpret_cast<char*>(pin), size);
    SecureWipe(pin, size);
    delete[] pin;
    return out;
  }
  BOOL Have(const char* dev, ULONGLONG at) {
    g_now = at;
    return m_handle.HaveKeptPIN(dev);
  }

  DeviceHandle m_handle;
  apitest::TraceLines m_trace;
};

// The two windows: dwKeepPINTimeout after the last use, 30000 ms after
// keeping; 64-bit ages, so neither the 32-bit wrap nor 2^32 ms of idleness
// misleads them.
TEST_F(KeptPin, WindowsFollowTheClock) {
  struct Case {
    const char* what;
    DWORD timeout;
    ULONGLONG kept;
    ULONGLONG used;  // 0: not used in between
    ULONGLONG asked;
    BOOL usable;
  };
  const ULONGLONG t = 1000000;
  const ULONGLONG high = kWrap - 1000;  // kept just below the 32-bit wrap
  const Case cases[] = {
      {"one ms before the long window ends", 600000, t, 0, t + 599999, TRUE},
      {"when the long window ends", 600000, t, 0, t + 600000, FALSE},
      {"a use extends the window", 600000, t, t + 500000, t + 1099999, TRUE},
      {"to 600000 ms after that use", 600000, t, t + 500000, t + 1100000, FALSE},
      {"no long window: the short one", 0, t, 0, t + 29999, TRUE},
      {"no long window: short one over", 0, t, 0, t + 30000, FALSE},
      {"kept below the wrap, asked past it", 600000, high, 0, high + 599999, TRUE},
      {"kept below the wrap, expired past it", 600000, high, 0, high + 600000, FALSE},
      {"2^32 ms idle is not a fresh PIN", 600000, t, 0, t + kWrap + 5000, FALSE},
      {"nor with a short window", 0, t, 0, t + kWrap + 5000, FALSE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_handle.m_dwKeepPINTimeout = c.timeout;
    m_handle.ClearKeptPIN(kDevA);
    ASSERT_EQ(Keep(kDevA, c.kept), S_OK);
    if (c.used != 0) {
      HRESULT hr = E_FAIL;
      EXPECT_EQ(Use(kDevA, c.used, &hr), kPin);
      EXPECT_EQ(hr, S_OK);
    }
    EXPECT_EQ(m_handle.IsKeepPIN(), c.timeout != 0 ? TRUE : FALSE);
    EXPECT_EQ(Have(kDevA, c.asked), c.usable);
    HRESULT hr = E_FAIL;
    EXPECT_EQ(Use(kDevA, c.asked, &hr), c.usable ? kPin : "");
    EXPECT_EQ(hr, c.usable ? S_OK : E_FAIL);
  }
}

// An expired entry fails once and is gone; a second device is untouched;
// keeping again replaces the entry and restarts its windows.
TEST_F(KeptPin, ExpiryDropsOnlyThatEntryAndKeepingAgainReplacesIt) {
  const ULONGLONG t = 5000;
  ASSERT_EQ(Keep(kDevA, t), S_OK);
  ASSERT_EQ(Keep(kDevB, t + 300000, "13579"), S_OK);
  HRESULT hr = S_OK;
  EXPECT_EQ(Use(kDevA, t + 600000, &hr), "");
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(m_handle.m_mapUserPINContext.count(kDevA), 0u);
  EXPECT_EQ(Use(kDevA, t + 600001, &hr), "");
  EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
  EXPECT_EQ(Use(kDevB, t + 600002, &hr), "13579");
  EXPECT_EQ(hr, S_OK);

  // Kept again later with another PIN: one entry, the new PIN, the new stamps.
  ASSERT_EQ(Keep(kDevB, t + 700000, "97531"), S_OK);
  ASSERT_EQ(m_handle.m_mapUserPINContext.size(), 1u);
  EXPECT_EQ(m_handle.m_mapUserPINContext.at(kDevB).dwKeptTick, t + 700000);
  EXPECT_TRUE(Have(kDevB, t + 1299999));
  EXPECT_FALSE(Have(kDevB, t + 1300000));
  EXPECT_EQ(Use(kDevB, t + 1299999, &hr), "97531");

  // Value 35: the stamps kept; 36: the stamp of each use handed out.
  std::vector<std::uint32_t> kept, used;
  for (const auto& args : m_trace.Values(device::kDeviceHandleMessageGuid, 35)) {
    kept.push_back(apitest::TraceLines::Dword(args.at(0)));
  }
  for (const auto& args : m_trace.Values(device::kDeviceHandleMessageGuid, 36)) {
    used.push_back(apitest::TraceLines::Dword(args.at(0)));
  }
  EXPECT_EQ(kept, (std::vector<std::uint32_t>{5000, 305000, 705000}));
  EXPECT_EQ(used, (std::vector<std::uint32_t>{605002, 1304999}));
}

TEST_F(KeptPin, BadArgumentsAndNullNames) {
  const HRESULT bad = E_INVALIDARG;
  g_now = 100;
  EXPECT_EQ(m_handle.KeepUserPIN(nullptr, PinBytes(kPin), 6), bad);
  EXPECT_EQ(m_handle.KeepUserPIN(kDevA, nullptr, 6), bad);
  EXPECT_EQ(m_handle.KeepUserPIN(kDevA, PinBytes(kPin), 0), bad);
  EXPECT_TRUE(m_handle.m_mapUserPINContext.empty());
  EXPECT_TRUE(m_trace.HasFailureLine("DeviceHandle::KeepUserPIN", "Check dwPinLength"));

  ASSERT_EQ(Keep(kDevA, 100), S_OK);
  BYTE* pin = nullptr;
  DWORD size = 0;
  EXPECT_EQ(m_handle.GetKeptUserPIN(nullptr, &pin, &size), bad);
  EXPECT_FALSE(m_handle.HaveKeptPIN(nullptr));
  m_handle.ClearKeptPIN(nullptr);
  EXPECT_TRUE(m_handle.HaveKeptPIN(kDevA));  // none of these touched it

  // A null out pointer is a failed use: the entry goes.
  EXPECT_EQ(m_handle.GetKeptUserPIN(kDevA, nullptr, &size), bad);
  EXPECT_FALSE(m_handle.HaveKeptPIN(kDevA));
  ASSERT_EQ(Keep(kDevA, 100), S_OK);
  EXPECT_EQ(m_handle.GetKeptUserPIN(kDevA, &pin, nullptr), bad);
  EXPECT_EQ(m_handle.m_mapUserPINContext.count(kDevA), 0u);
}

// The platform's data-protection API: the blob never holds the PIN, the
// round trip gives the PIN back at its exact length, and a damaged blob
// fails with the folded system error and drops the entry.
TEST_F(KeptPin, ProtectedWithTheRealDataProtection) {
  const std::string pin = "0123456789abcdef";  // not a typical PIN, so it cannot appear by chance
  ASSERT_EQ(Keep(kDevA, 100, pin.c_str()), S_OK);
  const device::UserPINContext& entry = m_handle.m_mapUserPINContext.at(kDevA);
  ASSERT_NE(entry.pbyProtectedPIN, nullptr);
  const BYTE* blob = entry.pbyProtectedPIN.get();
  const std::vector<BYTE> blobBytes(blob, blob + entry.dwProtectedPINSize);
  EXPECT_GT(blobBytes.size(), pin.size());
  EXPECT_EQ(std::search(blobBytes.begin(), blobBytes.end(), pin.begin(), pin.end()),
            blobBytes.end());

  HRESULT hr = E_FAIL;
  EXPECT_EQ(Use(kDevA, 200, &hr), pin);
  EXPECT_EQ(hr, S_OK);

  device::UserPINContext& stored = m_handle.m_mapUserPINContext.at(kDevA);
  stored.pbyProtectedPIN[stored.dwProtectedPINSize - 5] ^= 0x01;
  EXPECT_EQ(Use(kDevA, 300, &hr), "");
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
  EXPECT_TRUE(m_trace.HasFailureLine("DeviceHandle::GetKeptUserPIN", "AcquireProtectData for user pin"));
  EXPECT_EQ(m_handle.m_mapUserPINContext.count(kDevA), 0u);
}

// Modified flag x settings: only the factory PIN under settings that forbid
// it shows the warning (no owner, warning icon) and refuses.
TEST(DefaultPinCheck, WarnsOnlyWhenTheSettingsForbidTheFactoryPin) {
  struct Case {
    DWORD modified;
    DWORD check;
    HRESULT result;
  };
  const Case cases[] = {
      {0, 1, S_OK},
      {1, 1, S_OK},
      {0, 2, SCARD_W_SECURITY_VIOLATION},
      {1, 2, S_OK},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "modified " << c.modified << ", check " << c.check);
    ScopedScriptedUi ui;
    DeviceHandle handle;
    handle.m_dwDefaultPINCheck = c.check;
    EXPECT_EQ(handle.CheckDefaultPINStat(c.modified), c.result);
    const auto transcript = ui->Transcript();
    if (c.result == S_OK) {
      EXPECT_TRUE(transcript.empty());
    } else {
      ASSERT_EQ(transcript.size(), 1u);
      EXPECT_EQ(transcript[0].kind, "message");
      EXPECT_EQ(transcript[0].ids, (std::vector<UINT>{IDS_DEFAULT_PIN_WARNING,
                                                      IDS_DEFAULT_PIN_CAPTION, MB_ICONWARNING}));
    }
  }
}

}  // namespace
}  // namespace merro::testing
