// The wiped buffers under their earlier names; they live in
// foundation/wiped_bytes.h, where every layer may use them.
#pragma once

#include "foundation/wiped_bytes.h"

namespace merro::transport {

using merro::WipedBytes;
using merro::WipeOnExit;

}  // namespace merro::transport
