// Reading and writing the halves of key files:
//   0x35 READ RSA PUBLIC KEY (selected file): P1 0 length, 1 exponent,
//        2 modulus (P2 0x00 / 0x80: which 128 bytes);
//   0x53 READ SM2 PUBLIC KEY (file id in P1 P2): x then y;
//   0x30 / 0x31 WRITE RSA PUBLIC / PRIVATE KEY in parts: P1 0 header (file
//        id in the data, P2 0 for a 128-byte and 1 for a 256-byte modulus),
//        P1 1 the exponent (public) or d (private, P2 0x00 / 0x80),
//        P1 2 the modulus (P2 0x00 / 0x80). The half is stored when its last
//        part has arrived;
//   0x51 / 0x52 WRITE SM2 PUBLIC / PRIVATE KEY (file id in P1 P2).
#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_staging.h"
#include "tokensim/handlers/key_store.h"

namespace merro::tokensim {
namespace {

constexpr size_t kPartLen = 128;

// The RSA algorithm of a key-size byte (P2 of a header); 0 for others.
std::uint8_t RsaAlgOfSize(std::uint8_t p2) {
  return p2 == 0 ? keystore::kAlgRsa1024 : (p2 == 1 ? keystore::kAlgRsa2048 : 0);
}

// Part index of P2 (0x00 first, 0x80 second) within a modulus of len bytes;
// -1 when P2 names no part.
int PartIndex(std::uint8_t p2, size_t len) {
  if (p2 == 0x00) {
    return 0;
  }
  return p2 == 0x80 && len == 2 * kPartLen ? 1 : -1;
}

bool AllParts(const std::array<bool, 2>& parts, size_t len) {
  return parts[0] && (len == kPartLen || parts[1]);
}

void ReadRsaPublic(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 0, reply)) {
    return;
  }
  const TokenFile* file = token.Files().Selected();
  const std::uint8_t alg = file != nullptr ? keystore::PublicAlgorithm(*file) : keystore::kNoKey;
  Bytes n, e;
  if (file == nullptr || keystore::ModulusLen(alg) == 0 ||
      !keystore::ReadRsaPublic(*file, alg, &n, &e)) {
    reply.Fail(sw::kConditionsNotSatisfied);
    return;
  }
  switch (cmd.p1) {
    case 0:
      if (cmd.p2 != 0 || cmd.le != 2) {
        reply.Fail(cmd.p2 != 0 ? sw::kIncorrectP1P2 : sw::kWrongLength);
        return;
      }
      reply.data = {static_cast<std::uint8_t>(n.size() >> 8), static_cast<std::uint8_t>(n.size())};
      return;
    case 1:
      if (cmd.p2 != 0 || cmd.le < e.size()) {
        reply.Fail(cmd.p2 != 0 ? sw::kIncorrectP1P2 : sw::kWrongLength);
        return;
      }
      reply.data = e;
      return;
    case 2: {
      const int part = PartIndex(cmd.p2, n.size());
      if (part < 0 || cmd.le != kPartLen) {
        reply.Fail(part < 0 ? sw::kIncorrectP1P2 : sw::kWrongLength);
        return;
      }
      const auto from = n.begin() + part * static_cast<long>(kPartLen);
      reply.data.assign(from, from + kPartLen);
      return;
    }
    default:
      reply.Fail(sw::kIncorrectP1P2);
  }
}

void ReadSm2Public(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 0, reply)) {
    return;
  }
  if (cmd.le != 2 * keystore::kSm2CoordLen) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  std::uint16_t status = 0;
  const TokenFile* file = keystore::FindKeyFile(token, cmd.P1P2(), &status);
  if (file == nullptr) {
    reply.Fail(status);
    return;
  }
  if (!keystore::ReadSm2Public(*file, &reply.data)) {
    reply.Fail(sw::kConditionsNotSatisfied);
  }
}

// The header of a WRITE RSA command: starts a new half.
void StartRsaHalf(Token& token, const Command& cmd, RsaHalfWrite& half, Reply& reply) {
  half.Clear();
  const std::uint8_t alg = RsaAlgOfSize(cmd.p2);
  if (alg == 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!ExpectDataLen(cmd, 2, reply)) {
    return;
  }
  std::uint16_t status = 0;
  if (keystore::FindKeyFile(token, cmd.DataWordLE(0), &status) == nullptr) {
    reply.Fail(status);
    return;
  }
  half.Start(cmd.DataWordLE(0), alg, keystore::ModulusLen(alg));
}

// One 128-byte part of d or n at the place P2 names.
bool TakePart(const Command& cmd, SecretBytes& target, std::array<bool, 2>& parts, Reply& reply) {
  const int part = PartIndex(cmd.p2, target.size());
  if (part < 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return false;
  }
  if (!ExpectDataLen(cmd, kPartLen, reply)) {
    return false;
  }
  std::copy(cmd.data.begin(), cmd.data.end(), target.data() + part * kPartLen);
  parts[static_cast<size_t>(part)] = true;
  return true;
}

