// GENERATE RSA KEY PAIR (0x34) and GENERATE SM2 KEY PAIR (0x50): a new key
// pair into both halves of the key file the command names.
#include <algorithm>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_generation.h"
#include "tokensim/handlers/key_store.h"

namespace merro::tokensim {
namespace {

constexpr std::uint8_t kExponent[4] = {0x00, 0x01, 0x00, 0x01};  // the only one made

void GenerateInto(Token& token, std::uint16_t fid, std::uint8_t alg, Reply& reply) {
  std::uint16_t status = 0;
  TokenFile* file = keystore::FindKeyFile(token, fid, &status);
  if (file == nullptr) {
    reply.Fail(status);
    return;
  }
  const EvpPkeyPtr key = keygen::Generate(alg);
  if (!key || !keystore::StoreKeyPair(*file, key.get())) {
    reply.Fail(sw::kInternal);
  }
}

// P1 0 RSA-1024, 1 RSA-2048; data: file id (low byte first), exponent.
void GenerateRsa(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 6, reply)) {
    return;
  }
  if (cmd.p1 > 1 || cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!std::equal(cmd.data.begin() + 2, cmd.data.end(), kExponent)) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  GenerateInto(token, cmd.DataWordLE(0),
               cmd.p1 == 0 ? keystore::kAlgRsa1024 : keystore::kAlgRsa2048, reply);
}

// P1 P2: the file id.
void GenerateSm2(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectDataLen(cmd, 0, reply)) {
    GenerateInto(token, cmd.P1P2(), keystore::kAlgSm2, reply);
  }
}

}  // namespace

void RegisterKeyGenerationFamily(Dispatcher& d) {
  d.Add(0x34, &GenerateRsa, StoredState::Changes);
  d.Add(0x50, &GenerateSm2, StoredState::Changes);
}

}  // namespace merro::tokensim
