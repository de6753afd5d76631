#include "tokenapi/crypto/sm4/sm4.h"

#include <algorithm>

#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/bytes.h"
#include "tokenapi/crypto/modes/mode_adapter.h"

namespace merro::crypto {

SM4_CTX::~SM4_CTX() { SecureWipe(rk, sizeof(rk)); }

void SM4_CTX::ProcessBlock(const std::uint8_t* in, std::uint8_t* out) const {
  SM4_Block(in, rk, out);
}

int sm4key(SM4_CTX* ctx, std::uint32_t encrypt, const std::uint8_t* key, const std::uint8_t* iv,
           std::uint32_t mode) {
  if (ctx == nullptr || key == nullptr || (encrypt != kSm4Encrypt && encrypt != kSm4Decrypt)) {
    return 0;
  }
  SM4_SetKey(key, ctx->rk);
  if (encrypt == kSm4Decrypt) {
    // One block function serves both directions: decryption runs the round
    // keys backwards.
    std::reverse(ctx->rk, ctx->rk + kSm4Rounds);
  }
  ctx->mode.Start(*ctx, mode == MR_MODE_ECB ? Chaining::kEcb : Chaining::kCbc,
                  encrypt == kSm4Encrypt ? Direction::kEncrypt : Direction::kDecrypt, iv);
  return 1;
}

int sm4update(SM4_CTX* ctx, const std::uint8_t* in, DWORD inLen, std::uint8_t* out,
              DWORD* pOutLen) {
  return ContextUpdate(ctx, in, inLen, out, pOutLen);
}

int sm4final(SM4_CTX* ctx, std::uint8_t* out, DWORD* pOutLen) {
  return ContextFinal(ctx, out, pOutLen);
}

}  // namespace merro::crypto
