// The command families of the simulated token, run through the standard
// dispatcher, and the token's state around them.
#include <gtest/gtest.h>

#include <utility>

#include "tests/tokensim/family_runner.h"
#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"

namespace merro::tokensim {
namespace {

// An extension standing in for a family with state of its own.
struct Counter : TokenExtension {
  static constexpr const char* kName = "counter";
  void ResetSecurityState() override { verified = false; }
  void Save(merro::sim::ByteWriter& out) const override { out.U32(value); }
  bool Load(merro::sim::ByteReader& in) override { return in.U32(&value); }
  void Erase() override { value = 0; }
  std::uint32_t value = 0;
  bool verified = false;
};

class Families : public ::testing::Test {
 protected:
  Reply Run(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, std::uint8_t le, Bytes data = {}) {
    return testing::RunCommand(m_token, ins, p1, p2, le, std::move(data));
  }
  Token m_token{{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}};
};

TEST_F(Families, DeviceInformationAndItsResetForm) {
  m_token.Ext<Counter>().verified = true;
  ASSERT_TRUE(Run(0x84, 0, 0, 8).Ok());
  const Reply info = Run(0x12, 0, 0, 0x14);
  ASSERT_TRUE(info.Ok());
  ASSERT_EQ(info.data.size(), 20u);
  EXPECT_EQ(Bytes(info.data.begin() + 7, info.data.begin() + 12), (Bytes{'V', '3', '.', '0', '2'}));
  EXPECT_EQ(Bytes(info.data.begin() + 12, info.data.begin() + 16), (Bytes{0x50, 0x60, 0x70, 0x80}));
  EXPECT_EQ(info.data[18] | (info.data[19] << 8), 2048);
  EXPECT_TRUE(m_token.Ext<Counter>().verified);

  ASSERT_TRUE(Run(0x12, 1, 0, 0x14).Ok());
  EXPECT_FALSE(m_token.Ext<Counter>().verified);
  EXPECT_TRUE(m_token.Challenge().empty());
  EXPECT_EQ(Run(0x12, 2, 0, 0x14).sw, sw::kIncorrectP1P2);
  EXPECT_EQ(Run(0x12, 0, 0, 0x13).sw, sw::kWrongLength);
}

TEST_F(Families, SerialNumbersAndLabel) {
  EXPECT_EQ(Run(0x93, 0, 0, 8).data, (Bytes{0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80}));
  EXPECT_EQ(Run(0x62, 0, 0, 5).data, (Bytes{'V', '3', '.', '0', '2'}));
  const Reply factory = Run(0x7D, 0, 0, 0x80);
  EXPECT_EQ(std::string(factory.data.begin(), factory.data.end()), "MT1020304050607080");
  ASSERT_TRUE(Run(0x7C, 0, 0, 0, Bytes(128, 'L')).Ok());
  EXPECT_EQ(Run(0x7D, 0, 0, 0x80).data, Bytes(128, 'L'));
  EXPECT_EQ(Run(0x7C, 0, 0, 0, Bytes(129, 'L')).sw, sw::kWrongLength);
  EXPECT_EQ(Run(0x7D, 0, 0, 0x7F).sw, sw::kWrongLength);  // Le below the label's length
}

TEST_F(Families, EraseMfForgetsFilesEraseCosAlsoTheLabel) {
  m_token.Ext<Counter>().value = 5;
  ASSERT_TRUE(Run(0xE0, 0, 0, 0, testing::FileDescription(0x0001, 32)).Ok());
  ASSERT_TRUE(Run(0x7C, 0, 0, 0, {'X'}).Ok());
  ASSERT_TRUE(Run(0x63, 0, 0, 0).Ok());
  EXPECT_EQ(m_token.Files().Count(), 0u);
  EXPECT_EQ(m_token.Ext<Counter>().value, 0u);
  EXPECT_EQ(Run(0x7D, 0, 0, 0x80).data, Bytes{'X'});
  ASSERT_TRUE(Run(0x90, 0, 0, 0).Ok());
  EXPECT_EQ(Run(0x7D, 0, 0, 0x80).data.size(), 18u);
}

TEST_F(Families, FlashBoundsAndErase) {
  Bytes half(129, 0x3C);
  half[0] = 1;
  ASSERT_TRUE(Run(0x71, 0x1F, 0xFF, 0, half).Ok());  // last page, second half
  EXPECT_EQ(Run(0x72, 0x3F, 0xFF, 128).data, Bytes(128, 0x3C));  // last unit
  EXPECT_EQ(Run(0x72, 0x3F, 0xFE, 128).data, Bytes(128, 0xFF));
  EXPECT_EQ(Run(0x71, 0x20, 0x00, 0, half).sw, sw::kOffsetBeyondFile);
  EXPECT_EQ(Run(0x72, 0x40, 0x00, 1).sw, sw::kOffsetBeyondFile);
  EXPECT_EQ(Run(0x72, 0, 0, 129).sw, sw::kWrongLength);
  half[0] = 2;
  EXPECT_EQ(Run(0x71, 0, 0, 0, half).sw, sw::kIncorrectData);
  EXPECT_EQ(Run(0x71, 0, 0, 0, Bytes(128, 0)).sw, sw::kWrongLength);
  ASSERT_TRUE(Run(0x70, 0, 0, 0).Ok());
  EXPECT_EQ(Run(0x72, 0x3F, 0xFF, 128).data, Bytes(128, 0xFF));
}

TEST_F(Families, FileSystemFillsUpAndChecksItsArguments) {
  EXPECT_EQ(Run(0xE0, 0, 0, 0, testing::FileDescription(0x0100, 0)).sw, sw::kIncorrectData);
  EXPECT_EQ(Run(0xE0, 0, 0, 0, Bytes(15, 0)).sw, sw::kWrongLength);
  std::uint16_t id = 0x1000;
  while (m_token.Files().FreeSpace() >= 0xFFFF) {
    ASSERT_TRUE(Run(0xE0, 0, 0, 0, testing::FileDescription(id++, 0xFFFF)).Ok());
  }
  EXPECT_EQ(Run(0xE0, 0, 0, 0, testing::FileDescription(id, 0xFFFF)).sw, sw::kNotEnoughMemory);
  EXPECT_EQ(Run(0xA4, 0x00, 0, 0x10, {0x00, 0x10}).sw, sw::kIncorrectP1P2);
  EXPECT_EQ(Run(0xA4, 0x20, 0, 0x0F, {0x00, 0x10}).sw, sw::kWrongLength);
  EXPECT_EQ(Run(0x36, 0, 0, 0).sw, sw::kWrongLength);
  EXPECT_EQ(Run(0x33, 0, 0, 0).sw, sw::kWrongLength);
}

TEST_F(Families, ChallengeIsFreshAndKept) {
  EXPECT_EQ(Run(0x84, 0, 0, 0).sw, sw::kWrongLength);
  EXPECT_EQ(Run(0x84, 0, 0, 129).sw, sw::kWrongLength);
  const Reply a = Run(0x84, 0, 0, 16);
  const Reply b = Run(0x84, 0, 0, 16);
  ASSERT_EQ(a.data.size(), 16u);
  EXPECT_NE(a.data, b.data);
  EXPECT_EQ(m_token.Challenge(), b.data);
}

TEST_F(Families, ImportScreenAndConfirmationScript) {
  ASSERT_TRUE(Run(0x92, 0x02, 0, 0).Ok());
  EXPECT_EQ(m_token.Screen().Transcript().back(), "IMPORT CERT 02");

  Display& screen = m_token.Screen();
  screen.Script(Display::Answer::Ok, 2);
  screen.Script(Display::Answer::Timeout, 0);
  screen.BeginConfirmation("SIGN 1");
  EXPECT_EQ(screen.Poll(), Display::Answer::Pending);
  EXPECT_EQ(screen.Poll(), Display::Answer::Pending);
  EXPECT_EQ(screen.Poll(), Display::Answer::Ok);
  EXPECT_FALSE(screen.Confirming());
  screen.BeginConfirmation("SIGN 2");
  EXPECT_EQ(screen.Poll(), Display::Answer::Timeout);
  // Nothing scripted: the user presses C at once.
  screen.BeginConfirmation("SIGN 3");
  EXPECT_EQ(screen.Poll(), Display::Answer::Cancel);
  EXPECT_EQ(screen.Transcript().back(), "SIGN 3");
}

// A held confirmation stays pending until it is released with an answer,
// or its limit passes (no answer); a release may also come before the
// confirmation begins.
TEST_F(Families, HeldConfirmationsWaitForTheirRelease) {
  Display& screen = m_token.Screen();
  EXPECT_FALSE(screen.Release(Display::Answer::Ok)) << "nothing held";
  screen.ScriptHold();
  screen.BeginConfirmation("HOLD 1");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(screen.Poll(), Display::Answer::Pending);
  }
  EXPECT_TRUE(screen.Release(Display::Answer::Cancel));
  EXPECT_EQ(screen.Poll(), Display::Answer::Cancel);
  EXPECT_FALSE(screen.Confirming());

