// The PIN types and PIN status byte of the PIN commands and the limit of the
// random-number command: values the public token API's callers pass and
// read as they stand.
#pragma once

#include "foundation/platform.h"

// PIN types (P2 of the PIN commands). Any other byte is passed through.
constexpr BYTE MR_PIN_USER = 1;
constexpr BYTE MR_PIN_ADMIN = 2;

// PIN status byte of a user PIN that stands verified.
constexpr BYTE MR_PIN_STATE_USER_VERIFIED = 0x11;

// The most random bytes one GET CHALLENGE returns.
constexpr BYTE MR_RANDOM_MAX = 128;
