#include "tokensim/handlers/signing_state.h"

#include "tokensim/handlers/key_store.h"

namespace merro::tokensim {
namespace {

template <class Half>
EvpPkeyPtr KeyOf(Token& token, std::uint16_t fid, std::uint8_t alg, Reply& reply, Half half) {
  std::uint16_t status = sw::kOk;
  const TokenFile* file = keystore::FindKeyFile(token, fid, &status);
  if (file == nullptr) {
    reply.Fail(status);
    return nullptr;
  }
  std::uint8_t found = alg;
  EvpPkeyPtr key = half(*file, &found);
  if (!key) {
    reply.Fail(sw::kConditionsNotSatisfied);
  }
  return key;
}

}  // namespace

EvpPkeyPtr PrivateKeyOf(Token& token, std::uint16_t fid, std::uint8_t alg, Reply& reply) {
  return KeyOf(token, fid, alg, reply, keystore::PrivateKey);
}

EvpPkeyPtr PublicKeyOf(Token& token, std::uint16_t fid, std::uint8_t alg, Reply& reply) {
  return KeyOf(token, fid, alg, reply, keystore::PublicKey);
}

bool ReplySm2Signature(Token& token, std::uint16_t fid, const std::uint8_t* e, Reply& reply) {
  const EvpPkeyPtr key = PrivateKeyOf(token, fid, keystore::kAlgSm2, reply);
  if (!key) {
    return false;
  }
  std::uint8_t sig[signing::kSm2SignatureLen];
  if (!signing::Sm2SignDigest(key.get(), e, sig)) {
    reply.Fail(sw::kInternal);
    return false;
  }
  reply.data.assign(sig, sig + sizeof sig);
  return true;
}

}  // namespace merro::tokensim
