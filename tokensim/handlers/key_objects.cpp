#include "tokensim/handlers/key_objects.h"

#include <openssl/crypto.h>

#include <algorithm>

namespace merro::tokensim::keyobjects {
namespace {

// Entry: [0] type (0xFF free), [1] 0x00, [2] usage, [3] attribute,
// [4] retry limit, [5, 21) value, [21] tries left, [22] flags, [23] 0xFF.
constexpr std::uint8_t kFree = 0xFF;
constexpr size_t kValueAt = 5;
constexpr size_t kTriesAt = 21;
constexpr size_t kFlagsAt = 22;

size_t EntryCount(const TokenFile& file) { return file.content.size() / kEntryLen; }

}  // namespace

KeyObject::~KeyObject() { OPENSSL_cleanse(value.data(), value.size()); }

bool Find(const TokenFile& file, std::uint8_t type, KeyObject* pObject) {
  if (type == kFree) {
    return false;
  }
  for (size_t i = 0; i < EntryCount(file); ++i) {
    const std::uint8_t* e = file.content.data() + i * kEntryLen;
    if (e[0] != type) {
      continue;
    }
    pObject->type = e[0];
    pObject->usage = e[2];
    pObject->attribute = e[3];
    pObject->retryLimit = e[4];
    std::copy(e + kValueAt, e + kValueAt + kValueLen, pObject->value.begin());
    pObject->triesLeft = e[kTriesAt];
    pObject->flags = e[kFlagsAt];
    return true;
  }
  return false;
}

bool Store(TokenFile& file, const KeyObject& object) {
  if (object.type == kFree) {
    return false;
  }
  std::uint8_t* slot = nullptr;
  for (size_t i = 0; i < EntryCount(file); ++i) {
    std::uint8_t* e = file.content.data() + i * kEntryLen;
    if (e[0] == object.type) {
      slot = e;
      break;
    }
    if (e[0] == kFree && slot == nullptr) {
      slot = e;
    }
  }
  if (slot == nullptr) {
    return false;
  }
  OPENSSL_cleanse(slot, kEntryLen);
  slot[0] = object.type;
  slot[1] = 0x00;
  slot[2] = object.usage;
  slot[3] = object.attribute;
  slot[4] = object.retryLimit;
  std::copy(object.value.begin(), object.value.end(), slot + kValueAt);
  slot[kTriesAt] = object.triesLeft;
  slot[kFlagsAt] = object.flags;
  slot[23] = kFree;
  return true;
}

KeyObject FromRecord(const std::uint8_t* record) {
  KeyObject object;
  object.type = record[0];
  object.usage = record[2];
  object.attribute = record[3];
  object.retryLimit = record[4];
  object.triesLeft = record[4];
  std::copy(record + kValueAt, record + kValueAt + kValueLen, object.value.begin());
  return object;
}

}  // namespace merro::tokensim::keyobjects
