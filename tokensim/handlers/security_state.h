// What the simulated token holds only while powered about the host: which
// external-authentication keys it proved, which PINs stand verified, and the
// session key of secure messaging. GET DEVICE INFO with P1 = 1 and every
// power-up clear all of it.
#pragma once

#include <openssl/crypto.h>

#include <array>
#include <cstdint>
#include <set>

#include "tokensim/core/token.h"

namespace merro::tokensim {

constexpr size_t kSessionKeyLen = 16;

struct SecurityState : TokenExtension {
  static constexpr const char* kName = "security";

  ~SecurityState() override { ClearSessionKey(); }
  void ResetSecurityState() override {
    authenticated.clear();
    verifiedPins.clear();
    ClearSessionKey();
  }

  void SetSessionKey(const std::uint8_t* key) {
    std::copy(key, key + kSessionKeyLen, sessionKey.begin());
    hasSessionKey = true;
  }
  void ClearSessionKey() {
    OPENSSL_cleanse(sessionKey.data(), sessionKey.size());
    hasSessionKey = false;
  }

  std::set<std::uint8_t> authenticated;  // key ids 0x33 / 0x34 proved since the reset
  std::set<std::uint8_t> verifiedPins;   // PIN types (P2) verified since the reset
  std::array<std::uint8_t, kSessionKeyLen> sessionKey{};
  bool hasSessionKey = false;
};

}  // namespace merro::tokensim
