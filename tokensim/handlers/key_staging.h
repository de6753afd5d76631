// What the multi-frame key commands keep between their frames: an RSA key
// half written in parts (WRITE RSA PUBLIC / PRIVATE KEY), the wrapping key
// and the blocks of a wrapped import. Held only while the token is powered:
// a reset (GET DEVICE INFO with P1 = 1, power-up) forgets it.
#pragma once

#include <array>
#include <cstdint>

#include "tokensim/core/token.h"
#include "tokensim/handlers/evp_util.h"

namespace merro::tokensim {

// An RSA half under construction: header (file, size), then its parts.
struct RsaHalfWrite {
  bool active = false;
  std::uint16_t fid = 0;
  std::uint8_t alg = 0;
  SecretBytes first;    // public: e; private: d
  SecretBytes modulus;  // n
  std::array<bool, 2> firstParts{};
  std::array<bool, 2> modulusParts{};
  bool exponentSet = false;

  void Start(std::uint16_t fileId, std::uint8_t algorithm, size_t modulusLen);
  void Clear();
};

struct KeyStaging : TokenExtension {
  static constexpr const char* kName = "key-staging";
  void ResetSecurityState() override { Clear(); }
  void Erase() override { Clear(); }
  void Clear();

  RsaHalfWrite rsaPublic;
  RsaHalfWrite rsaPrivate;
  // IMPORT WRAPPING KEY: the wrapped block, then the unwrapped key bound to
  // its target file.
  SecretBytes wrappedKeyBlock;
  SecretBytes wrappingKey;
  std::uint16_t wrappingKeyFid = 0;
  bool wrappingKeySet = false;
  // IMPORT WRAPPED RSA KEY PAIR: five 128-byte blocks.
  SecretBytes wrappedRsaPair;
  std::array<bool, 5> wrappedRsaBlocks{};
  // IMPORT SM2 KEY PAIR: the blob of the data command.
  SecretBytes wrappedSm2Pair;
};

}  // namespace merro::tokensim
