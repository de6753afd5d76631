// The secret kinds of the owned buffers: PINs, keys and plaintext, wiped
// whenever their bytes are released, so no copy of a secret outlives its use.
#pragma once

#include "foundation/owned_bytes.h"

namespace merro {

using SecretBytes = BasicOwnedBytes<BYTE, true>;
using SecretText = BasicOwnedBytes<char, true>;

}  // namespace merro
