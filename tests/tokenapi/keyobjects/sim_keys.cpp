#include "tests/tokenapi/keyobjects/sim_keys.h"

#include "tokensim/handlers/key_generation.h"
#include "tokensim/handlers/key_store.h"

namespace merro::testing {

PkeyPtr PlaceKey(merro::tokensim::Simulator& sim, size_t i, WORD fid, BYTE alg) {
  merro::tokensim::keygen::UseKeyCache(true);
  merro::tokensim::EvpPkeyPtr key = merro::tokensim::keygen::Generate(alg);
  if (!key) {
    return nullptr;
  }
  bool stored = false;
  sim.WithToken(i, [&](merro::tokensim::Token& token) {
    if (token.Files().Find(fid) == nullptr) {
      merro::tokensim::FileDescription d{};
      d[0] = static_cast<std::uint8_t>(fid);
      d[1] = static_cast<std::uint8_t>(fid >> 8);
      d[2] = 0x00;
      d[3] = 0x04;  // 1024 bytes
      d[4] = 0x20;
      token.Files().Create(d);
      token.Files().Deselect();
    }
    merro::tokensim::TokenFile* file = token.Files().Find(fid);
    stored = file != nullptr && merro::tokensim::keystore::StoreKeyPair(*file, key.get());
  });
  return stored ? PkeyPtr(key.release()) : nullptr;
}

}  // namespace merro::testing
