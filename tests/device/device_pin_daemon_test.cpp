// The PIN members of the device object against the daemon, with the
// scripted UI: token 0 prepared (user PIN "47193628", six tries). The
// simulator's button script answers the token's confirmation; the scripted
// UI records the confirmation dialog it was asked for and runs the call.
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "resources/device/device_resource_ids.h"
#include "tests/device/device_daemon_fixture.h"
#include "foundation/win/this_module.h"

namespace merro::testing {
namespace {

using device::DeviceHandle;

constexpr char kPin[] = "47193628";
constexpr char kWrongPin[] = "12345678";
constexpr HRESULT H(std::uint32_t v) { return static_cast<HRESULT>(v); }

struct PinInfo {
  DWORD tries = 0xDEAD;
  DWORD status = 0xDEAD;
  DWORD modified = 0xDEAD;
  bool operator==(const PinInfo& o) const {
    return tries == o.tries && status == o.status && modified == o.modified;
  }
};

std::ostream& operator<<(std::ostream& out, const PinInfo& p) {
  return out << "{tries " << p.tries << ", status 0x" << std::hex << p.status << std::dec
             << ", modified " << p.modified << "}";
}

std::wstring ModuleString(UINT id) {
  wchar_t text[256] = {};
  ::LoadStringW(merro::win::ThisModule(), id, text, 256);
  return text;
}

class PinMembers : public DeviceDaemonTest {
 protected:
  void SetUp() override {
    DeviceDaemonTest::SetUp();
    ASSERT_TRUE(DeviceBench::Prepare(0));
    DeviceBench::Pull(1);
    DeviceBench::Pull(2);
    m_dev = DeviceBench::DeviceName(0);
    DeviceBench::Control("button 0 clear");
    DeviceBench::Control("fault 0 clear");
    ASSERT_EQ(m_handle.Initialize(m_settings), S_OK);
  }
  void TearDown() override {
    DeviceBench::Control("button 0 clear");
    DeviceBench::Control("fault 0 clear");
    DeviceDaemonTest::TearDown();
  }

  HRESULT Check(const char* pin, int tries, DWORD confirm, DWORD type = 1) {
    return m_handle.CheckPIN(m_dev.c_str(), type, pin, static_cast<DWORD>(std::strlen(pin)), tries,
                             confirm);
  }
  HRESULT Modify(const char* oldPin, const char* newPin, int tries, DWORD confirm) {
    return m_handle.ModifyPIN(m_dev.c_str(), 1, oldPin, static_cast<DWORD>(std::strlen(oldPin)),
                              newPin, static_cast<DWORD>(std::strlen(newPin)), tries, confirm);
  }
  PinInfo Info(DWORD type = 1) {
    PinInfo info;
    EXPECT_EQ(m_handle.GetPINInfo(m_dev.c_str(), type, &info.tries, &info.status, &info.modified), S_OK);
    return info;
  }
  // Wrong PINs until `left` tries remain; at three or fewer each one waits
  // for the token's OK, since C costs no try.
  void SpendTriesUntil(DWORD left) {
    for (DWORD tries = Info().tries; tries > left; --tries) {
      if (tries <= 3) {
        DeviceBench::Control("button 0 ok");
      }
      ASSERT_EQ(Check(kWrongPin, 6, 0), H(0x800063C0 | (tries - 1)));
    }
    ASSERT_EQ(Info().tries, left);
  }
  std::vector<ScriptedUserInterface::Prompt> Confirmations() {
    std::vector<ScriptedUserInterface::Prompt> out;
    for (const auto& p : m_ui->Transcript()) {
      if (p.kind == "confirm") {
        out.push_back(p);
      }
    }
    return out;
  }
  std::string Display() { return DeviceBench::Control("display 0"); }

