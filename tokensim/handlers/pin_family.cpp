// VERIFY PIN (0x20), CHANGE PIN (0x21), UNLOCK PIN (0x22) and PIN STATUS
// (0x25); P2 is the PIN type (1 user, 2 administrator).
//
// A PIN is proved with MD5(stored MD5(PIN) || challenge), the challenge being
// the last GET CHALLENGE answer (16 bytes, used up by the command). A wrong
// proof costs one try (63Cx, x the tries left; 63C0 blocked), a right one
// restores them all. With 3 or fewer tries left VERIFY and CHANGE wait
// within the exchange for the token's OK button (C: FF06, no answer: FF07).
// The commands need the host's external authentication.
#include <openssl/crypto.h>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/auth_crypto.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/pin_file.h"
#include "tokensim/handlers/security_state.h"

namespace merro::tokensim {
namespace {

using keyobjects::KeyObject;

constexpr size_t kProofLen = 16;
constexpr std::uint8_t kButtonTries = 3;
constexpr std::uint8_t kPinUser = 1;
constexpr std::uint8_t kPinAdmin = 2;

// The key object of a PIN type, and the one that proves an unlock of it.
std::uint8_t PinObject(std::uint8_t pinType) {
  return pinType == kPinUser ? kUserPinObject : pinType == kPinAdmin ? kAdminPinObject : 0;
}
std::uint8_t UnlockingObject(std::uint8_t pinType) {
  return pinType == kPinUser ? kAdminPinObject : pinType == kPinAdmin ? kUnlockPinObject : 0;
}

// What every PIN command checks first: external authentication, the data
// length, and a challenge of 16 bytes (used up here, whatever follows).
bool Prepare(Token& token, const Command& cmd, size_t dataLen, Bytes* pChallenge, Reply& reply) {
  const bool haveChallenge = TakeChallenge(token, kProofLen, pChallenge);
  if (token.Ext<SecurityState>().authenticated.empty()) {
    reply.Fail(sw::kSecurityNotSatisfied);
    return false;
  }
  if (cmd.p1 != 0x00) {
    reply.Fail(sw::kIncorrectP1P2);
    return false;
  }
  if (!ExpectDataLen(cmd, dataLen, reply)) {
    return false;
  }
  if (!haveChallenge) {
    reply.Fail(sw::kConditionsNotSatisfied);
    return false;
  }
  return true;
}

// The user's answer on the display: 9000 for OK. The command waits for it:
// the host gets no reply until the user answered (a held confirmation).
std::uint16_t AwaitButton(Token& token, const char* text) {
  Display& screen = token.Screen();
  screen.BeginConfirmation(text);
  for (;;) {
    switch (screen.Poll()) {
      case Display::Answer::Pending:
        screen.WaitForUser();
        continue;
      case Display::Answer::Ok:
        return sw::kOk;
      case Display::Answer::Timeout:
        return sw::kConfirmTimeout;
      default:
        return sw::kUserCancelled;
    }
  }
}

// Checks the proof in data[0, 16) against the object; counts the failure or
// restores the tries. With askText set, the button is asked for first when
// few tries are left.
bool CheckProof(Token& token, KeyObject& object, const Command& cmd, const Bytes& challenge,
                const char* askText, Reply& reply) {
  if (object.triesLeft == 0) {
    reply.Fail(sw::kWrongPin);
    return false;
  }
  if (askText != nullptr && object.triesLeft <= kButtonTries) {
    const std::uint16_t answer = AwaitButton(token, askText);
    if (answer != sw::kOk) {
      reply.Fail(answer);
      return false;
    }
  }
  std::uint8_t expected[kMd5Len];
  const bool computed = Md5Pair(object.value.data(), object.value.size(), challenge.data(),
                                challenge.size(), expected);
  const bool match = computed && CRYPTO_memcmp(expected, cmd.data.data(), kProofLen) == 0;
  OPENSSL_cleanse(expected, sizeof expected);
  if (!computed) {
    reply.Fail(sw::kInternal);
    return false;
  }
  if (!match) {
    reply.Fail(CountFailure(token, object));
    return false;
  }
  if (object.triesLeft != object.retryLimit) {
    object.triesLeft = object.retryLimit;
    SaveKeyObject(token, object);
  }
  return true;
}

// The new PIN digest in data[16, 32): stored with full tries, marked changed.
void SetNewPin(Token& token, KeyObject& object, const Command& cmd) {
  std::copy(cmd.data.begin() + kProofLen, cmd.data.begin() + 2 * kProofLen, object.value.begin());
  object.triesLeft = object.retryLimit;
  object.flags |= keyobjects::kFlagModified;
  SaveKeyObject(token, object);
}

void VerifyPin(Token& token, const Command& cmd, Reply& reply) {
  Bytes challenge;
  KeyObject pin;
  std::uint16_t status = sw::kOk;
  if (!Prepare(token, cmd, kProofLen, &challenge, reply)) {
    return;
  }
  SecurityState& state = token.Ext<SecurityState>();
  state.verifiedPins.erase(cmd.p2);
  if (!LoadKeyObject(token, PinObject(cmd.p2), &pin, &status)) {
    reply.Fail(status);
    return;
  }
  if (CheckProof(token, pin, cmd, challenge, "VERIFY PIN", reply)) {
    state.verifiedPins.insert(cmd.p2);
  }
}

void ChangePin(Token& token, const Command& cmd, Reply& reply) {
  Bytes challenge;
  KeyObject pin;
  std::uint16_t status = sw::kOk;
  if (!Prepare(token, cmd, 2 * kProofLen, &challenge, reply)) {
    return;
  }
  if (!LoadKeyObject(token, PinObject(cmd.p2), &pin, &status)) {
    reply.Fail(status);
    return;
  }
  if (CheckProof(token, pin, cmd, challenge, "CHANGE PIN", reply)) {
    SetNewPin(token, pin, cmd);
    token.Ext<SecurityState>().verifiedPins.insert(cmd.p2);
  }
}

void UnlockPin(Token& token, const Command& cmd, Reply& reply) {
  Bytes challenge;
  KeyObject prover, pin;
  std::uint16_t status = sw::kOk;
  if (!Prepare(token, cmd, 2 * kProofLen, &challenge, reply)) {
    return;
  }
  if (!LoadKeyObject(token, PinObject(cmd.p2), &pin, &status) ||
      !LoadKeyObject(token, UnlockingObject(cmd.p2), &prover, &status)) {
    reply.Fail(status);
    return;
  }
  if (CheckProof(token, prover, cmd, challenge, nullptr, reply)) {
    SetNewPin(token, pin, cmd);
    token.Ext<SecurityState>().verifiedPins.erase(cmd.p2);
  }
}

// P1 0: tries left and state (the object's attribute byte while the PIN
// stands verified, else 0). P1 1: 1 once the PIN was changed, else 0.
void PinStatus(Token& token, const Command& cmd, Reply& reply) {
  KeyObject pin;
  std::uint16_t status = sw::kOk;
  if (!ExpectDataLen(cmd, 0, reply)) {
    return;
  }
  if (token.Ext<SecurityState>().authenticated.empty()) {
    reply.Fail(sw::kSecurityNotSatisfied);
    return;
  }
  if (cmd.p1 > 1) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!ExpectLe(cmd, kMaxReplyData, reply) || cmd.le < (cmd.p1 == 0 ? 2 : 1)) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  if (!LoadKeyObject(token, PinObject(cmd.p2), &pin, &status)) {
    reply.Fail(status);
    return;
  }
  if (cmd.p1 == 0) {
    const bool verified = token.Ext<SecurityState>().verifiedPins.count(cmd.p2) != 0;
    reply.data = {pin.triesLeft, static_cast<std::uint8_t>(verified ? pin.attribute : 0x00)};
  } else {
    reply.data = {static_cast<std::uint8_t>((pin.flags & keyobjects::kFlagModified) ? 1 : 0)};
  }
}

}  // namespace

void RegisterPinFamily(Dispatcher& d) {
  d.Add(0x20, &VerifyPin);
  d.Add(0x21, &ChangePin, StoredState::Changes);
  d.Add(0x22, &UnlockPin, StoredState::Changes);
  d.Add(0x25, &PinStatus);
}

}  // namespace merro::tokensim
