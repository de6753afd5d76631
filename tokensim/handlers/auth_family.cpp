// EXTERNAL AUTHENTICATE (0x82) and SET SESSION KEY (0x91), and the secure
// channel of class 0xB4 frames.
//
// EXTERNAL AUTHENTICATE: P1 0 proves key object 0x33, P1 1 key object 0x34.
// The 16 data bytes must be the last challenge (8 bytes, used up by the
// command) encrypted with two-key triple DES (CBC, zero IV, PKCS#7 padding)
// under the key. A wrong cryptogram costs one of the key's tries (63Cx); a
// key out of tries answers 6983.
//
// SET SESSION KEY: the 113 data bytes are a 16-byte transport key
// SM2-encrypted (04 || x1 || y1 || C2 || C3) under the temporary key pair of
// key file 0x0012. The token draws a fresh 16-byte session key and answers
// it SM4-CBC-encrypted under the transport key (zero IV, PKCS#7: 32 bytes).
// It needs the host's external authentication; a failure keeps the session
// key in force.
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/auth_crypto.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_store.h"
#include "tokensim/handlers/pin_file.h"
#include "tokensim/handlers/secure_channel.h"
#include "tokensim/handlers/security_state.h"
#include "tokensim/handlers/sm2_raw_cipher.h"

namespace merro::tokensim {
namespace {

using keyobjects::KeyObject;

constexpr size_t kAuthChallengeLen = 8;
constexpr size_t kCryptogramLen = 16;
constexpr size_t kWrappedTransportKeyLen = 113;
constexpr size_t kTransportKeyLen = 16;
constexpr size_t kWrappedSessionKeyLen = 32;
constexpr std::uint16_t kTempKeyFid = 0x0012;

void ExternalAuthenticate(Token& token, const Command& cmd, Reply& reply) {
  Bytes challenge;
  const bool haveChallenge = TakeChallenge(token, kAuthChallengeLen, &challenge);
  if (cmd.p1 > 1 || cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!ExpectDataLen(cmd, kCryptogramLen, reply)) {
    return;
  }
  if (!haveChallenge) {
    reply.Fail(sw::kConditionsNotSatisfied);
    return;
  }
  const std::uint8_t keyId = cmd.p1 == 0 ? kExternKeyObject : kExternCfgKeyObject;
  KeyObject key;
  std::uint16_t status = sw::kOk;
  if (!LoadKeyObject(token, keyId, &key, &status)) {
    reply.Fail(status);
    return;
  }
  if (key.triesLeft == 0) {
    reply.Fail(sw::kAuthBlocked);
    return;
  }
  SecretBytes expected;
  if (!CbcEncrypt(EVP_des_ede_cbc(), key.value.data(), challenge.data(), challenge.size(), &expected) ||
      expected.size() != kCryptogramLen) {
    reply.Fail(sw::kInternal);
    return;
  }
  if (CRYPTO_memcmp(expected.data(), cmd.data.data(), kCryptogramLen) != 0) {
    reply.Fail(CountFailure(token, key));
    return;
  }
  if (key.triesLeft != key.retryLimit) {
    key.triesLeft = key.retryLimit;
    SaveKeyObject(token, key);
  }
  token.Ext<SecurityState>().authenticated.insert(keyId);
}

void SetSessionKey(Token& token, const Command& cmd, Reply& reply) {
  if (cmd.p1 != 0 || cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!ExpectDataLen(cmd, kWrappedTransportKeyLen, reply) ||
      !ExpectLe(cmd, kMaxReplyData, reply)) {
    return;
  }
  if (cmd.le < kWrappedSessionKeyLen) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  SecurityState& state = token.Ext<SecurityState>();
  if (state.authenticated.empty()) {
    reply.Fail(sw::kSecurityNotSatisfied);
    return;
  }
  std::uint16_t status = sw::kOk;
  const TokenFile* file = keystore::FindKeyFile(token, kTempKeyFid, &status);
  std::uint8_t alg = keystore::kAlgSm2;
  const EvpPkeyPtr key = file != nullptr ? keystore::PrivateKey(*file, &alg) : nullptr;
  if (!key) {
    reply.Fail(file == nullptr ? status : sw::kKeyNotFound);
    return;
  }
  SecretBytes transportKey;
  if (!Sm2DecryptRaw(key.get(), cmd.data.data(), cmd.data.size(), &transportKey) ||
      transportKey.size() != kTransportKeyLen) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  SecretBytes sessionKey(kSessionKeyLen);
  SecretBytes wrapped;
  if (RAND_priv_bytes(sessionKey.data(), static_cast<int>(sessionKey.size())) != 1 ||
      !CbcEncrypt(EVP_sm4_cbc(), transportKey.data(), sessionKey.data(), sessionKey.size(), &wrapped) ||
      wrapped.size() != kWrappedSessionKeyLen) {
    reply.Fail(sw::kInternal);
    return;
  }
  state.SetSessionKey(sessionKey.data());
  reply.data = wrapped.bytes();
}

}  // namespace

void RegisterAuthFamily(Dispatcher& d) {
  d.Add(0x82, &ExternalAuthenticate);
  d.Add(0x91, &SetSessionKey);
  d.SetSecureChannel(&SessionKeyChannel());
}

}  // namespace merro::tokensim
