// The RC4 stream cipher with the system's cipher routines (1 for success,
// 0 for failure). Encryption and decryption are the same operation; nothing
// is held back and nothing is padded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "foundation/platform.h"

namespace merro::crypto {

constexpr std::size_t kRc4MaxKeyBytes = 256;

// The permutation S and the two indices. Wiped on destruction.
struct MR_RC4_KEY {
  MR_RC4_KEY() = default;
  ~MR_RC4_KEY();
  MR_RC4_KEY(const MR_RC4_KEY&) = delete;
  MR_RC4_KEY& operator=(const MR_RC4_KEY&) = delete;

  std::uint8_t s[256] = {};
  std::uint8_t i = 0;
  std::uint8_t j = 0;
  bool keyed = false;
};

// The key schedule over keyLen (1 to 256) bytes of key; 0 when key or state
// is null or keyLen is out of range.
int rc4key(const std::uint8_t* key, DWORD keyLen, MR_RC4_KEY* state);
// XORs len bytes of key stream into out (out may be in). *pOutLen holds the
// room of out on entry and len on return; when the room is short nothing
// is written, 0 is returned and *pOutLen holds len. 0 also when state, in or
// out is null or the state has no key.
int rc4update(MR_RC4_KEY* state, const std::uint8_t* in, DWORD len, std::uint8_t* out,
              DWORD* pOutLen);
// RC4 holds nothing back: *pOutLen = 0. 0 when state or pOutLen is null.
int rc4final(MR_RC4_KEY* state, DWORD* pOutLen);

}  // namespace merro::crypto
