// The status words the simulated token answers with: the one list.
// tokensim/README.md explains each choice.
#pragma once

#include <cstdint>

namespace merro::tokensim::sw {

constexpr std::uint16_t kOk = 0x9000;
constexpr std::uint16_t kWrongLength = 0x6700;          // Lc/Le/frame length wrong
constexpr std::uint16_t kSecurityNotSatisfied = 0x6982; // class 0xB4 without secure messaging
constexpr std::uint16_t kConditionsNotSatisfied = 0x6985;  // data-in without a command
constexpr std::uint16_t kNoCurrentFile = 0x6986;        // read/write with no file selected
constexpr std::uint16_t kIncorrectData = 0x6A80;        // malformed command data
constexpr std::uint16_t kFileNotFound = 0x6A82;
constexpr std::uint16_t kNotEnoughMemory = 0x6A84;      // file system full
constexpr std::uint16_t kIncorrectP1P2 = 0x6A86;
constexpr std::uint16_t kFileExists = 0x6A89;
constexpr std::uint16_t kOffsetBeyondFile = 0x6B00;     // offset/page/unit past the end
constexpr std::uint16_t kInsUnknown = 0x6D00;
constexpr std::uint16_t kClassUnknown = 0x6E00;
constexpr std::uint16_t kInternal = 0x6F00;             // a reply that cannot be carried
constexpr std::uint16_t kWrongPin = 0x63C0;             // | tries left; 63C0: blocked
constexpr std::uint16_t kAuthBlocked = 0x6983;          // authentication key out of tries
constexpr std::uint16_t kSmDataWrong = 0x6988;          // protected data do not decrypt
constexpr std::uint16_t kKeyNotFound = 0x6A88;          // no such PIN or key object
constexpr std::uint16_t kUserCancelled = 0xFF06;        // C pressed on the display
constexpr std::uint16_t kConfirmTimeout = 0xFF07;       // no button pressed in time

}  // namespace merro::tokensim::sw
