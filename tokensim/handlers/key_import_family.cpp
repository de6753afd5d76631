// Wrapped key-pair import (formats in tokensim/README.md):
//   0x39 IMPORT WRAPPING KEY: P1 0 the 128-byte wrapped-key block; P1 1 the
//        target (file id low byte first, 0x00): unwraps the key for it;
//   0x32 IMPORT WRAPPED RSA KEY PAIR: P1 0 P2 k (0 to 4) block k of the
//        640-byte wrapped RSA-2048 pair; P1 1 P2 1 the target (file id,
//        0x01), which must be the wrapping key's;
//   0x49 IMPORT SM2 KEY PAIR: P1 0 the wrapped pair (209 bytes) or the pair
//        SM2-encrypted under file 0x0012 (193 bytes); P1 1 the target
//        (file id).
// A pair is checked (RSA: d inverts e modulo n; SM2: the point is d x G)
// before it replaces both halves of the target file.
#include <openssl/bn.h>

#include <algorithm>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"
#include "tokensim/handlers/key_staging.h"
#include "tokensim/handlers/key_store.h"
#include "tokensim/handlers/key_wrap.h"

namespace merro::tokensim {
namespace {

constexpr size_t kBlockLen = 128;
constexpr size_t kRsaLen = 256;
constexpr size_t kRsaExponentLen = 4;

bool IsZero(const std::uint8_t* p, size_t n) {
  return std::all_of(p, p + n, [](std::uint8_t b) { return b == 0; });
}

// n of 2048 bits, e odd and at least 3, 0 < d < n, and (2^e)^d = 2 mod n.
bool IsRsaPair(const std::uint8_t* n, const std::uint8_t* d, const std::uint8_t* e, size_t eLen) {
  const BnPtr bnN = BnFromBytes(n, kRsaLen);
  const BnPtr bnD = BnFromBytes(d, kRsaLen);
  const BnPtr bnE = BnFromBytes(e, eLen);
  const BnPtr two(BN_new());
  const BnPtr r(BN_new());
  const BnCtxPtr ctx(BN_CTX_new());
  if (!bnN || !bnD || !bnE || !two || !r || !ctx || BN_num_bits(bnN.get()) != 2048 ||
      !BN_is_odd(bnE.get()) || BN_is_one(bnE.get()) || BN_is_zero(bnD.get()) ||
      BN_cmp(bnD.get(), bnN.get()) >= 0 || BN_set_word(two.get(), 2) != 1) {
    return false;
  }
  BN_set_flags(bnD.get(), BN_FLG_CONSTTIME);
  return BN_mod_exp(r.get(), two.get(), bnE.get(), bnN.get(), ctx.get()) == 1 &&
         BN_mod_exp(r.get(), r.get(), bnD.get(), bnN.get(), ctx.get()) == 1 &&
         BN_cmp(r.get(), two.get()) == 0;
}

// The target of a P1 1 command: file id (low byte first), then the trailer
// byte the command carries, if any.
TokenFile* ImportTarget(Token& token, const Command& cmd, int trailer, Reply& reply) {
  const size_t len = trailer < 0 ? 2 : 3;
  if (!ExpectDataLen(cmd, len, reply)) {
    return nullptr;
  }
  if (trailer >= 0 && cmd.data[2] != trailer) {
    reply.Fail(sw::kIncorrectData);
    return nullptr;
  }
  std::uint16_t status = 0;
  TokenFile* file = keystore::FindKeyFile(token, cmd.DataWordLE(0), &status);
  if (file == nullptr) {
    reply.Fail(status);
  }
  return file;
}

void ImportWrappingKey(Token& token, const Command& cmd, Reply& reply) {
  KeyStaging& staging = token.Ext<KeyStaging>();
  if (cmd.p2 != 0 || cmd.p1 > 1) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (cmd.p1 == 0) {
    staging.Clear();
    if (ExpectDataLen(cmd, keywrap::kWrapKeyBlockLen, reply)) {
      staging.wrappedKeyBlock.bytes().assign(cmd.data.begin(), cmd.data.end());
    }
    return;
  }
  if (staging.wrappedKeyBlock.size() != keywrap::kWrapKeyBlockLen) {
    reply.Fail(sw::kConditionsNotSatisfied);
    return;
  }
  if (ImportTarget(token, cmd, 0x00, reply) == nullptr) {
    return;
  }
  const std::uint16_t status = keywrap::UnwrapKey(
      token, staging.wrappedKeyBlock.data(), staging.wrappedKeyBlock.size(), &staging.wrappingKey);
  if (status != sw::kOk) {
    staging.Clear();
    reply.Fail(status);
    return;
  }
  staging.wrappingKeySet = true;
  staging.wrappingKeyFid = cmd.DataWordLE(0);
}

void StoreRsaPair(Token& token, KeyStaging& staging, TokenFile& file, Reply& reply) {
  SecretBytes plain;
  if (!keywrap::Sm4CbcDecrypt(staging.wrappingKey.data(), staging.wrappedRsaPair.data(),
                              keywrap::kRsaPairLen, &plain)) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  const std::uint8_t* n = plain.data();
  const std::uint8_t* d = n + kRsaLen;
  const std::uint8_t* e = d + kRsaLen;
  const std::uint8_t* tail = e + kRsaExponentLen;
  // The exponent without its leading zero bytes.
  size_t skip = 0;
  while (skip < kRsaExponentLen - 1 && e[skip] == 0) {
    ++skip;
  }
  if (!IsZero(tail, keywrap::kRsaPairLen - (tail - n)) ||
      !IsRsaPair(n, d, e + skip, kRsaExponentLen - skip)) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  keystore::WriteRsaPublic(file, keystore::kAlgRsa2048, n, e + skip, kRsaExponentLen - skip);
  keystore::WriteRsaPrivate(file, keystore::kAlgRsa2048, n, d);
}

void ImportWrappedRsaPair(Token& token, const Command& cmd, Reply& reply) {
  KeyStaging& staging = token.Ext<KeyStaging>();
  if (cmd.p1 == 0) {
    if (cmd.p2 >= keywrap::kRsaPairBlocks) {
      reply.Fail(sw::kIncorrectP1P2);
      return;
    }
    if (!ExpectDataLen(cmd, kBlockLen, reply)) {
      return;
    }
    if (staging.wrappedRsaPair.size() != keywrap::kRsaPairLen) {
      staging.wrappedRsaPair.bytes().assign(keywrap::kRsaPairLen, 0);
      staging.wrappedRsaBlocks = {};
    }
    std::copy(cmd.data.begin(), cmd.data.end(), staging.wrappedRsaPair.data() + cmd.p2 * kBlockLen);
    staging.wrappedRsaBlocks[cmd.p2] = true;
    return;
  }
  if (cmd.p1 != 1 || cmd.p2 != 1) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  TokenFile* file = ImportTarget(token, cmd, 0x01, reply);
  if (file == nullptr) {
    return;
  }
  const bool ready = staging.wrappingKeySet && staging.wrappingKeyFid == cmd.DataWordLE(0) &&
                     std::all_of(staging.wrappedRsaBlocks.begin(), staging.wrappedRsaBlocks.end(),
                                 [](bool b) { return b; });
  if (!ready) {
    reply.Fail(sw::kConditionsNotSatisfied);
  } else {
    StoreRsaPair(token, staging, *file, reply);
  }
  staging.Clear();
}

// x || y || d of a staged SM2 pair, in either form: the wrapped key and
// the pair SM4-encrypted under it (209 bytes), or the pair SM2-encrypted
// under file 0x0012 (193 bytes).
std::uint16_t OpenSm2Pair(Token& token, const SecretBytes& blob, SecretBytes* pPlain) {
  if (blob.size() == keywrap::kSm2PairCipherLen) {
    return keywrap::DecryptUnderTokenKey(token, blob.data(), blob.size(), pPlain);
  }
  if (blob.size() != keywrap::kSm2PairBlobLen) {
    return blob.size() == 0 ? sw::kConditionsNotSatisfied : sw::kIncorrectData;
  }
  SecretBytes key;
  const std::uint16_t status = keywrap::UnwrapKey(token, blob.data(), keywrap::kWrappedWrapKeyLen, &key);
  if (status != sw::kOk) {
    return status;
  }
  return keywrap::Sm4CbcDecrypt(key.data(), blob.data() + keywrap::kWrappedWrapKeyLen,
                                keywrap::kSm2PairPlainLen, pPlain)
             ? sw::kOk
             : sw::kIncorrectData;
}

void ImportSm2Pair(Token& token, const Command& cmd, Reply& reply) {
  KeyStaging& staging = token.Ext<KeyStaging>();
  if (cmd.p2 != 0 || cmd.p1 > 1) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (cmd.p1 == 0) {
    staging.wrappedSm2Pair.Wipe();
    if (cmd.data.empty()) {
      staging.wrappedSm2Pair.bytes().clear();
      reply.Fail(sw::kWrongLength);
      return;
    }
    staging.wrappedSm2Pair.bytes().assign(cmd.data.begin(), cmd.data.end());
    return;
  }
  TokenFile* file = ImportTarget(token, cmd, -1, reply);
  if (file == nullptr) {
    return;
  }
  SecretBytes blob;
  blob.bytes().swap(staging.wrappedSm2Pair.bytes());
  SecretBytes plain;
  const std::uint16_t status = OpenSm2Pair(token, blob, &plain);
  if (status != sw::kOk) {
    reply.Fail(status);
    return;
  }
  const std::uint8_t* xy = plain.data();
  const std::uint8_t* d = xy + 2 * keystore::kSm2CoordLen;
  if (!keystore::Sm2KeyFromPrivate(d, xy)) {
    reply.Fail(sw::kIncorrectData);
    return;
  }
  keystore::WriteSm2Public(*file, xy, xy + keystore::kSm2CoordLen);
  keystore::WriteSm2Private(*file, d);
}

}  // namespace

void RegisterKeyImportFamily(Dispatcher& d) {
  d.Add(0x39, &ImportWrappingKey);
  d.Add(0x32, &ImportWrappedRsaPair, StoredState::Changes);
  d.Add(0x49, &ImportSm2Pair, StoredState::Changes);
}

}  // namespace merro::tokensim
