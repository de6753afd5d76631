// Signatures of a message the token shows on its display, made after the
// user pressed OK:
//   0x59 SM2 by P1: 0x00 start (file id, low byte first, and the 16-byte
//        identity), 0x01 message data (any number), 0x02 end of data (Le
//        0x20; the reply is the digest e and the display shows the
//        message), 0x03 result (Le 0x40): r || s;
//   0x40 RSA by P1: 0x00 start (P2 the key size flag; data the file id and
//        the hash code, 0x02 SHA-256), 0x01 message data, 0x02 end of data
//        (the display shows the message), 0x03 result (Le 0x80; P2 0x00,
//        then 0x80 for the second half of a 2048-bit signature).
// While the user has not decided, the result frame is answered by the
// waiting words FF05, FF11, FF12, FF13 in turn; then the signature, FF06
// when the user pressed C, or FF07 when nobody answered in time. What the
// user does comes from the display's script (control command "button").
#include "tokensim/core/dispatcher.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_store.h"
#include "tokensim/handlers/signing_state.h"

namespace merro::tokensim {
namespace {

using Stage = DisplaySequence::Stage;

constexpr std::uint8_t kInsSm2 = 0x59;
constexpr std::uint8_t kInsRsa = 0x40;
constexpr size_t kStartLenSm2 = 2 + signing::kSm2IdentityLen;
constexpr size_t kMaxMessage = 64 * 1024;
constexpr std::uint16_t kWaiting[] = {0xFF05, 0xFF11, 0xFF12, 0xFF13};

bool StartSm2(Token& token, const Command& cmd, Reply& reply, DisplaySequence& seq) {
  if (cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return false;
  }
  if (!ExpectDataLen(cmd, kStartLenSm2, reply)) {
    return false;
  }
  const std::uint16_t fid = cmd.DataWordLE(0);
  const EvpPkeyPtr key = PublicKeyOf(token, fid, keystore::kAlgSm2, reply);
  if (!key) {
    return false;
  }
  signing::EvpMdCtxPtr sm3 =
      signing::Sm2StartHash(key.get(), cmd.data.data() + 2, signing::kSm2IdentityLen);
  if (!sm3) {
    reply.Fail(sw::kInternal);
    return false;
  }
  seq.sm3 = std::move(sm3);
  seq.fid = fid;
  seq.alg = keystore::kAlgSm2;
  return true;
}

bool StartRsa(Token& token, const Command& cmd, Reply& reply, DisplaySequence& seq) {
  const std::uint8_t alg = AlgOfSizeFlag(cmd.p2);
  if (alg == 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return false;
  }
  if (!ExpectDataLen(cmd, 3, reply) || !PrivateKeyOf(token, cmd.DataWordLE(0), alg, reply)) {
    return false;
  }
  if (!signing::TokenDigest::Known(cmd.data[2]) || !seq.digest.Start(cmd.data[2])) {
    reply.Fail(sw::kIncorrectData);
    return false;
  }
  seq.fid = cmd.DataWordLE(0);
  seq.alg = alg;
  return true;
}

void AddData(const Command& cmd, Reply& reply, DisplaySequence& seq) {
  if (seq.stage != Stage::Collecting) {
    OutOfOrder(reply);
    return;
  }
  if (cmd.p2 != 0 || cmd.data.empty() || seq.message.size() + cmd.data.size() > kMaxMessage) {
    reply.Fail(cmd.p2 != 0 ? sw::kIncorrectP1P2 : sw::kWrongLength);
    return;
  }
  const bool hashed = seq.ins == kInsSm2
                          ? EVP_DigestUpdate(seq.sm3.get(), cmd.data.data(), cmd.data.size()) == 1
                          : seq.digest.Update(cmd.data.data(), cmd.data.size());
  if (!hashed) {
    reply.Fail(sw::kInternal);
    return;
  }
  seq.message.insert(seq.message.end(), cmd.data.begin(), cmd.data.end());
}

void EndOfData(Token& token, const Command& cmd, Reply& reply, DisplaySequence& seq) {
  if (seq.stage != Stage::Collecting) {
    OutOfOrder(reply);
    return;
  }
  const size_t le = seq.ins == kInsSm2 ? signing::kSm2DigestLen : 0;
  if (cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!ExpectDataLen(cmd, 0, reply) || !ExpectLeExactly(cmd, le, reply)) {
    return;
  }
  if (seq.ins == kInsSm2) {
    unsigned len = 0;
    if (EVP_DigestFinal_ex(seq.sm3.get(), seq.e, &len) != 1 || len != sizeof seq.e) {
      reply.Fail(sw::kInternal);
      return;
    }
    reply.data.assign(seq.e, seq.e + sizeof seq.e);
  }
  token.Screen().BeginConfirmation(std::string(seq.message.begin(), seq.message.end()));
  seq.polls = 0;
  seq.stage = Stage::Confirming;
}

// The signature once the user pressed OK, as the reply (RSA: its first
// half); false with the reply failed.
bool ReplySignature(Token& token, Reply& reply, DisplaySequence& seq) {
  if (seq.ins == kInsSm2) {
    return ReplySm2Signature(token, seq.fid, seq.e, reply);
  }
  const EvpPkeyPtr key = PrivateKeyOf(token, seq.fid, seq.alg, reply);
  if (!key) {
    return false;
  }
  Bytes digest, sig;
  const EVP_MD* md = nullptr;
  if (!seq.digest.Finish(&digest, &md) ||
      !signing::RsaSignDigest(key.get(), md, digest.data(), digest.size(), &sig)) {
    reply.Fail(sw::kInternal);
    return false;
  }
  ReplyFirstHalf(sig, reply, &seq.secondHalf);
  return true;
}

void Result(Token& token, const Command& cmd, Reply& reply, DisplaySequence& seq) {
  const bool second = seq.ins == kInsRsa && cmd.p2 == 0x80;
  if (cmd.p2 != 0 && !second) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (seq.stage != (second ? Stage::SecondHalf : Stage::Confirming)) {
    OutOfOrder(reply);
    return;
  }
  const size_t le = seq.ins == kInsSm2 ? signing::kSm2SignatureLen : kRsaResultHalf;
  if (!ExpectDataLen(cmd, 0, reply) || !ExpectLeExactly(cmd, le, reply)) {
    return;
  }
  if (second) {
    reply.data = seq.secondHalf;
    seq = DisplaySequence{};
    return;
  }
  switch (token.Screen().Poll()) {
    case Display::Answer::Pending:
      reply.Fail(kWaiting[seq.polls++ % (sizeof kWaiting / sizeof kWaiting[0])]);
      return;
    case Display::Answer::Ok:
      break;
    case Display::Answer::Timeout:
      seq = DisplaySequence{};
      reply.Fail(sw::kConfirmTimeout);
      return;
    default:
      seq = DisplaySequence{};
      reply.Fail(sw::kUserCancelled);
      return;
  }
  if (ReplySignature(token, reply, seq) && !seq.secondHalf.empty()) {
    seq.stage = Stage::SecondHalf;
  } else {
    seq = DisplaySequence{};
  }
}

void DisplayStep(Token& token, const Command& cmd, Reply& reply) {
  DisplaySequence& seq = token.Ext<SigningState>().display;
  if (cmd.p1 != 0x00 && seq.stage != Stage::Idle && seq.ins != cmd.ins) {
    OutOfOrder(reply);  // a step of the other algorithm's sequence
    return;
  }
  switch (cmd.p1) {
    case 0x00: {
      DisplaySequence fresh;
      fresh.ins = cmd.ins;
      if (cmd.ins == kInsSm2 ? StartSm2(token, cmd, reply, fresh)
                             : StartRsa(token, cmd, reply, fresh)) {
        fresh.stage = Stage::Collecting;
        seq = std::move(fresh);
      }
      return;
    }
    case 0x01:
      AddData(cmd, reply, seq);
      return;
    case 0x02:
      EndOfData(token, cmd, reply, seq);
      return;
    case 0x03:
      Result(token, cmd, reply, seq);
      return;
    default:
      reply.Fail(sw::kIncorrectP1P2);
  }
}

}  // namespace

void RegisterDisplaySignFamily(Dispatcher& d) {
  d.Add(kInsSm2, &DisplayStep);
  d.Add(kInsRsa, &DisplayStep);
}

}  // namespace merro::tokensim
