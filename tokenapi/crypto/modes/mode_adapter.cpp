#include "tokenapi/crypto/modes/mode_adapter.h"

namespace merro::crypto {

namespace {
int Report(ModeResult result, std::size_t written, DWORD* pOutLen) {
  switch (result) {
    case ModeResult::kOk:
      *pOutLen = static_cast<DWORD>(written);
      return 1;
    case ModeResult::kBufferTooSmall:
      *pOutLen = static_cast<DWORD>(written);
      return 0;
    default:
      *pOutLen = 0;
      return 0;
  }
}
}  // namespace

int ModeFail(DWORD* pOutLen) {
  if (pOutLen != nullptr) {
    *pOutLen = 0;
  }
  return 0;
}

int ModeUpdate(const BlockCipher& cipher, BlockMode& mode, const std::uint8_t* in,
               DWORD inLen, std::uint8_t* out, DWORD* pOutLen) {
  if (pOutLen == nullptr || in == nullptr || out == nullptr) {
    return ModeFail(pOutLen);
  }
  std::size_t written = 0;
  const ModeResult result = mode.Update(cipher, in, inLen, out, *pOutLen, &written);
  return Report(result, written, pOutLen);
}

int ModeFinal(const BlockCipher& cipher, BlockMode& mode, std::uint8_t* out,
              DWORD* pOutLen) {
  if (pOutLen == nullptr || out == nullptr) {
    return ModeFail(pOutLen);
  }
  std::size_t written = 0;
  const ModeResult result = mode.Final(cipher, out, *pOutLen, &written);
  return Report(result, written, pOutLen);
}

int ContextUpdate(ModeCipherContext* ctx, const std::uint8_t* in, DWORD inLen,
                  std::uint8_t* out, DWORD* pOutLen) {
  return ctx == nullptr ? ModeFail(pOutLen) : ModeUpdate(*ctx, ctx->mode, in, inLen, out, pOutLen);
}

int ContextFinal(ModeCipherContext* ctx, std::uint8_t* out, DWORD* pOutLen) {
  return ctx == nullptr ? ModeFail(pOutLen) : ModeFinal(*ctx, ctx->mode, out, pOutLen);
}

}  // namespace merro::crypto