  screen.ScriptHold();
  EXPECT_TRUE(screen.Release(Display::Answer::Ok));  // the queued hold
  screen.BeginConfirmation("HOLD 2");
  EXPECT_EQ(screen.Poll(), Display::Answer::Ok);

  screen.SetHoldLimit(std::chrono::milliseconds(30));
  screen.ScriptHold();
  screen.BeginConfirmation("HOLD 3");
  EXPECT_EQ(screen.Poll(), Display::Answer::Pending);
  const auto start = Display::Clock::now();
  while (screen.Poll() == Display::Answer::Pending) {
    screen.WaitForUser();  // no waiter: a short sleep
  }
  EXPECT_GE(Display::Clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_FALSE(screen.Confirming());

  // Clearing the script answers a held confirmation with C.
  screen.ScriptHold();
  screen.BeginConfirmation("HOLD 4");
  screen.ClearScript();
  EXPECT_EQ(screen.Poll(), Display::Answer::Cancel);
}

TEST(FaultPlan, FiltersByInsSkipsAndCounts) {
  FaultPlan plan;
  Fault f;
  f.kind = Fault::Kind::DroppedReply;
  f.ins = 0x36;
  f.skip = 1;
  f.count = 2;
  plan.Add(f);
  EXPECT_FALSE(plan.Take(0x33));
  EXPECT_FALSE(plan.Take(0x36));  // skipped
  EXPECT_TRUE(plan.Take(0x36));
  EXPECT_TRUE(plan.Take(0x36));
  EXPECT_FALSE(plan.Take(0x36));
  EXPECT_TRUE(plan.Empty());
}

}  // namespace
}  // namespace merro::tokensim
