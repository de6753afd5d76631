// RSA commands that use the private key of a key file:
//   0x38 RAW PRIVATE OPERATION by P1: 0x00 key (P2 the key size flag, 0
//        for 1024 and 1 for 2048 bits; data the file id, low byte first),
//        0x01 data (P2 the piece's offset; pieces of at most 128 bytes, in
//        order), 0x02 compute (the input must be one whole block below n),
//        0x03 result, Le 0x80 (P2 0x00, then 0x80 for a 2048-bit key);
//   0x80 SIGN WITH HASHING by P1: 0x00 start (data the hash code: 0x00
//        SHA-1, 0x04 SHA-512, 0x05 MD5, 0x06 SHA-1 then MD5), 0x01 data,
//        0x02 end of data (Le the digest length; the reply is the digest),
//        0x03 signature (P2 0x00: data file id and key size flag, Le 0x80;
//        P2 0x80: the second half of a 2048-bit signature). PKCS#1 v1.5
//        with the DigestInfo of the hash; code 0x06 has none.
#include "tokensim/core/dispatcher.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_store.h"
#include "tokensim/handlers/signing_state.h"

namespace merro::tokensim {
namespace {

constexpr size_t kHalf = kRsaResultHalf;
constexpr std::uint8_t kSha256Code = 0x02;  // display signing only

void RawStep(Token& token, const Command& cmd, Reply& reply) {
  RawRsaSequence& seq = token.Ext<SigningState>().rawRsa;
  using Stage = RawRsaSequence::Stage;
  switch (cmd.p1) {
    case 0x00: {
      const std::uint8_t alg = AlgOfSizeFlag(cmd.p2);
      if (alg == 0) {
        reply.Fail(sw::kIncorrectP1P2);
        return;
      }
      if (!ExpectDataLen(cmd, 2, reply) ||
          !PrivateKeyOf(token, cmd.DataWordLE(0), alg, reply)) {
        return;
      }
      seq.Clear();
      seq.fid = cmd.DataWordLE(0);
      seq.alg = alg;
      seq.stage = Stage::Collecting;
      return;
    }
    case 0x01: {
      const size_t have = seq.input.size();
      if (seq.stage != Stage::Collecting || cmd.p2 != static_cast<std::uint8_t>(have)) {
        OutOfOrder(reply);
      } else if (cmd.data.empty() || cmd.data.size() > kHalf ||
                 have + cmd.data.size() > keystore::ModulusLen(seq.alg)) {
        reply.Fail(sw::kWrongLength);
      } else {
        seq.input.bytes().insert(seq.input.bytes().end(), cmd.data.begin(), cmd.data.end());
      }
      return;
    }
    case 0x02: {
      if (seq.stage != Stage::Collecting || seq.input.size() != keystore::ModulusLen(seq.alg)) {
        OutOfOrder(reply);
        return;
      }
      if (!ExpectDataLen(cmd, 0, reply)) {
        return;
      }
      const EvpPkeyPtr key = PrivateKeyOf(token, seq.fid, seq.alg, reply);
      if (!key) {
        return;
      }
      if (!signing::RsaPrivateRaw(key.get(), seq.input.data(), seq.input.size(), &seq.result)) {
        seq.Clear();
        reply.Fail(sw::kIncorrectData);  // not below the modulus
        return;
      }
      seq.stage = Stage::Computed;
      return;
    }
    case 0x03: {
      const bool second = cmd.p2 == 0x80;
      if (cmd.p2 != 0x00 && !second) {
        reply.Fail(sw::kIncorrectP1P2);
        return;
      }
      if (seq.stage != (second ? Stage::SecondHalf : Stage::Computed)) {
        OutOfOrder(reply);
        return;
      }
      if (!ExpectDataLen(cmd, 0, reply) || !ExpectLeExactly(cmd, kHalf, reply)) {
        return;
      }
      const auto from = seq.result.bytes().begin() + (second ? kHalf : 0);
      reply.data.assign(from, from + kHalf);
      if (!second && seq.result.size() > kHalf) {
        seq.stage = Stage::SecondHalf;
      } else {
        seq.Clear();
      }
      return;
    }
    default:
      reply.Fail(sw::kIncorrectP1P2);
  }
}

void SignResult(Token& token, const Command& cmd, Reply& reply, RsaHashSequence& seq) {
  using Stage = RsaHashSequence::Stage;
  if (cmd.p2 == 0x80) {
    if (seq.stage != Stage::SecondHalf) {
      OutOfOrder(reply);
    } else if (ExpectDataLen(cmd, 0, reply) && ExpectLeExactly(cmd, kHalf, reply)) {
      reply.data = seq.secondHalf;
      seq = RsaHashSequence{};
    }
    return;
  }
  if (cmd.p2 != 0x00) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (seq.stage != Stage::Digested) {
    OutOfOrder(reply);
    return;
  }
  if (!ExpectDataLen(cmd, 3, reply) || !ExpectLeExactly(cmd, kHalf, reply)) {
    return;
  }
  const std::uint8_t alg = AlgOfSizeFlag(cmd.data[2]);
  if (alg == 0) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  const EvpPkeyPtr key = PrivateKeyOf(token, cmd.DataWordLE(0), alg, reply);
  if (!key) {
    return;
  }
  Bytes sig;
  if (!signing::RsaSignDigest(key.get(), seq.md, seq.value.data(), seq.value.size(), &sig)) {
    reply.Fail(sw::kInternal);
    return;
  }
  ReplyFirstHalf(sig, reply, &seq.secondHalf);
  if (seq.secondHalf.empty()) {
    seq = RsaHashSequence{};
  } else {
    seq.stage = Stage::SecondHalf;
  }
}

void SignWithHashing(Token& token, const Command& cmd, Reply& reply) {
  RsaHashSequence& seq = token.Ext<SigningState>().rsaHash;
  using Stage = RsaHashSequence::Stage;
  if (cmd.p1 != 0x03 && cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  switch (cmd.p1) {
    case 0x00:
      if (!ExpectDataLen(cmd, 1, reply)) {
        return;
      }
      if (cmd.data[0] == kSha256Code || !signing::TokenDigest::Known(cmd.data[0])) {
        reply.Fail(sw::kIncorrectData);
        return;
      }
      seq = RsaHashSequence{};
      if (!seq.digest.Start(cmd.data[0])) {
        reply.Fail(sw::kInternal);
        return;
      }
      seq.stage = Stage::Hashing;
      return;
    case 0x01:
      if (seq.stage != Stage::Hashing) {
        OutOfOrder(reply);
      } else if (cmd.data.empty()) {
        reply.Fail(sw::kWrongLength);
      } else if (!seq.digest.Update(cmd.data.data(), cmd.data.size())) {
        reply.Fail(sw::kInternal);
      }
      return;
    case 0x02:
      if (seq.stage != Stage::Hashing) {
        OutOfOrder(reply);
        return;
      }
      if (!ExpectDataLen(cmd, 0, reply) || !ExpectLeExactly(cmd, seq.digest.Length(), reply)) {
        return;
      }
      if (!seq.digest.Finish(&seq.value, &seq.md)) {
        reply.Fail(sw::kInternal);
        return;
      }
      seq.stage = Stage::Digested;
      reply.data = seq.value;
      return;
    case 0x03:
      SignResult(token, cmd, reply, seq);
      return;
    default:
      reply.Fail(sw::kIncorrectP1P2);
  }
}

}  // namespace

void RegisterRsaPrivateFamily(Dispatcher& d) {
  d.Add(0x38, &RawStep);
  d.Add(0x80, &SignWithHashing);
}

}  // namespace merro::tokensim
