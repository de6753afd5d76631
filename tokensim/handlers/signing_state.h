// What the signing and private-key commands of the simulated token keep
// between their frames. Each sequence runs start, data, end of data and
// result in this order; a frame out of order is refused with 6985 and
// leaves the sequence as it was.
//
// The hashing sequences (INS 0x81, 0x80) survive a reset of the security
// state: between the digest and the signature the host authenticates
// itself, sets a session key and checks the PIN. The one-call sequences
// (raw RSA, display signing) end with a reset, as the display does.
#pragma once

#include <cstdint>

#include "tokensim/core/token.h"
#include "tokensim/handlers/token_signing.h"

namespace merro::tokensim {

// INS 0x81: SM2 with SM3 over Z and the data, signed by the selected key.
struct Sm2HashSequence {
  enum class Stage { Idle, Hashing, Digested };
  Stage stage = Stage::Idle;
  std::uint16_t fid = 0;
  signing::EvpMdCtxPtr sm3;
  std::uint8_t e[signing::kSm2DigestLen] = {};
};

// INS 0x80: RSA PKCS#1 v1.5 over the token's digest.
struct RsaHashSequence {
  enum class Stage { Idle, Hashing, Digested, SecondHalf };
  Stage stage = Stage::Idle;
  signing::TokenDigest digest;
  Bytes value;                 // the digest, once finished
  const EVP_MD* md = nullptr;  // its DigestInfo (null: none)
  Bytes secondHalf;            // of a 2048-bit signature
};

// INS 0x38: x^d mod n of an input sent in 128-byte pieces.
struct RawRsaSequence {
  enum class Stage { Idle, Collecting, Computed, SecondHalf };
  Stage stage = Stage::Idle;
  std::uint16_t fid = 0;
  std::uint8_t alg = 0;
  SecretBytes input;
  SecretBytes result;

  void Clear() {
    stage = Stage::Idle;
    input.Wipe();
    input.bytes().clear();
    result.Wipe();
    result.bytes().clear();
  }
};

// INS 0x59 (SM2) and 0x40 (RSA): a message shown on the display and signed
// after the user's OK.
struct DisplaySequence {
  enum class Stage { Idle, Collecting, Confirming, SecondHalf };
  Stage stage = Stage::Idle;
  std::uint8_t ins = 0;
  std::uint16_t fid = 0;
  std::uint8_t alg = 0;        // RSA: the key size of the start frame
  Bytes message;
  signing::EvpMdCtxPtr sm3;    // SM2: Z and the message
  signing::TokenDigest digest; // RSA: the message's digest
  std::uint8_t e[signing::kSm2DigestLen] = {};
  unsigned polls = 0;          // pending polls answered so far
  Bytes secondHalf;            // of a 2048-bit signature
};

// The key of a key file that a signing command names: the private or the
// public half of algorithm alg. Null with the reply failed: 6A82 when there
// is no such file, 6985 when it holds no such key.
EvpPkeyPtr PrivateKeyOf(Token& token, std::uint16_t fid, std::uint8_t alg, Reply& reply);
EvpPkeyPtr PublicKeyOf(Token& token, std::uint16_t fid, std::uint8_t alg, Reply& reply);

// Signs the 32-byte e with the SM2 private key of file fid and makes
// r || s the reply data; false with the reply failed.
bool ReplySm2Signature(Token& token, std::uint16_t fid, const std::uint8_t* e, Reply& reply);

// Le exactly le (the length of a fixed reply).
inline bool ExpectLeExactly(const Command& cmd, size_t le, Reply& reply) {
  if (cmd.le != le) {
    reply.Fail(sw::kWrongLength);
    return false;
  }
  return true;
}

// RSA results go out in halves of 128 bytes.
constexpr size_t kRsaResultHalf = 128;

// The RSA algorithm of a key size flag (0: 1024, 1: 2048 bits); 0 for
// another value.
inline std::uint8_t AlgOfSizeFlag(std::uint8_t flag) {
  return flag == 0 ? 0x01 : (flag == 1 ? 0x07 : 0);
}

// The first half of an RSA result as the reply; the rest (empty for a
// 1024-bit key) stays in *pSecond for the frame with P2 0x80.
inline void ReplyFirstHalf(const Bytes& result, Reply& reply, Bytes* pSecond) {
  reply.data.assign(result.begin(), result.begin() + kRsaResultHalf);
  pSecond->assign(result.begin() + kRsaResultHalf, result.end());
}

// Refuses a frame that comes out of its sequence's order.
inline void OutOfOrder(Reply& reply) { reply.Fail(sw::kConditionsNotSatisfied); }

struct SigningState : TokenExtension {
  static constexpr const char* kName = "signing";

  void ResetSecurityState() override {
    rawRsa.Clear();
    display = DisplaySequence{};
  }
  void Erase() override {
    sm2Hash = Sm2HashSequence{};
    rsaHash = RsaHashSequence{};
    ResetSecurityState();
  }

  Sm2HashSequence sm2Hash;
  RsaHashSequence rsaHash;
  RawRsaSequence rawRsa;
  DisplaySequence display;
};

}  // namespace merro::tokensim
