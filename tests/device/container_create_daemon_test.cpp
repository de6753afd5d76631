// Creating a container through the device object against the daemon: the
// PIN loop with the scripted UI (the factory PIN where the bank's rules
// allow it, typed PINs, cancel, the token's own C and time-out, no tries
// left), the selection among two tokens, and the name rules.
#include <cstring>
#include <string>
#include <vector>

#include "device/device_trace.h"
#include "resources/device/device_resource_ids.h"
#include "tests/device/container_fixture.h"

namespace merro::testing {
namespace {

class Create : public ContainerTest {};

TEST_F(Create, TheFactoryPinStandsInWhereTheRulesAllowIt) {
  Start(TRUE);
  std::string dev;
  ASSERT_EQ(CreateOn("alpha", &dev), S_OK);
  EXPECT_EQ(dev, m_dev0);
  EXPECT_TRUE(m_ui->Transcript().empty());  // no prompt at all
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{"alpha"}));
  EXPECT_TRUE(m_handle.HaveKeptPIN(m_dev0.c_str()));
  // The list holds the record as the token wrote it back, as a refresh
  // would read it.
  const CONTAINER_RECORD listed = ListedRecord(m_dev0, "alpha");
  EXPECT_EQ(std::memcmp(&listed, &TokenRecord(m_dev0, "alpha"), sizeof listed), 0);
  EXPECT_EQ(listed.byFlag, 0);
  EXPECT_EQ(listed.SignKeyLen, 0xFF);
  EXPECT_NE(listed.ExchangeKeyFID, 0);
  EXPECT_EQ(DwordValues(18), (std::vector<std::uint32_t>{0}));
  EXPECT_EQ(m_trace.Values(device::kDeviceHandleMessageGuid, 19).size(), 1u);
}

TEST_F(Create, WithoutTheFlagFileTheUserIsAskedOnce) {
  Start(FALSE);
  m_ui->Push(std::string("pin ") + kFactoryPin);
  ASSERT_EQ(CreateOn("alpha"), S_OK);
  EXPECT_EQ(PinPrompts(), (std::vector<std::string>{"mode 0 tries 6"}));
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{"alpha"}));
}

// The token holds another never-changed PIN: one automatic try of the
// factory PIN, then the user, told of the try it cost.
TEST_F(Create, ARefusedFactoryPinIsTriedOnceThenTheUserIsAsked) {
  ASSERT_TRUE(DeviceBench::Prepare(0, "905172"));
  Start(TRUE);
  m_ui->Push("pin 905172");
  ASSERT_EQ(CreateOn("alpha"), S_OK);
  EXPECT_EQ(PinPrompts(), (std::vector<std::string>{"mode 0 tries 5"}));
  EXPECT_EQ(DwordValues(18), (std::vector<std::uint32_t>{0x800063C5, 0}));
  EXPECT_EQ(Tries(m_dev0), 6u);
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{"alpha"}));
}

TEST_F(Create, AWrongThenARightPin) {
  Start(FALSE);
  m_ui->Push("pin 11111111");
  m_ui->Push(std::string("pin ") + kFactoryPin);
  ASSERT_EQ(CreateOn("alpha"), S_OK);
  EXPECT_EQ(PinPrompts(), (std::vector<std::string>{"mode 0 tries 6", "mode 0 tries 5"}));
  EXPECT_EQ(m_trace.Values(device::kDeviceHandleMessageGuid, 20).size(), 1u);
  EXPECT_EQ(m_trace.Values(device::kDeviceHandleMessageGuid, 19).size(), 1u);
}

TEST_F(Create, ACancelLeavesTheTokenAsItWas) {
  Start(FALSE);
  m_ui->Push("cancel");
  EXPECT_EQ(CreateOn("alpha"), SCARD_W_CANCELLED_BY_USER);
  EXPECT_TRUE(OnToken(m_dev0).empty());
  EXPECT_EQ(Tries(m_dev0), 6u);
  EXPECT_FALSE(m_handle.HaveKeptPIN(m_dev0.c_str()));
}

// With three tries or fewer the verification waits for the token's button:
// C or no answer ends the creation, costs no try and asks no more.
TEST_F(Create, TheTokensCancelAndTimeOutEndTheLoop) {
  ASSERT_TRUE(LimitTries(0, 3));
  Start(FALSE);
  const struct {
    const char* button;
    HRESULT result;
  } cases[] = {{"cancel", SCARD_W_CANCELLED_BY_USER}, {"timeout", SCARD_E_TIMEOUT}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    const size_t prompts = PinPrompts().size();
    m_ui->Push(std::string("pin ") + kFactoryPin);
    DeviceBench::Control(std::string("button 0 ") + c.button);
    EXPECT_EQ(CreateOn("alpha"), c.result);
    EXPECT_EQ(PinPrompts().size(), prompts + 1);
    EXPECT_EQ(PinPrompts().back(), "mode 0 tries 3");
    EXPECT_EQ(Tries(m_dev0), 3u);
    EXPECT_TRUE(OnToken(m_dev0).empty());
  }
}

