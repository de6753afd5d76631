// The character a typed key gives in the password field, over the US layout
// table; in the Windows tree also over the platform's own key mapping, so the
// table and the platform are checked to agree.
#include <gtest/gtest.h>

#include <cstdint>

#include "device/ui/password_keys.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using merro::ui::CharFromKey;
using merro::ui::IsPassThroughKey;
using merro::ui::IsTypedKey;

// Keys of the US layout with their unshifted and shifted characters.
struct KeyRow {
  std::uint32_t vk;
  char plain;
  char shifted;
};
constexpr KeyRow kShiftedKeys[] = {
    {'0', '0', ')'}, {'1', '1', '!'}, {'2', '2', '@'}, {'3', '3', '#'},  {'4', '4', '$'},
    {'5', '5', '%'}, {'6', '6', '^'}, {'7', '7', '&'}, {'8', '8', '*'},  {'9', '9', '('},
    {186, ';', ':'}, {187, '=', '+'}, {188, ',', '<'}, {189, '-', '_'},  {190, '.', '>'},
    {191, '/', '?'}, {192, '`', '~'}, {219, '[', '{'}, {220, '\\', '|'}, {221, ']', '}'},
    {222, '\'', '"'},
};

// The layout's unshifted character of a key: natively the US table (letters
// map to capitals), in the Windows tree what the platform says.
std::uint32_t Mapped(std::uint32_t vk) {
#ifdef _WIN32
  return ::MapVirtualKeyW(vk, MAPVK_VK_TO_CHAR);
#else
  if (vk >= 'A' && vk <= 'Z') {
    return vk;
  }
  for (const auto& row : kShiftedKeys) {
    if (row.vk == vk) {
      return static_cast<unsigned char>(row.plain);
    }
  }
  return 0;
#endif
}

TEST(PasswordKeys, TheTwentyOneShiftedCharactersWhateverCapsLock) {
  static_assert(sizeof kShiftedKeys / sizeof kShiftedKeys[0] == 21);
  for (const auto& row : kShiftedKeys) {
    SCOPED_TRACE(row.vk);
    ASSERT_EQ(Mapped(row.vk), static_cast<std::uint32_t>(row.plain));
    for (const bool caps : {false, true}) {
      EXPECT_EQ(CharFromKey(row.vk, Mapped(row.vk), false, caps), row.plain);
      EXPECT_EQ(CharFromKey(row.vk, Mapped(row.vk), true, caps), row.shifted);
    }
  }
}

TEST(PasswordKeys, LettersByShiftAndCapsLock) {
  const struct {
    bool shift, caps;
    char a, z;
  } cases[] = {
      {false, false, 'a', 'z'},
      {false, true, 'A', 'Z'},
      {true, false, 'A', 'Z'},
      {true, true, 'a', 'z'},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "shift " << c.shift << " caps " << c.caps);
    EXPECT_EQ(CharFromKey('A', Mapped('A'), c.shift, c.caps), c.a);
    EXPECT_EQ(CharFromKey('Z', Mapped('Z'), c.shift, c.caps), c.z);
    for (std::uint32_t vk = 'A'; vk <= 'Z'; ++vk) {
      const char got = CharFromKey(vk, Mapped(vk), c.shift, c.caps);
      EXPECT_EQ(got, static_cast<char>(c.a + (vk - 'A')));
    }
  }
}

// The keypad digits give digits even where the platform maps them to 0
// (Wine does), and Shift turns them like the top-row digits.
TEST(PasswordKeys, KeypadDigits) {
  for (std::uint32_t i = 0; i <= 9; ++i) {
    const std::uint32_t vk = 96 + i;
    SCOPED_TRACE(vk);
    EXPECT_TRUE(IsTypedKey(vk));
    for (const std::uint32_t mapped : {0u, Mapped(vk), 0x41u}) {
      EXPECT_EQ(CharFromKey(vk, mapped, false, false), static_cast<char>('0' + i));
      EXPECT_EQ(CharFromKey(vk, mapped, true, false), kShiftedKeys[i].shifted);
    }
  }
}

// A key the layout maps to nothing types nothing: a 0 would end the PIN there.
TEST(PasswordKeys, KeyWithoutCharacterGivesNone) {
  for (const bool shift : {false, true}) {
    for (const bool caps : {false, true}) {
      EXPECT_EQ(CharFromKey(223, 0, shift, caps), 0);
      EXPECT_EQ(CharFromKey('A', 0x100, shift, caps), 0);
    }
  }
}

TEST(PasswordKeys, PassThroughAndTypedKeys) {
  // Tab, Enter, Shift, Ctrl and Alt (generic and sided), Caps Lock, Windows keys.
  for (const std::uint32_t vk : {9u, 13u, 16u, 17u, 18u, 20u, 91u, 92u, 160u, 161u, 162u, 163u,
                                 164u, 165u}) {
    EXPECT_TRUE(IsPassThroughKey(vk)) << vk;
    EXPECT_FALSE(IsTypedKey(vk)) << vk;
  }
  // Backspace, Escape, Space, arrows, Delete, F1, keypad operators: neither.
  for (const std::uint32_t vk : {8u, 27u, 32u, 37u, 38u, 39u, 40u, 46u, 112u, 106u, 107u, 111u}) {
    EXPECT_FALSE(IsPassThroughKey(vk)) << vk;
    EXPECT_FALSE(IsTypedKey(vk)) << vk;
  }
  for (const auto& row : kShiftedKeys) {
    EXPECT_TRUE(IsTypedKey(row.vk)) << row.vk;
  }
}

}  // namespace
