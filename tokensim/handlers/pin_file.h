// The PIN and external-authentication key objects of the PIN file (0x0000),
// as the PIN and authentication families read and update them.
#pragma once

#include <cstdint>

#include "tokensim/core/token.h"
#include "tokensim/handlers/key_objects.h"

namespace merro::tokensim {

// Key object types.
constexpr std::uint8_t kUserPinObject = 0x30;
constexpr std::uint8_t kAdminPinObject = 0x31;
constexpr std::uint8_t kUnlockPinObject = 0x32;
constexpr std::uint8_t kExternKeyObject = 0x33;
constexpr std::uint8_t kExternCfgKeyObject = 0x34;

// The object of this type in the PIN file; false (and *pSw = 6A88) when
// there is no PIN file or no such object.
inline bool LoadKeyObject(Token& token, std::uint8_t type, keyobjects::KeyObject* pObject,
                          std::uint16_t* pSw) {
  const TokenFile* file = token.Files().Find(keyobjects::kPinFileId);
  if (file == nullptr || !keyobjects::Find(*file, type, pObject)) {
    *pSw = sw::kKeyNotFound;
    return false;
  }
  return true;
}

// Writes the object back (tries, value, flags) and marks the token for
// saving: a failed proof changes the stored tries too.
inline void SaveKeyObject(Token& token, const keyobjects::KeyObject& object) {
  TokenFile* file = token.Files().Find(keyobjects::kPinFileId);
  if (file != nullptr && keyobjects::Store(*file, object)) {
    token.MarkDirty();
  }
}

// Counts a failed proof: one try less, 63Cx with the tries left.
inline std::uint16_t CountFailure(Token& token, keyobjects::KeyObject& object) {
  if (object.triesLeft > 0) {
    --object.triesLeft;
  }
  SaveKeyObject(token, object);
  return static_cast<std::uint16_t>(sw::kWrongPin | (object.triesLeft & 0x0F));
}

}  // namespace merro::tokensim