// The last try spent: the "locked" box and 0x8010006C. Where the factory
// PIN would stand in, a locked token is not tried at all.
TEST_F(Create, NoTriesLeft) {
  ASSERT_TRUE(LimitTries(0, 1));
  Start(FALSE);
  m_ui->Push("pin 11111111");
  DeviceBench::Control("button 0 ok");
  EXPECT_EQ(CreateOn("alpha"), SCARD_W_CHV_BLOCKED);
  const std::vector<std::string> expected = {
      "pin mode=0 tries=1", "confirm kind=operation",
      "message text=" + std::to_string(IDS_PIN_LOCKED) + " caption=" +
          std::to_string(IDS_ERROR_CAPTION) + " type=0x10"};
  EXPECT_EQ(PromptHeads(), expected);
  EXPECT_EQ(Tries(m_dev0), 0u);

  ASSERT_EQ(m_handle.UnInitialize(), S_OK);
  Start(TRUE);
  const size_t checks = DwordValues(18).size();
  EXPECT_EQ(CreateOn("alpha"), SCARD_W_CHV_BLOCKED);
  EXPECT_EQ(DwordValues(18).size(), checks);  // no verification was sent
  EXPECT_EQ(PromptHeads().back(), expected.back());
  EXPECT_TRUE(OnToken(m_dev0).empty());
}

TEST_F(Create, TheFactoryPinForbiddenBySettings) {
  m_settings.dwDefaultPINCheck = 2;
  Start(TRUE);
  EXPECT_EQ(CreateOn("alpha"), SCARD_W_SECURITY_VIOLATION);
  EXPECT_EQ(PromptHeads(), (std::vector<std::string>{
                               "message text=" + std::to_string(IDS_DEFAULT_PIN_WARNING) +
                               " caption=" + std::to_string(IDS_DEFAULT_PIN_CAPTION) +
                               " type=0x30"}));
  EXPECT_TRUE(OnToken(m_dev0).empty());
}

// Two tokens: the user picks one; a name any token holds already is
// refused after the PIN, even on the other token.
TEST_F(Create, TwoTokensTheChosenOneAndNamesOnTheOther) {
  ASSERT_TRUE(DeviceBench::CreateContainers(0, {"taken"}));
  DeviceBench::Insert(1);
  ASSERT_TRUE(DeviceBench::Prepare(1));
  Start(FALSE);
  m_ui->Push("select 1");
  m_ui->Push(std::string("pin ") + kFactoryPin);
  std::string dev;
  ASSERT_EQ(CreateOn("fresh", &dev), S_OK);
  EXPECT_EQ(dev, m_dev1);
  const auto transcript = m_ui->Transcript();
  ASSERT_FALSE(transcript.empty());
  EXPECT_EQ(transcript[0].names, (std::vector<std::string>{m_dev0, m_dev1}));
  EXPECT_EQ(OnToken(m_dev1), (std::vector<std::string>{"fresh"}));
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{"taken"}));

  m_ui->Push("select 1");
  m_ui->Push(std::string("pin ") + kFactoryPin);
  EXPECT_EQ(CreateOn("taken", &dev), NTE_EXISTS);
  EXPECT_EQ(dev, "");
  EXPECT_EQ(PinPrompts().size(), 2u);
  EXPECT_EQ(OnToken(m_dev1), (std::vector<std::string>{"fresh"}));
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{"taken"}));
}

TEST_F(Create, NameLengthsAndRepeatedCreation) {
  Start(FALSE);
  const std::string name63(63, 'n');
  const std::string name64(64, 'n');
  char* dev = nullptr;
  EXPECT_EQ(m_handle.MerroCreateContainer(name64.c_str(), &dev), E_INVALIDARG);
  EXPECT_EQ(m_handle.MerroCreateContainer(nullptr, &dev), E_INVALIDARG);
  EXPECT_EQ(m_handle.MerroCreateContainer("alpha", nullptr), E_INVALIDARG);
  EXPECT_TRUE(m_ui->Transcript().empty());  // refused before any prompt

  m_ui->Push(std::string("pin ") + kFactoryPin);
  ASSERT_EQ(CreateOn(name63.c_str()), S_OK);
  EXPECT_EQ(m_handle.CheckContainerExist(m_dev0.c_str(), name63.c_str()), S_OK);
  EXPECT_EQ(OnToken(m_dev0), (std::vector<std::string>{name63}));

  // The kept PIN is forgotten at the start: a second creation asks again.
  ASSERT_TRUE(m_handle.HaveKeptPIN(m_dev0.c_str()));
  m_ui->Push(std::string("pin ") + kFactoryPin);
  ASSERT_EQ(CreateOn("second"), S_OK);
  EXPECT_EQ(PinPrompts().size(), 2u);
}

}  // namespace
}  // namespace merro::testing
