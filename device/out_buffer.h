// Buffers the device object hands to its callers: array new, so that the
// caller frees them with delete[]; held in a unique_ptr until every output
// of the call is ready, so that a failure hands out nothing.
#pragma once

#include <cstring>
#include <memory>
#include <new>

#include "foundation/platform.h"

namespace merro::device {

// A new copy of pbyData; empty when memory ran out.
inline std::unique_ptr<BYTE[]> NewByteCopy(const BYTE* pbyData, DWORD dwSize) {
  std::unique_ptr<BYTE[]> copy(new (std::nothrow) BYTE[dwSize]);
  if (copy != nullptr && dwSize != 0) {
    std::memcpy(copy.get(), pbyData, dwSize);
  }
  return copy;
}

}  // namespace merro::device
