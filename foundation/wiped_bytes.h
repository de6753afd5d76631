// Byte buffers that are wiped before their memory is given back: for the
// copies of frames, replies, PIN digests and keys that any layer makes on
// its way to the token and back.
#pragma once

#include <cstddef>
#include <type_traits>
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

namespace detail {
inline void WipeValue(std::vector<BYTE>& bytes) { SecureWipe(bytes.data(), bytes.size()); }
template <typename T>
void WipeValue(T& value) {
  static_assert(std::is_trivially_copyable_v<T>, "a record or array of plain values");
  SecureWipe(&value, sizeof value);
}
}  // namespace detail

// Wipes what a byte vector holds, or a plain record or array kept on the
// stack, when the scope ends. Declare it after what it wipes, so that it
// runs first, and let a vector grow no more once it holds secrets (a
// reallocation leaves the old block unwiped).
template <typename T>
class WipeOnExit {
 public:
  explicit WipeOnExit(T& value) : m_value(value) {}
  WipeOnExit(const WipeOnExit&) = delete;
  WipeOnExit& operator=(const WipeOnExit&) = delete;
  ~WipeOnExit() { detail::WipeValue(m_value); }

 private:
  T& m_value;
};

}  // namespace merro
