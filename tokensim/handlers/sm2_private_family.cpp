// SM2 commands that use the private key of a key file:
//   0x55 DECRYPT (file id in P1 P2): the raw ciphertext 04 || x1 || y1 ||
//        C2 || C3, Le = length - 96; the reply is the plaintext;
//   0x54 SIGN DIGEST (file id in P1 P2): the 32-byte e, Le 0x40; r || s;
//   0x81 SIGN WITH HASHING in four steps by P1:
//        0x00 start: file id (low byte first) and the 16-byte identity; the
//             token hashes Z of that key's public key;
//        0x01 data: hashed in;
//        0x02 end of data, Le 0x20: the digest e;
//        0x03 signature, Le 0x40: e signed with the selected file's key,
//             which must be the file of the start.
#include "tokensim/core/dispatcher.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_store.h"
#include "tokensim/handlers/signing_state.h"
#include "tokensim/handlers/sm2_raw_cipher.h"

namespace merro::tokensim {
namespace {

using Stage = Sm2HashSequence::Stage;

constexpr size_t kStartLen = 2 + signing::kSm2IdentityLen;

void Decrypt(Token& token, const Command& cmd, Reply& reply) {
  const size_t n = cmd.data.size();
  if (n <= kSm2CipherOverhead || cmd.le != static_cast<std::uint8_t>(n - 0x60)) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  const EvpPkeyPtr key = PrivateKeyOf(token, cmd.P1P2(), keystore::kAlgSm2, reply);
  if (!key) {
    return;
  }
  SecretBytes plain;
  if (!Sm2DecryptRaw(key.get(), cmd.data.data(), n, &plain)) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  reply.data = plain.bytes();
}

void SignDigest(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, signing::kSm2DigestLen, reply) ||
      !ExpectLeExactly(cmd, signing::kSm2SignatureLen, reply)) {
    return;
  }
  ReplySm2Signature(token, cmd.P1P2(), cmd.data.data(), reply);
}

void Start(Token& token, const Command& cmd, Reply& reply, Sm2HashSequence& seq) {
  if (!ExpectDataLen(cmd, kStartLen, reply)) {
    return;
  }
  const std::uint16_t fid = cmd.DataWordLE(0);
  const EvpPkeyPtr key = PublicKeyOf(token, fid, keystore::kAlgSm2, reply);
  if (!key) {
    return;
  }
  signing::EvpMdCtxPtr sm3 =
      signing::Sm2StartHash(key.get(), cmd.data.data() + 2, signing::kSm2IdentityLen);
  if (!sm3) {
    reply.Fail(sw::kInternal);
    return;
  }
  seq.sm3 = std::move(sm3);
  seq.fid = fid;
  seq.stage = Stage::Hashing;
}

void SignWithHashing(Token& token, const Command& cmd, Reply& reply) {
  Sm2HashSequence& seq = token.Ext<SigningState>().sm2Hash;
  if (cmd.p2 != 0) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  switch (cmd.p1) {
    case 0x00:
      Start(token, cmd, reply, seq);
      return;
    case 0x01:
      if (seq.stage != Stage::Hashing) {
        OutOfOrder(reply);
      } else if (cmd.data.empty()) {
        reply.Fail(sw::kWrongLength);
      } else if (EVP_DigestUpdate(seq.sm3.get(), cmd.data.data(), cmd.data.size()) != 1) {
        reply.Fail(sw::kInternal);
      }
      return;
    case 0x02: {
      if (seq.stage != Stage::Hashing) {
        OutOfOrder(reply);
        return;
      }
      if (!ExpectDataLen(cmd, 0, reply) || !ExpectLeExactly(cmd, signing::kSm2DigestLen, reply)) {
        return;
      }
      unsigned len = 0;
      if (EVP_DigestFinal_ex(seq.sm3.get(), seq.e, &len) != 1 || len != sizeof seq.e) {
        reply.Fail(sw::kInternal);
        return;
      }
      seq.sm3.reset();
      seq.stage = Stage::Digested;
      reply.data.assign(seq.e, seq.e + sizeof seq.e);
      return;
    }
    case 0x03: {
      if (seq.stage != Stage::Digested ||
          token.Files().Selected() != token.Files().Find(seq.fid)) {
        OutOfOrder(reply);
        return;
      }
      if (!ExpectDataLen(cmd, 0, reply) || !ExpectLeExactly(cmd, signing::kSm2SignatureLen, reply)) {
        return;
      }
      if (ReplySm2Signature(token, seq.fid, seq.e, reply)) {
        seq = Sm2HashSequence{};
      }
      return;
    }
    default:
      reply.Fail(sw::kIncorrectP1P2);
  }
}

}  // namespace

void RegisterSm2PrivateFamily(Dispatcher& d) {
  d.Add(0x55, &Decrypt);
  d.Add(0x54, &SignDigest);
  d.Add(0x81, &SignWithHashing);
}

}  // namespace merro::tokensim
