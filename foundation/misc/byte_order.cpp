#include "foundation/misc/byte_order.h"

#include <algorithm>

#include "foundation/trace/trace.h"

void SwapByteOrder(BYTE* pbyData, DWORD dwLength) {
  MR_TRACE("SwapByteOrder");
  if (pbyData == nullptr || dwLength < 2) {
    return;
  }
  std::reverse(pbyData, pbyData + dwLength);
}
