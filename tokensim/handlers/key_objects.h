// The secret-key objects of the simulated token: PINs (stored as their MD5
// digest) and external-authentication keys, written by WRITE KEY into the
// selected file (initialisation writes them all into the PIN file 0x0000).
// Each object is a 24-byte entry of that file's content (layout in
// tokensim/README.md, "Key objects"); the PIN and authentication families
// find them and keep the tries left in them.
#pragma once

#include <array>
#include <cstdint>

#include "tokensim/core/file_system.h"

namespace merro::tokensim::keyobjects {

constexpr std::uint16_t kPinFileId = 0x0000;
constexpr size_t kEntryLen = 24;
constexpr size_t kValueLen = 16;
constexpr size_t kRecordLen = 21;  // WRITE KEY data

// Flag bits of an entry.
constexpr std::uint8_t kFlagModified = 0x01;  // changed since it was written

struct KeyObject {
  ~KeyObject();
  std::uint8_t type = 0;  // 0x30 user PIN ... 0x34 configuration key
  std::uint8_t usage = 0;
  std::uint8_t attribute = 0;  // 0x11 for the user PIN
  std::uint8_t retryLimit = 0;
  std::uint8_t triesLeft = 0;  // the retry limit when written
  std::uint8_t flags = 0;
  std::array<std::uint8_t, kValueLen> value{};
};

// The object of this type in the file; false when there is none.
bool Find(const TokenFile& file, std::uint8_t type, KeyObject* pObject);

// Replaces the object of the same type, or takes the first free entry.
// False when the file has no room left.
bool Store(TokenFile& file, const KeyObject& object);

// The object that a WRITE KEY record describes (type, 0x00, usage,
// attribute, retry limit, 16-byte value): tries left = the limit, no flags.
KeyObject FromRecord(const std::uint8_t* record);

}  // namespace merro::tokensim::keyobjects
