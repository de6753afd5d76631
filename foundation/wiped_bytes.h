// Byte buffers that are wiped before their memory is given back: for the
// copies of frames, replies, PIN digests and keys that any layer makes on
// its way to the token and back.
#pragma once

#include <cstddef>
#include <vector>

#include "foundation/platform.h"
#include "foundation/secure_wipe.h"

namespace merro {


// A zero-filled byte array that is wiped when it goes out of scope.
template <size_t N>
struct WipedBytes {
  WipedBytes() = default;
  WipedBytes(const WipedBytes&) = delete;
  WipedBytes& operator=(const WipedBytes&) = delete;
  ~WipedBytes() { merro::SecureWipe(bytes, N); }

  BYTE bytes[N] = {};
};

// Wipes what a byte vector holds when the scope ends. Declare it after the
// vector, so that it runs before the vector frees its memory, and let the
// vector grow no more once it holds secrets (a reallocation leaves the old
// block unwiped).
class WipeOnExit {
 public:
  explicit WipeOnExit(std::vector<BYTE>& bytes) : m_bytes(bytes) {}
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;
  ~WipeOnExit() { merro::SecureWipe(m_bytes.data(), m_bytes.size()); }

 private:
  std::vector<BYTE>& m_bytes;
};

}  // namespace merro