// The file of a half being written, still there and still a key file.
TokenFile* HalfTarget(Token& token, const RsaHalfWrite& half, Reply& reply) {
  std::uint16_t status = 0;
  TokenFile* file = keystore::FindKeyFile(token, half.fid, &status);
  if (file == nullptr) {
    reply.Fail(status);
  }
  return file;
}

// The exponent of a public half: 1 to 4 bytes of an odd number of at least 3.
bool TakeExponent(const Command& cmd, RsaHalfWrite& half, Reply& reply) {
  if (cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return false;
  }
  if (cmd.data.empty() || cmd.data.size() > keystore::kRsaExponentMax) {
    reply.Fail(sw::kWrongLength);
    return false;
  }
  const BnPtr e = BnFromBytes(cmd.data.data(), cmd.data.size());
  if (!e || !BN_is_odd(e.get()) || BN_is_one(e.get())) {
    reply.Fail(sw::kIncorrectData);
    return false;
  }
  half.first.bytes().assign(cmd.data.begin(), cmd.data.end());
  half.exponentSet = true;
  return true;
}

// d of a private half, in 128-byte parts.
bool TakePrivateExponentPart(const Command& cmd, RsaHalfWrite& half, Reply& reply) {
  return TakePart(cmd, half.first, half.firstParts, reply);
}

// One frame of WRITE RSA PUBLIC / PRIVATE KEY: P1 0 starts the half, P1 1
// takes the first value (exponent or d), P1 2 a part of n. True when a
// value was taken, so that the half may now be complete.
bool RsaHalfFrame(Token& token, const Command& cmd, RsaHalfWrite& half, Reply& reply,
                  bool (*takeFirst)(const Command&, RsaHalfWrite&, Reply&)) {
  if (cmd.p1 == 0) {
    StartRsaHalf(token, cmd, half, reply);
    return false;
  }
  if (!half.active) {
    reply.Fail(sw::kConditionsNotSatisfied);
    return false;
  }
  if (cmd.p1 == 1) {
    return takeFirst(cmd, half, reply);
  }
  if (cmd.p1 == 2) {
    return TakePart(cmd, half.modulus, half.modulusParts, reply);
  }
  reply.Fail(sw::kIncorrectP1P2);
  return false;
}

void WriteRsaPublic(Token& token, const Command& cmd, Reply& reply) {
  RsaHalfWrite& half = token.Ext<KeyStaging>().rsaPublic;
  if (!RsaHalfFrame(token, cmd, half, reply, &TakeExponent) || !half.exponentSet ||
      !AllParts(half.modulusParts, half.modulus.size())) {
    return;
  }
  TokenFile* file = HalfTarget(token, half, reply);
  if (file != nullptr) {
    keystore::WriteRsaPublic(*file, half.alg, half.modulus.data(), half.first.data(),
                             half.first.size());
  }
  half.Clear();
}

void WriteRsaPrivate(Token& token, const Command& cmd, Reply& reply) {
  RsaHalfWrite& half = token.Ext<KeyStaging>().rsaPrivate;
  if (!RsaHalfFrame(token, cmd, half, reply, &TakePrivateExponentPart) ||
      !AllParts(half.firstParts, half.first.size()) ||
      !AllParts(half.modulusParts, half.modulus.size())) {
    return;
  }
  TokenFile* file = HalfTarget(token, half, reply);
  if (file != nullptr) {
    keystore::WriteRsaPrivate(*file, half.alg, half.modulus.data(), half.first.data());
  }
  half.Clear();
}

void WriteSm2Public(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 2 * keystore::kSm2CoordLen, reply)) {
    return;
  }
  std::uint16_t status = 0;
  TokenFile* file = keystore::FindKeyFile(token, cmd.P1P2(), &status);
  if (file == nullptr) {
    reply.Fail(status);
    return;
  }
  if (!keystore::Sm2KeyFromPoint(cmd.data.data())) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  keystore::WriteSm2Public(*file, cmd.data.data(), cmd.data.data() + keystore::kSm2CoordLen);
}

void WriteSm2Private(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, keystore::kSm2CoordLen, reply)) {
    return;
  }
  std::uint16_t status = 0;
  TokenFile* file = keystore::FindKeyFile(token, cmd.P1P2(), &status);
  if (file == nullptr) {
    reply.Fail(status);
    return;
  }
  if (!keystore::Sm2KeyFromPrivate(cmd.data.data(), nullptr)) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  keystore::WriteSm2Private(*file, cmd.data.data());
}

}  // namespace

void RegisterKeyReadWriteFamily(Dispatcher& d) {
  d.Add(0x35, &ReadRsaPublic);
  d.Add(0x53, &ReadSm2Public);
  d.Add(0x30, &WriteRsaPublic, StoredState::Changes);
  d.Add(0x31, &WriteRsaPrivate, StoredState::Changes);
  d.Add(0x51, &WriteSm2Public, StoredState::Changes);
  d.Add(0x52, &WriteSm2Private, StoredState::Changes);
}

}  // namespace merro::tokensim
