// The bridge between the mode engine and the system's cipher routines,
// which return 1 for success and 0 for failure and pass the output room in
// *pOutLen: on entry the room of out, on return the bytes written, or the
// bytes needed when the room was short (then nothing is written), or 0 on
// any other failure.
#pragma once

#include <cstdint>

#include "foundation/platform.h"

#include "tokenapi/crypto/modes/block_cipher.h"
#include "tokenapi/crypto/modes/block_mode.h"

namespace merro::crypto {

int ModeUpdate(const BlockCipher& cipher, BlockMode& mode, const std::uint8_t* in,
               DWORD inLen, std::uint8_t* out, DWORD* pOutLen);
int ModeFinal(const BlockCipher& cipher, BlockMode& mode, std::uint8_t* out,
              DWORD* pOutLen);

// Failure without output: *pOutLen (when given) becomes 0; returns 0.
int ModeFail(DWORD* pOutLen);

// The same for a context that carries its own engine; a null context fails.
int ContextUpdate(ModeCipherContext* ctx, const std::uint8_t* in, DWORD inLen,
                  std::uint8_t* out, DWORD* pOutLen);
int ContextFinal(ModeCipherContext* ctx, std::uint8_t* out, DWORD* pOutLen);

}  // namespace merro::crypto
