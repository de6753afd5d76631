// The key rules of the password field, apart from the platform: which keys
// pass on to the windows, which are typed, and the character a typed key
// gives. Portable, so the table test runs in both trees.
#pragma once

#include <cstdint>

namespace merro::ui {

// Shift, Caps Lock, Enter, Tab, Ctrl, Alt and the Windows keys reach the
// windows as usual (Tab moves the focus, Enter presses the default button).
// The generic Ctrl (17) and Alt (18) are among them: an injected Ctrl
// arrives as 17, and only a key that passes on updates the key state that
// tells a Ctrl combination apart.
bool IsPassThroughKey(std::uint32_t vk);

// Digits, letters, the punctuation keys and the numeric-keypad digits.
bool IsTypedKey(std::uint32_t vk);

// The character byte of typed key `vk`. `mapped` is the layout's unshifted
// character of the key (MapVirtualKeyW with MAPVK_VK_TO_CHAR); the keypad
// digits give '0'-'9' whatever it says (some platforms map them to 0).
// With Shift the US shifted forms of digits and punctuation apply whatever
// the layout; Caps Lock and Shift decide a letter's case. 0 means the key
// gives no character and must be dropped: a 0 inside the PIN would cut it.
char CharFromKey(std::uint32_t vk, std::uint32_t mapped, bool shift, bool caps);

}  // namespace merro::ui