  DeviceHandle m_handle;
  std::string m_dev;
};

TEST_F(PinMembers, RightAndWrongPinWithManyTriesLeft) {
  EXPECT_EQ(Check(kPin, 6, 1), S_OK);
  EXPECT_EQ(Info(), (PinInfo{6, 0x11, 0}));
  EXPECT_EQ(m_handle.ResetKey(m_dev.c_str()), S_OK);
  // The reset also dropped the session: the status read needs its retry.
  EXPECT_EQ(Info(), (PinInfo{6, 0, 0}));

  EXPECT_EQ(Check(kWrongPin, 6, 1), H(0x800063C5));
  EXPECT_EQ(Info().tries, 5u);
  // The administrator PIN, as the manager tests it for its factory value.
  EXPECT_EQ(Check(kPin, 6, 0, 2), S_OK);
  EXPECT_EQ(Info(2), (PinInfo{6, 0x10, 0}));
  EXPECT_TRUE(Confirmations().empty());
}

TEST_F(PinMembers, ConfirmationOnTheTokenWithThreeTriesLeft) {
  SpendTriesUntil(3);
  const std::wstring tips = ModuleString(IDS_REMAINING_TIMES).substr(0, 15) + L" 3, " +
                            ModuleString(IDS_TAKE_CAUTION) + L".\n" +
                            ModuleString(IDS_OPERATION_CONFIRM);
  if (::GetUserDefaultUILanguage() == 0x0409) {
    ASSERT_EQ(tips.rfind(L"Remaining times 3, please take caution.\n          Information Confirmation\n", 0), 0u);
  }

  const struct {
    const char* button;
    DWORD confirm;
    HRESULT expected;
    bool dialog;
  } cases[] = {
      {"cancel", 1, SCARD_W_CANCELLED_BY_USER, true},
      {"timeout", 1, SCARD_E_TIMEOUT, true},
      // No dialog: the token's own codes come back as they are.
      {"cancel", 0, H(0x8000FF06), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.button) + " confirm " + std::to_string(c.confirm));
    const size_t before = Confirmations().size();
    DeviceBench::Control("display 0 clear");
    DeviceBench::Control(std::string("button 0 ") + c.button);
    EXPECT_EQ(Check(kPin, 3, c.confirm), c.expected);
    EXPECT_NE(Display().find("VERIFY PIN"), std::string::npos);
    EXPECT_EQ(Confirmations().size(), before + (c.dialog ? 1 : 0));
    EXPECT_EQ(Info().tries, 3u) << "neither C nor the time-out costs a try";
  }

  DeviceBench::Control("button 0 ok");
  EXPECT_EQ(Check(kPin, 3, 1), S_OK);
  const auto shown = Confirmations();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown.back().confirmKind, "operation");
  EXPECT_EQ(shown.back().text, tips);
  EXPECT_EQ(Info(), (PinInfo{6, 0x11, 0}));

  // Four tries left: no dialog, and the token does not wait either.
  SpendTriesUntil(4);
  EXPECT_EQ(Check(kPin, 4, 1), S_OK);
  EXPECT_EQ(Confirmations().size(), 3u);
}

TEST_F(PinMembers, ModifyPinDirectAndConfirmed) {
  EXPECT_EQ(Modify(kPin, "11112222", 6, 1), S_OK);
  EXPECT_EQ(Check("11112222", 6, 1), S_OK);
  EXPECT_EQ(Info(), (PinInfo{6, 0x11, 1}));
  EXPECT_EQ(Modify(kWrongPin, kPin, 6, 1), H(0x800063C5));
  EXPECT_TRUE(Confirmations().empty());

  SpendTriesUntil(3);
  DeviceBench::Control("display 0 clear");
  DeviceBench::Control("button 0 cancel");
  EXPECT_EQ(Modify("11112222", kPin, 2, 1), SCARD_W_CANCELLED_BY_USER);
  EXPECT_NE(Display().find("CHANGE PIN"), std::string::npos);
  DeviceBench::Control("button 0 ok");
  EXPECT_EQ(Modify("11112222", kPin, 3, 1), S_OK);
  ASSERT_EQ(Confirmations().size(), 2u);
  EXPECT_NE(Confirmations()[0].text.find(L" 2, "), std::wstring::npos);
  EXPECT_EQ(Check(kPin, 6, 1), S_OK);
}

