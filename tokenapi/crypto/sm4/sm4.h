// SM4 behind the mode engine, with the system's cipher routines. Each
// returns 1 for success and 0 for failure.
//
// Directions of SM4_CTX: 1 = encrypt, 0 = decrypt. Mode 1 = ECB, any other
// value = CBC (the system passes 2).
//
// *pOutLen of update and final: the room of out on entry, the bytes written
// (or needed) on return, as modes/mode_adapter.h describes.
#pragma once

#include <cstdint>

#include "foundation/platform.h"

#include "tokenapi/crypto/modes/block_mode.h"
#include "tokenapi/crypto/sm4/sm4_core.h"

namespace merro::crypto {

constexpr std::uint32_t kSm4Encrypt = 1;
constexpr std::uint32_t kSm4Decrypt = 0;

// Round keys in the order the block function uses them (reversed for
// decryption), chaining value and waiting bytes. Wiped on destruction.
struct SM4_CTX final : ModeCipherContext {
  ~SM4_CTX() override;

  std::size_t BlockBytes() const override { return kSm4BlockBytes; }
  void ProcessBlock(const std::uint8_t* in, std::uint8_t* out) const override;

  std::uint32_t rk[kSm4Rounds] = {};
};

// Fills ctx for one direction: 16 key bytes, iv (16 bytes) or null for
// zeros. 0 when ctx or key is null or encrypt is neither 0 nor 1.
int sm4key(SM4_CTX* ctx, std::uint32_t encrypt, const std::uint8_t* key, const std::uint8_t* iv,
           std::uint32_t mode);
int sm4update(SM4_CTX* ctx, const std::uint8_t* in, DWORD inLen, std::uint8_t* out,
              DWORD* pOutLen);
int sm4final(SM4_CTX* ctx, std::uint8_t* out, DWORD* pOutLen);

}  // namespace merro::crypto
