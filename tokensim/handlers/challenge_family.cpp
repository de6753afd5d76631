// GET CHALLENGE: Le random bytes, kept as the token's current challenge for
// the authentication commands.
#include <openssl/rand.h>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"

namespace merro::tokensim {
namespace {

constexpr size_t kMaxChallenge = 128;

void GetChallenge(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 0, reply) || !ExpectLe(cmd, kMaxChallenge, reply)) {
    return;
  }
  Bytes challenge(cmd.le);
  if (RAND_bytes(challenge.data(), static_cast<int>(challenge.size())) != 1) {
    reply.Fail(sw::kInternal);
    return;
  }
  token.Challenge() = challenge;
  reply.data = std::move(challenge);
}

}  // namespace

void RegisterChallengeFamily(Dispatcher& d) { d.Add(0x84, &GetChallenge); }

}  // namespace merro::tokensim
