// The new-PIN rules of the PIN change dialog: the strength patterns and the
// order in which the checks report.
#include "certmanager/pin_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "certmanager_string_ids.h"

namespace {

using merro::certmanager::CheckNewPIN;

struct RuleCase {
  const char* what;
  std::string oldPIN;
  std::string newPIN;
  std::string confirmPIN;  // empty: the same as newPIN
  unsigned expected;       // 0: every rule passes
};

TEST(PinRules, FirstBrokenRuleGivesItsText) {
  const std::string good = "abc123";
  const RuleCase cases[] = {
      // Strength: letters and digits after any first character, both kinds,
      // no character six times in a row.
      {"letters then digits", "xyz789", "abc123", "", 0},
      {"alternating", "xyz789", "a1b2c3", "", 0},
      {"five alike, digit, alike again", "xyz789", "aaaaa1a", "", 0},
      {"punctuation first", "xyz789", "!abc12", "", 0},
      {"digits only", "xyz789", "123456", "", IDS_PIN_WEAK},
      {"letters only", "xyz789", "abcdef", "", IDS_PIN_WEAK},
      {"six alike", "xyz789", "aaaaaa1", "", IDS_PIN_WEAK},
      {"six alike digits", "xyz789", "a111111", "", IDS_PIN_WEAK},
      {"blank after first", "xyz789", "a bc12", "", IDS_PIN_WEAK},
      {"punctuation later", "xyz789", "ab!c12", "", IDS_PIN_WEAK},
      // Lengths: 6 to 16 for both.
      {"new 5", "xyz789", "abc12", "", IDS_NEW_PIN_LENGTH},
      {"new 17", "xyz789", "abcdefgh123456789", "", IDS_NEW_PIN_LENGTH},
      {"new 16", "xyz789", "abcdefgh12345678", "", 0},
      {"new 6 exactly", "xyz789", "ab12cd", "", 0},
      {"old 5, new bad too", "xyz78", "1", "2", IDS_OLD_PIN_LENGTH},
      {"old 17", "abcdefgh123456789", good, "", IDS_OLD_PIN_LENGTH},
      {"old empty", "", good, "", IDS_OLD_PIN_LENGTH},
      // Confirmation, before sameness and strength.
      {"confirmation differs", "xyz789", good, "abc124", IDS_PIN_MISMATCH},
      {"confirmation differs in case", "xyz789", "abC123", "abc123", IDS_PIN_MISMATCH},
      {"weak and unconfirmed", "xyz789", "123456", "123457", IDS_PIN_MISMATCH},
      {"same as old", good, good, "", IDS_PIN_SAME_AS_OLD},
      {"weak and same as old", "123456", "123456", "", IDS_PIN_SAME_AS_OLD},
      // The factory default is refused before the strength rules (it would
      // fail them as digits only).
      {"factory default", "xyz789", "47193628", "", IDS_PIN_IS_DEFAULT},
      {"default with a suffix", "xyz789", "47193628a", "", 0},
  };
  for (const RuleCase& c : cases) {
    const std::string& confirm = c.confirmPIN.empty() ? c.newPIN : c.confirmPIN;
    EXPECT_EQ(CheckNewPIN(c.oldPIN, c.newPIN, confirm), c.expected) << c.what;
  }
}

TEST(PinRules, PinWithEmbeddedNulIsCheckedWhole) {
  // The dialog's text is a counted string: a NUL inside must not cut the
  // PIN short into something that passes.
  const std::string withNul("abc\0" "12", 6);
  EXPECT_EQ(CheckNewPIN("xyz789", withNul, withNul), static_cast<unsigned>(IDS_PIN_WEAK));
}

}  // namespace
