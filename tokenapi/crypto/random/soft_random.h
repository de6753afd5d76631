// Random bytes drawn on the host.
#pragma once

#include "foundation/platform.h"

namespace merro::crypto {

// Writes count random bytes, each from 1 to 254, drawn from OpenSSL's
// private cryptographically secure generator (values 0 and 255 are drawn
// again). 0 for success; 0x80070057 when output is null with count > 0;
// 0x80090020 when the generator fails (the output is then wiped).
HRESULT GenSoftRandom(DWORD count, BYTE* output);

}  // namespace merro::crypto
