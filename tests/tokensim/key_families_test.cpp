// The key families of the simulated token, through the standard dispatcher:
// commands out of order, on missing or unsuitable files, with malformed
// keys; and keys going with the file that holds them.
#include <gtest/gtest.h>

#include <utility>

#include "tests/tokensim/family_runner.h"
#include "tokensim/handlers/key_generation.h"

namespace merro::tokensim {
namespace {

class KeyFamilies : public ::testing::Test {
 protected:
  void SetUp() override {
    keygen::UseKeyCache(true);
    ASSERT_TRUE(Run(0xE0, 0, 0, 0, Description(0xC001, 1024)).Ok());
    ASSERT_TRUE(Run(0xE0, 0, 0, 0, Description(0x0002, 512)).Ok());
  }

  Reply Run(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, std::uint8_t le, Bytes data = {}) {
    return testing::RunCommand(m_token, ins, p1, p2, le, std::move(data));
  }
  static Bytes Description(std::uint16_t id, std::uint16_t size) {
    return testing::FileDescription(id, size);
  }
  Token m_token{{1, 2, 3, 4, 5, 6, 7, 8}};
};

TEST_F(KeyFamilies, RefusedCommands) {
  const Bytes fid = {0x01, 0xC0};
  const struct {
    const char* name;
    std::uint8_t ins, p1, p2, le;
    Bytes data;
    std::uint16_t sw;
  } cases[] = {
      {"generate into a missing file", 0x50, 0xC0, 0x04, 0, {}, sw::kFileNotFound},
      {"generate into a file too small for keys", 0x50, 0x00, 0x02, 0, {}, sw::kConditionsNotSatisfied},
      {"RSA generation with exponent 3", 0x34, 0, 0, 0, {0x01, 0xC0, 0, 0, 0, 3}, sw::kIncorrectData},
      {"RSA generation of size 2", 0x34, 2, 0, 0, {0x01, 0xC0, 0, 1, 0, 1}, sw::kIncorrectP1P2},
      {"SM2 public key of an empty file", 0x53, 0xC0, 0x01, 0x40, {}, sw::kConditionsNotSatisfied},
      {"RSA exponent before a header", 0x30, 1, 0, 0, {0, 1, 0, 1}, sw::kConditionsNotSatisfied},
      {"RSA private part before a header", 0x31, 1, 0, 0, Bytes(128, 1), sw::kConditionsNotSatisfied},
      {"RSA header of size 3", 0x30, 0, 3, 0, fid, sw::kIncorrectP1P2},
      {"SM2 point off the curve", 0x51, 0xC0, 0x01, 0, Bytes(64, 0x01), sw::kIncorrectData},
      {"SM2 private key 0", 0x52, 0xC0, 0x01, 0, Bytes(32, 0x00), sw::kIncorrectData},
      {"SM2 private key above the order", 0x52, 0xC0, 0x01, 0, Bytes(32, 0xFF), sw::kIncorrectData},
      {"wrapping-key target without its block", 0x39, 1, 0, 0, {0x01, 0xC0, 0x00}, sw::kConditionsNotSatisfied},
      {"wrapped pair target without a wrapping key", 0x32, 1, 1, 0, {0x01, 0xC0, 0x01}, sw::kConditionsNotSatisfied},
      {"wrapped pair block 5", 0x32, 0, 5, 0, Bytes(128, 0), sw::kIncorrectP1P2},
      {"SM2 pair target without data", 0x49, 1, 0, 0, fid, sw::kConditionsNotSatisfied},
      {"WRITE KEY with P2 0", 0xD4, 0, 0, 0, Bytes(21, 0x30), sw::kIncorrectP1P2},
      {"WRITE KEY of 20 bytes", 0xD4, 0, 1, 0, Bytes(20, 0x30), sw::kWrongLength},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Run(c.ins, c.p1, c.p2, c.le, c.data).sw, c.sw) << c.name;
  }
  // The unwrapping key (file 0x0012) is missing: the block is taken, the
  // target refused.
  Bytes block(113, 0x04);
  block.resize(128, 0x00);
  ASSERT_TRUE(Run(0x39, 0, 0, 0, block).Ok());
  EXPECT_EQ(Run(0x39, 1, 0, 0, {0x01, 0xC0, 0x00}).sw, sw::kConditionsNotSatisfied);
}

TEST_F(KeyFamilies, RsaHalvesInPartsAndKeysGoWithTheirFile) {
  ASSERT_TRUE(Run(0x34, 0, 0, 0, {0x01, 0xC0, 0, 1, 0, 1}).Ok());
  ASSERT_TRUE(Run(0xA4, 0x20, 0, 0x10, {0x01, 0xC0}).Ok());
  const Reply n = Run(0x35, 2, 0, 0x80);
  ASSERT_TRUE(n.Ok());
  EXPECT_EQ(n.data.size(), 128u);
  EXPECT_EQ(Run(0x35, 2, 0x80, 0x80).sw, sw::kIncorrectP1P2) << "no second half of 1024 bits";
  EXPECT_EQ(Run(0x35, 0, 0, 2).data, (Bytes{0x00, 0x80}));

  // A public half written in parts replaces the generated one only when
  // its last part arrives; a reset drops a half-written one.
  ASSERT_TRUE(Run(0x30, 0, 0, 0, {0x01, 0xC0}).Ok());
  ASSERT_TRUE(Run(0x30, 1, 0, 0, {0x00, 0x01, 0x00, 0x01}).Ok());
  ASSERT_TRUE(Run(0x12, 1, 0, 0x14).Ok());
  EXPECT_EQ(Run(0x30, 2, 0, 0, Bytes(128, 0xC3)).sw, sw::kConditionsNotSatisfied);
  EXPECT_EQ(Run(0x35, 2, 0, 0x80).data, n.data);
  ASSERT_TRUE(Run(0x30, 0, 0, 0, {0x01, 0xC0}).Ok());
  ASSERT_TRUE(Run(0x30, 2, 0, 0, Bytes(128, 0xC3)).Ok());
  EXPECT_EQ(Run(0x35, 2, 0, 0x80).data, n.data) << "no exponent yet";
  ASSERT_TRUE(Run(0x30, 1, 0, 0, {0x03}).Ok());
  EXPECT_EQ(Run(0x35, 2, 0, 0x80).data, Bytes(128, 0xC3));
  EXPECT_EQ(Run(0x35, 1, 0, 4).data, Bytes{0x03});

  // Erasing the file removes both halves.
  ASSERT_TRUE(Run(0x64, 0x20, 0, 0, {0x01, 0xC0}).Ok());
  ASSERT_TRUE(Run(0xA4, 0x20, 0, 0x10, {0x01, 0xC0}).Ok());
  EXPECT_EQ(Run(0x35, 2, 0, 0x80).sw, sw::kConditionsNotSatisfied);
}

TEST_F(KeyFamilies, WriteKeyGoesIntoTheSelectedFile) {
  Bytes record = {0x30, 0x00, 0xFF, 0x11, 0x06};
  record.resize(21, 0xAB);
  m_token.Files().Deselect();
  EXPECT_EQ(Run(0xD4, 0, 1, 0, record).sw, sw::kNoCurrentFile);
  ASSERT_TRUE(Run(0xA4, 0x20, 0, 0x10, {0x02, 0x00}).Ok());
  // 512 bytes hold 21 objects: a 22nd type finds no room, a rewrite does.
  for (std::uint8_t type = 0x30; type < 0x30 + 21; ++type) {
    record[0] = type;
    ASSERT_TRUE(Run(0xD4, 0, 1, 0, record).Ok()) << int(type);
  }
  record[0] = 0x60;
  EXPECT_EQ(Run(0xD4, 0, 1, 0, record).sw, sw::kNotEnoughMemory);
  record[0] = 0x31;
  EXPECT_TRUE(Run(0xD4, 0, 1, 0, record).Ok());
}

}  // namespace
}  // namespace merro::tokensim