TEST_F(PinMembers, UnlockUserPinRestoresABlockedPin) {
  SpendTriesUntil(0);
  EXPECT_EQ(Check(kPin, 6, 0), H(0x800063C0));  // blocked
  EXPECT_EQ(m_handle.UnlockUserPIN(m_dev.c_str(), kWrongPin, "55556666"), H(0x800063C5));
  EXPECT_EQ(Info().tries, 0u);
  EXPECT_EQ(m_handle.UnlockUserPIN(m_dev.c_str(), kPin, "55556666"), S_OK);
  EXPECT_EQ(Info().tries, 6u);
  EXPECT_EQ(Check("55556666", 6, 0), S_OK);
  EXPECT_EQ(Info().modified, 1u);
}

TEST_F(PinMembers, PinInfoRetriesOnceWithANewSession) {
  ASSERT_EQ(Check(kPin, 6, 0), S_OK);
  DeviceBench::Control("fault 0 sw 6982 ins 25 count 1");
  EXPECT_EQ(Info(), (PinInfo{6, 0x11, 0}));

  DeviceBench::Control("fault 0 sw 6982 ins 25 count 2");
  PinInfo untouched;
  EXPECT_EQ(m_handle.GetPINInfo(m_dev.c_str(), 1, &untouched.tries, &untouched.status,
                                &untouched.modified),
            SCARD_W_WRONG_CHV);
  EXPECT_EQ(untouched, PinInfo{});
}

