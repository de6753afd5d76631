// The rules a new user PIN must meet in the manager's PIN change dialog:
// length, confirmation, difference from the old PIN and from the factory
// default, and the strength patterns. Portable, so that the rule order is
// checked without a window.
#pragma once

#include <cstddef>
#include <string_view>

namespace merro::certmanager {

constexpr std::size_t MIN_PIN_CHARS = 6;
constexpr std::size_t MAX_PIN_CHARS = 16;
// The user and administrator PIN a token leaves the factory with.
constexpr std::string_view kFactoryDefaultPIN = "47193628";

// Whether the PIN meets the three strength patterns: after its first
// character only letters and digits; at least one letter and one digit; no
// letter or digit six times in a row.
bool IsStrongPIN(std::string_view pin);

// The string id of the first rule the typed PINs break, in the order the
// dialog checks them (old length, new length, confirmation, same as old,
// factory default, strength), or 0 when all pass.
unsigned CheckNewPIN(std::string_view oldPIN, std::string_view newPIN,
                     std::string_view confirmPIN);

}  // namespace merro::certmanager
