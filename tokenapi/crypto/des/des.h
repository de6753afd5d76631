// Single DES and triple DES (FIPS 46-3) behind the mode engine, with the
// system's set-up, update and final routines. Each returns 1 for success
// and 0 for failure.
//
// Directions of the DES context: 0 = encrypt, 1 = decrypt. Mode 1 = ECB,
// any other value = CBC. Key orders of the set-ups (K1, K2, K3 = key bytes
// 0-7, 8-15, 16-23):
//   deskey   8 bytes   E_K1 / D_K1
//   des2key 16 bytes   E_K1(D_K2(E_K1)) with K3 = K1
//   des3key 24 bytes   C = E_K3(D_K2(E_K1(P))), P = D_K1(E_K2(D_K3(C)))
//
// *pOutLen of update and final: the room of out on entry, the bytes written
// (or needed) on return, as modes/mode_adapter.h describes.
#pragma once

#include <cstdint>

#include "foundation/platform.h"

#include "tokenapi/crypto/des/des_core.h"
#include "tokenapi/crypto/modes/block_mode.h"

namespace merro::crypto {

constexpr std::uint32_t kDesEncrypt = 0;
constexpr std::uint32_t kDesDecrypt = 1;

// One context type for single DES and both kinds of triple DES: up to three
// schedules, the chaining value and the waiting bytes. Wiped on destruction.
struct MR_DES_CTX final : ModeCipherContext {
  ~MR_DES_CTX() override;

  std::size_t BlockBytes() const override { return kDesBlockBytes; }
  void ProcessBlock(const std::uint8_t* in, std::uint8_t* out) const override;

  DesSchedule schedule[3] = {};
  std::size_t passes = 0;  // 1 for single DES, 3 for triple DES; 0 before set-up
};

// Set-ups: key bytes as above, iv (8 bytes) or null for zeros. 0 when ctx or
// key is null or the direction is neither 0 nor 1.
int deskey(MR_DES_CTX* ctx, std::uint32_t direction, const std::uint8_t* key, std::uint32_t mode,
           const std::uint8_t* iv);
int des2key(MR_DES_CTX* ctx, std::uint32_t direction, const std::uint8_t* key, std::uint32_t mode,
            const std::uint8_t* iv);
int des3key(MR_DES_CTX* ctx, std::uint32_t direction, const std::uint8_t* key, std::uint32_t mode,
            const std::uint8_t* iv);

// Update and final of single DES (algorithm 2) and triple DES (3 and 4).
int desupdate(MR_DES_CTX* ctx, const std::uint8_t* in, DWORD inLen, std::uint8_t* out,
              DWORD* pOutLen);
int desfinal(MR_DES_CTX* ctx, std::uint8_t* out, DWORD* pOutLen);
int des3update(MR_DES_CTX* ctx, const std::uint8_t* in, DWORD inLen, std::uint8_t* out,
               DWORD* pOutLen);
int des3final(MR_DES_CTX* ctx, std::uint8_t* out, DWORD* pOutLen);

}  // namespace merro::crypto
