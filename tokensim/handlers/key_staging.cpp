#include "tokensim/handlers/key_staging.h"

namespace merro::tokensim {
namespace {

void Reset(SecretBytes& b) {
  b.Wipe();
  b.bytes().clear();
}

}  // namespace

void RsaHalfWrite::Start(std::uint16_t fileId, std::uint8_t algorithm, size_t modulusLen) {
  Clear();
  active = true;
  fid = fileId;
  alg = algorithm;
  first.bytes().assign(modulusLen, 0);
  modulus.bytes().assign(modulusLen, 0);
}

void RsaHalfWrite::Clear() {
  active = false;
  exponentSet = false;
  firstParts = {};
  modulusParts = {};
  Reset(first);
  Reset(modulus);
}

void KeyStaging::Clear() {
  rsaPublic.Clear();
  rsaPrivate.Clear();
  Reset(wrappedKeyBlock);
  Reset(wrappingKey);
  wrappingKeySet = false;
  wrappingKeyFid = 0;
  Reset(wrappedRsaPair);
  wrappedRsaBlocks = {};
  Reset(wrappedSm2Pair);
}

}  // namespace merro::tokensim
