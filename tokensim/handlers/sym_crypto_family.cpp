// The token's own symmetric operation, INS 0x23 (32-byte key) and 0x24
// (SM4, 16-byte key).
//
// P1 0 loads the key (Lc = key length, P2 0) and starts a fresh chaining
// value of zeros. P1 1 runs Lc data bytes (1 to 128, a whole number of
// 16-byte blocks, Le = Lc) under the loaded key and answers as many bytes.
// P2 of a data frame: low 7 bits 1 = ECB, 2 = CBC, chained from frame to
// frame; bit 0x80 decrypts. No padding. The simulator runs SM4 for 0x24 and
// AES-256 for 0x23; the key lives only while the token is powered and its
// security state stands.
#include <openssl/evp.h>

#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/evp_util.h"
#include "tokensim/handlers/handler_checks.h"

namespace merro::tokensim {
namespace {

constexpr std::uint8_t kInsTokenSym = 0x23;
constexpr std::uint8_t kInsSm4 = 0x24;
constexpr size_t kBlock = 16;
constexpr size_t kMaxPiece = 128;
constexpr std::uint8_t kModeEcb = 1;
constexpr std::uint8_t kModeCbc = 2;
constexpr std::uint8_t kDecryptBit = 0x80;

struct SymKeySlot {
  SecretBytes key;
  Bytes chain;  // the CBC chaining value
  bool loaded = false;
};

struct SymCryptoState : TokenExtension {
  static constexpr const char* kName = "symcrypto";
  void ResetSecurityState() override { Forget(); }
  void Erase() override { Forget(); }
  void Forget() {
    for (SymKeySlot* slot : {&tokenSym, &sm4}) {
      slot->key.Wipe();
      slot->key.bytes().clear();
      slot->loaded = false;
    }
  }
  SymKeySlot tokenSym;
  SymKeySlot sm4;
};

const EVP_CIPHER* CipherOf(std::uint8_t ins, std::uint8_t mode) {
  if (ins == kInsSm4) {
    return mode == kModeEcb ? EVP_sm4_ecb() : EVP_sm4_cbc();
  }
  return mode == kModeEcb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
}

void SymCrypto(Token& token, const Command& cmd, Reply& reply) {
  auto& state = token.Ext<SymCryptoState>();
  SymKeySlot& slot = cmd.ins == kInsSm4 ? state.sm4 : state.tokenSym;
  if (cmd.p1 == 0x00) {
    if (cmd.p2 != 0) {
      reply.Fail(sw::kIncorrectP1P2);
      return;
    }
    if (!ExpectDataLen(cmd, cmd.ins == kInsSm4 ? 16 : 32, reply)) {
      return;
    }
    slot.key.bytes() = cmd.data;
    slot.chain.assign(kBlock, 0);
    slot.loaded = true;
    return;
  }
  const std::uint8_t mode = cmd.p2 & ~kDecryptBit;
  if (cmd.p1 != 0x01 || (mode != kModeEcb && mode != kModeCbc)) {
    reply.Fail(sw::kIncorrectP1P2);
    return;
  }
  if (!slot.loaded) {
    reply.Fail(sw::kConditionsNotSatisfied);
    return;
  }
  const size_t n = cmd.data.size();
  if (n == 0 || n > kMaxPiece || n % kBlock != 0 || cmd.le != n) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  const bool decrypt = (cmd.p2 & kDecryptBit) != 0;
  EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
  Bytes out(n + kBlock);
  int len = 0;
  int tail = 0;
  if (!ctx ||
      EVP_CipherInit_ex2(ctx.get(), CipherOf(cmd.ins, mode), slot.key.data(),
                         mode == kModeCbc ? slot.chain.data() : nullptr, decrypt ? 0 : 1,
                         nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_CipherUpdate(ctx.get(), out.data(), &len, cmd.data.data(), static_cast<int>(n)) != 1 ||
      EVP_CipherFinal_ex(ctx.get(), out.data() + len, &tail) != 1) {
    reply.Fail(sw::kInternal);
    return;
  }
  out.resize(n);
  // The chaining value runs on: the last ciphertext block of this frame.
  const Bytes& cipherText = decrypt ? cmd.data : out;
  slot.chain.assign(cipherText.end() - kBlock, cipherText.end());
  reply.data = std::move(out);
}

}  // namespace

void RegisterSymCryptoFamily(Dispatcher& d) {
  d.Add(kInsTokenSym, &SymCrypto);
  d.Add(kInsSm4, &SymCrypto);
}

}  // namespace merro::tokensim
