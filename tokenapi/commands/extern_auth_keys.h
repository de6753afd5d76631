// Key ids of the token's external authentication and the configuration
// external-authentication key of this build.
//
// The configuration key (key id 0x34) is a 16-byte two-key triple-DES key,
// the same for every token. Token initialisation writes it into the token,
// the host derives the per-token key (key id 0x33) from it and the chip
// serial number, and the token simulator provisions its tokens with it. This
// header is the one place the value is defined: host and simulator both
// include it (it needs nothing but <cstdint>).
#pragma once

#include <cstdint>

// Per-token external-authentication key, derived from the chip serial number.
constexpr std::uint8_t MR_KEY_EXTERN = 0x33;
// Configuration external-authentication key (MR_EXTERN_CFG_KEY below).
constexpr std::uint8_t MR_KEY_EXTERN_CFG = 0x34;

constexpr unsigned MR_EXTERN_KEY_LEN = 16;

constexpr std::uint8_t MR_EXTERN_CFG_KEY[MR_EXTERN_KEY_LEN] = {
    0x4D, 0x52, 0x2D, 0x43, 0x46, 0x47, 0x2D, 0x31,  // key 1 of the two-key triple DES
    0x7A, 0x91, 0xC4, 0x3E, 0x58, 0x0B, 0xE6, 0x2F,  // key 2
};