TEST_F(PinMembers, ArgumentsAreCheckedBeforeTheTokenIsAsked) {
  const std::string gone = DeviceBench::DeviceName(2);
  const char* dev = m_dev.c_str();
  DWORD a = 0, b = 0, c = 0;
  char* label = nullptr;
  std::string long256(256, '1');
  const struct {
    const char* name;
    HRESULT result;
    std::function<HRESULT()> call;
  } cases[] = {
      {"CheckPIN null name", E_INVALIDARG, [&] { return m_handle.CheckPIN(nullptr, 1, kPin, 8, 6, 0); }},
      {"CheckPIN null PIN", E_INVALIDARG, [&] { return m_handle.CheckPIN(dev, 1, nullptr, 8, 6, 0); }},
      {"CheckPIN length 0", E_INVALIDARG, [&] { return m_handle.CheckPIN(dev, 1, kPin, 0, 6, 0); }},
      // A length the token API's byte cannot carry: 256 would reach it as 0.
      {"CheckPIN length 256", E_INVALIDARG,
       [&] { return m_handle.CheckPIN(dev, 1, long256.c_str(), 256, 6, 0); }},
      {"CheckPIN length 262 confirmed", E_INVALIDARG,
       [&] { return m_handle.CheckPIN(dev, 1, (long256 + "123456").c_str(), 262, 3, 1); }},
      // 17 to 255 still reach the token API, which refuses them.
      {"CheckPIN length 17", H(0x80070001),
       [&] { return m_handle.CheckPIN(dev, 1, long256.c_str(), 17, 6, 0); }},
      {"CheckPIN unknown token", NTE_BAD_KEYSET,
       [&] { return m_handle.CheckPIN(gone.c_str(), 1, kPin, 8, 6, 0); }},
      {"ModifyPIN null old", E_INVALIDARG,
       [&] { return m_handle.ModifyPIN(dev, 1, nullptr, 8, kPin, 8, 6, 0); }},
      {"ModifyPIN old length 0", E_INVALIDARG,
       [&] { return m_handle.ModifyPIN(dev, 1, kPin, 0, kPin, 8, 6, 0); }},
      {"ModifyPIN null new", E_INVALIDARG,
       [&] { return m_handle.ModifyPIN(dev, 1, kPin, 8, nullptr, 8, 6, 0); }},
      {"ModifyPIN new length 256", E_INVALIDARG,
       [&] { return m_handle.ModifyPIN(dev, 1, kPin, 8, long256.c_str(), 256, 6, 0); }},
      {"ModifyPIN unknown token", NTE_BAD_KEYSET,
       [&] { return m_handle.ModifyPIN(gone.c_str(), 1, kPin, 8, kPin, 8, 6, 0); }},
      {"UnlockUserPIN null admin", E_INVALIDARG,
       [&] { return m_handle.UnlockUserPIN(dev, nullptr, kPin); }},
      {"UnlockUserPIN null new", E_INVALIDARG,
       [&] { return m_handle.UnlockUserPIN(dev, kPin, nullptr); }},
      {"UnlockUserPIN 256 characters", E_INVALIDARG,
       [&] { return m_handle.UnlockUserPIN(dev, kPin, long256.c_str()); }},
      {"UnlockUserPIN unknown token", NTE_BAD_KEYSET,
       [&] { return m_handle.UnlockUserPIN(gone.c_str(), kPin, kPin); }},
      {"GetPINInfo null name", E_INVALIDARG, [&] { return m_handle.GetPINInfo(nullptr, 1, &a, &b, &c); }},
      {"GetPINInfo null tries", E_INVALIDARG, [&] { return m_handle.GetPINInfo(dev, 1, nullptr, &b, &c); }},
      {"GetPINInfo null status", E_INVALIDARG, [&] { return m_handle.GetPINInfo(dev, 1, &a, nullptr, &c); }},
      {"GetPINInfo null modified", E_INVALIDARG, [&] { return m_handle.GetPINInfo(dev, 1, &a, &b, nullptr); }},
      {"GetPINInfo unknown token", NTE_BAD_KEYSET,
       [&] { return m_handle.GetPINInfo(gone.c_str(), 1, &a, &b, &c); }},
      {"ResetKey null", E_INVALIDARG, [&] { return m_handle.ResetKey(nullptr); }},
      {"ResetKey unknown token", NTE_BAD_KEYSET, [&] { return m_handle.ResetKey(gone.c_str()); }},
      {"EraseKey unknown token", NTE_BAD_KEYSET, [&] { return m_handle.EraseKey(gone.c_str()); }},
      {"InitKey null", E_INVALIDARG, [&] { return m_handle.InitKey(nullptr); }},
      {"GetDeviceLabelInfo null out", E_INVALIDARG, [&] { return m_handle.GetDeviceLabelInfo(dev, nullptr); }},
      {"GetDeviceLabelInfo unknown token", NTE_BAD_KEYSET,
       [&] { return m_handle.GetDeviceLabelInfo(gone.c_str(), &label); }},
      {"SetDeviceLabelInfo null label", E_INVALIDARG, [&] { return m_handle.SetDeviceLabelInfo(dev, nullptr); }},
      {"SetDeviceLabelInfo 256 bytes", H(0x80070004),
       [&] { return m_handle.SetDeviceLabelInfo(dev, long256.c_str()); }},
  };
  DeviceBench::Control("log 0 clear");
  for (const auto& t : cases) {
    EXPECT_EQ(t.call(), t.result) << t.name;
  }
  EXPECT_EQ(label, nullptr);
  EXPECT_EQ(a + b + c, 0u);
  EXPECT_TRUE(Confirmations().empty());
  // Only the 17-byte check's session set-up reached the token: no VERIFY.
  std::istringstream sent(DeviceBench::Control("log 0"));
  for (std::string ins; sent >> ins;) {
    EXPECT_NE(ins, "20");
  }
}

TEST_F(PinMembers, LabelRoundTripAndAFreshFileSystem) {
  const std::string chinese = "\xE5\x8A\x9E\xE5\x85\xAC\xE7\x94\xA8Key";  // 办公用Key
  ASSERT_EQ(m_handle.SetDeviceLabelInfo(m_dev.c_str(), chinese.c_str()), S_OK);
  char* label = nullptr;
  ASSERT_EQ(m_handle.GetDeviceLabelInfo(m_dev.c_str(), &label), S_OK);
  EXPECT_EQ(std::string(label), chinese);
  delete[] label;

  ASSERT_EQ(Modify(kPin, "11112222", 6, 0), S_OK);
  ASSERT_EQ(m_handle.EraseKey(m_dev.c_str()), S_OK);
  ASSERT_EQ(m_handle.InitKey(m_dev.c_str()), S_OK);
  EXPECT_EQ(Check(kPin, 6, 0), S_OK);  // PinFile.ini's, not the changed one
  EXPECT_EQ(Info(), (PinInfo{6, 0x11, 0}));
  // A second initialisation of an initialised file system fails.
  EXPECT_EQ(m_handle.InitKey(m_dev.c_str()), E_FAIL);
}

}  // namespace
}  // namespace merro::testing
