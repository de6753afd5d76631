// The simulator's frame parser and command block check.
#include <gtest/gtest.h>

#include "tokensim/core/frame_parser.h"

namespace merro::tokensim {
namespace {

struct FrameCase {
  const char* name;
  Bytes frame;
  std::uint16_t sw;
};

TEST(FrameParser, RefusesMalformedFramesWithAStatusWord) {
  Bytes longest(kMaxFrameLen, 0);
  longest[0] = 0xB0;
  longest[4] = 255;
  Bytes tooLong(kMaxFrameLen + 1, 0);
  tooLong[0] = 0xB0;
  tooLong[4] = 255;
  const FrameCase cases[] = {
      {"empty", {}, sw::kWrongLength},
      {"five bytes", {0xB0, 0xA4, 0x20, 0x00, 0x00}, sw::kWrongLength},
      {"bad class", {0x00, 0xA4, 0x20, 0x00, 0x00, 0x00}, sw::kClassUnknown},
      {"Lc beyond the data", {0xB0, 0x33, 0x00, 0x00, 0x02, 0x00, 0x01}, sw::kWrongLength},
      {"data beyond Lc", {0xB0, 0x33, 0x00, 0x00, 0x00, 0x00, 0x01}, sw::kWrongLength},
      {"longer than 261", tooLong, sw::kWrongLength},
      {"header only", {0xB0, 0x12, 0x01, 0x00, 0x00, 0x14}, sw::kOk},
      {"protected class", {0xB4, 0x36, 0x00, 0x10, 0x01, 0x20, 0xAA}, sw::kOk},
      {"261 bytes", longest, sw::kOk},
  };
  for (const FrameCase& c : cases) {
    Command cmd;
    EXPECT_EQ(ParseCommandFrame(c.frame.data(), c.frame.size(), &cmd), c.sw) << c.name;
  }
}

TEST(FrameParser, SplitsHeaderAndData) {
  const Bytes frame = {0xB0, 0xA4, 0x20, 0x01, 0x02, 0x10, 0x00, 0xC0};
  Command cmd;
  ASSERT_EQ(ParseCommandFrame(frame.data(), frame.size(), &cmd), sw::kOk);
  EXPECT_EQ(cmd.ins, 0xA4);
  EXPECT_EQ(cmd.P1P2(), 0x2001);
  EXPECT_EQ(cmd.le, 0x10);
  EXPECT_EQ(cmd.DataWordLE(0), 0xC000);
}

TEST(FrameParser, AcceptsOnlyTheVendorCommandBlock) {
  std::uint8_t cdb[10] = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(IsTokenCdb(cdb, 10));
  EXPECT_FALSE(IsTokenCdb(cdb, 9));
  cdb[9] = 1;
  EXPECT_FALSE(IsTokenCdb(cdb, 10));
}

}  // namespace
}  // namespace merro::tokensim
