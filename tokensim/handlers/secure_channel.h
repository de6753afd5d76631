// Secure messaging of the simulated token: class 0xB4 command data arrive
// as one block (length byte L, L data bytes) SM4-CBC-encrypted under the
// session key with a zero IV and PKCS#7 padding, and the reply data of a
// protected command leave the same way. Without a session key a protected
// command is refused with 6982; a block that does not decrypt, or whose L
// exceeds what it holds, with 6988.
#pragma once

#include "tokensim/core/dispatcher.h"

namespace merro::tokensim {

// Protected reply data are at most this long: their block (240 bytes) must
// fit a reply transfer.
constexpr size_t kMaxProtectedData = 238;

const SecureChannel& SessionKeyChannel();

}  // namespace merro::tokensim
