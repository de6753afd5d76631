#include "device/ui/password_keys.h"

#include <array>
#include <utility>

namespace merro::ui {

namespace {

constexpr std::uint32_t kNumpad0 = 96;
constexpr std::uint32_t kNumpad9 = 105;

// The shifted forms, fixed to the US layout.
constexpr std::array<std::pair<char, char>, 21> kShifted = {{
    {'\'', '"'}, {',', '<'}, {'-', '_'}, {'.', '>'}, {'/', '?'}, {'0', ')'}, {'1', '!'},
    {'2', '@'},  {'3', '#'}, {'4', '$'}, {'5', '%'}, {'6', '^'}, {'7', '&'}, {'8', '*'},
    {'9', '('},  {';', ':'}, {'=', '+'}, {'[', '{'}, {'\\', '|'}, {']', '}'}, {'`', '~'},
}};

bool IsUpperLetter(char c) { return c >= 'A' && c <= 'Z'; }

}  // namespace

bool IsPassThroughKey(std::uint32_t vk) {
  switch (vk) {
    case 9:    // Tab
    case 13:   // Enter
    case 16:   // Shift
    case 17:   // Ctrl
    case 18:   // Alt
    case 20:   // Caps Lock
    case 91:   // left Windows key
    case 92:   // right Windows key
    case 160:  // left and right Shift
    case 161:
    case 162:  // left and right Ctrl
    case 163:
    case 164:  // left and right Alt
    case 165:
      return true;
    default:
      return false;
  }
}

bool IsTypedKey(std::uint32_t vk) {
  return (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z') || (vk >= 186 && vk <= 192) ||
         (vk >= 219 && vk <= 223) || (vk >= kNumpad0 && vk <= kNumpad9);
}

char CharFromKey(std::uint32_t vk, std::uint32_t mapped, bool shift, bool caps) {
  const char c = (vk >= kNumpad0 && vk <= kNumpad9) ? static_cast<char>('0' + (vk - kNumpad0))
                                                    : static_cast<char>(mapped & 0xFF);
  if (c == 0) {
    return 0;
  }
  if (shift) {
    for (const auto& [plain, shifted] : kShifted) {
      if (c == plain) {
        return shifted;
      }
    }
    return caps ? static_cast<char>(c | 0x20) : c;
  }
  return (IsUpperLetter(c) && !caps) ? static_cast<char>(c | 0x20) : c;
}

}  // namespace merro::ui
