#include "tokensim/handlers/provisioning.h"

#include <openssl/crypto.h>

#include <cstdlib>

#include "tokenapi/commands/extern_auth_keys.h"
#include "tokensim/handlers/auth_crypto.h"
#include "tokensim/handlers/key_generation.h"
#include "tokensim/handlers/key_store.h"
#include "tokensim/handlers/pin_file.h"

namespace merro::tokensim {
namespace {

constexpr std::uint16_t kTempKeyFid = 0x0012;
constexpr size_t kPinMax = 15;
constexpr std::uint8_t kMaxRetry = 15;

// File descriptions as initialisation writes them: id and size low byte
// first, 0x20, then the condition bytes at 8 to 12.
FileDescription Description(std::uint16_t id, std::uint16_t size, std::array<std::uint8_t, 5> conditions) {
  FileDescription d{};
  d[0] = static_cast<std::uint8_t>(id);
  d[1] = static_cast<std::uint8_t>(id >> 8);
  d[2] = static_cast<std::uint8_t>(size);
  d[3] = static_cast<std::uint8_t>(size >> 8);
  d[4] = 0x20;
  std::copy(conditions.begin(), conditions.end(), d.begin() + 8);
  return d;
}

TokenFile* EnsureFile(Token& token, const FileDescription& description, std::string* pError) {
  const std::uint16_t id = static_cast<std::uint16_t>(description[0] | (description[1] << 8));
  if (token.Files().Find(id) == nullptr && token.Files().Create(description) != sw::kOk) {
    *pError = "cannot create file " + std::to_string(id);
    return nullptr;
  }
  token.Files().Deselect();
  return token.Files().Find(id);
}

bool WriteObject(TokenFile& pinFile, std::uint8_t type, std::uint8_t usage, std::uint8_t attribute,
                 std::uint8_t retry, const std::uint8_t* value) {
  keyobjects::KeyObject object;
  object.type = type;
  object.usage = usage;
  object.attribute = attribute;
  object.retryLimit = retry;
  object.triesLeft = retry;
  std::copy(value, value + keyobjects::kValueLen, object.value.begin());
  return keyobjects::Store(pinFile, object);
}

bool WritePin(TokenFile& pinFile, std::uint8_t type, std::uint8_t attribute, const std::string& pin,
              std::uint8_t retry) {
  std::uint8_t digest[kMd5Len];
  const bool ok = Md5(reinterpret_cast<const std::uint8_t*>(pin.data()), pin.size(), digest) &&
                  WriteObject(pinFile, type, 0xFF, attribute, retry, digest);
  OPENSSL_cleanse(digest, sizeof digest);
  return ok;
}

}  // namespace

bool ProvisionToken(Token& token, const Provisioning& what, std::string* pError) {
  if (what.pinRetry == 0 || what.pinRetry > kMaxRetry) {
    *pError = "retry must lie in 1 to 15";
    return false;
  }
  for (const std::string* pin : {&what.userPin, &what.adminPin, &what.unlockPin}) {
    if (pin->size() > kPinMax) {
      *pError = "a PIN has at most 15 characters";
      return false;
    }
  }
  TokenFile* pinFile = EnsureFile(token, Description(keyobjects::kPinFileId, 1024, {0xFF, 0xFF, 0x11, 0x11, 0x01}), pError);
  TokenFile* keyFile = pinFile != nullptr
                           ? EnsureFile(token, Description(kTempKeyFid, 1024, {0xFF, 0x01, 0x01, 0x01, 0x11}), pError)
                           : nullptr;
  if (keyFile == nullptr) {
    return false;
  }
  std::uint8_t externKey[kAuthKeyLen];
  const bool keysOk = DeriveExternKey(token.ChipSn(), externKey) &&
                      WriteObject(*pinFile, kExternCfgKeyObject, 0x01, 0x20, kDefaultRetry, MR_EXTERN_CFG_KEY) &&
                      WriteObject(*pinFile, kExternKeyObject, 0x01, 0x01, kDefaultRetry, externKey);
  OPENSSL_cleanse(externKey, sizeof externKey);
  if (!keysOk || !WritePin(*pinFile, kUserPinObject, 0x11, what.userPin, what.pinRetry) ||
      !WritePin(*pinFile, kAdminPinObject, 0x10, what.adminPin, what.pinRetry) ||
      !WritePin(*pinFile, kUnlockPinObject, 0x10, what.unlockPin, what.pinRetry)) {
    *pError = "cannot write the key objects of the PIN file";
    return false;
  }
  const EvpPkeyPtr tempKey = keygen::Generate(keystore::kAlgSm2);
  if (!tempKey || !keystore::StoreKeyPair(*keyFile, tempKey.get())) {
    *pError = "cannot make the temporary SM2 key pair";
    return false;
  }
  token.ResetSecurityState();
  token.MarkDirty();
  return true;
}

bool ProvisionCommand(Token& token, const std::vector<std::string>& words, std::string* pAnswer) {
  Provisioning what;
  for (size_t at = 2; at < words.size(); at += 2) {
    if (at + 1 >= words.size()) {
      *pAnswer = "error: " + words[at] + " wants a value";
      return false;
    }
    const std::string& option = words[at];
    const std::string& value = words[at + 1];
    if (option == "user") {
      what.userPin = value;
    } else if (option == "admin") {
      what.adminPin = value;
    } else if (option == "unlock") {
      what.unlockPin = value;
    } else if (option == "retry" && value.size() <= 2 &&
               value.find_first_not_of("0123456789") == std::string::npos) {
      what.pinRetry = static_cast<std::uint8_t>(std::atoi(value.c_str()));
    } else {
      *pAnswer = "error: provision takes user|admin|unlock PIN and retry N";
      return false;
    }
  }
  std::string error;
  if (!ProvisionToken(token, what, &error)) {
    *pAnswer = "error: " + error;
    return false;
  }
  *pAnswer = "ok";
  return true;
}

}  // namespace merro::tokensim
