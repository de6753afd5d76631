// The name list of the attached tokens as EnumDevice gives it, read into a
// buffer of the one size every enumeration of the device object uses: the
// refresh of the device list and the manager's refresh hold.
#pragma once

#include "foundation/owned_bytes.h"
#include "foundation/platform.h"

namespace merro::device {

// The attached tokens' names, each ending in a zero byte, one after another
// in the first dwSize bytes (never more than the buffer holds).
struct AttachedTokenList {
  OwnedBytes bytes;
  DWORD dwSize = 0;
  const char* names() const { return reinterpret_cast<const char*>(bytes.get()); }
};

// A new buffer, then EnumDevice into it. Failures are logged under
// `function`: no buffer gives 0x8007000E (step "New buffer"), a failed
// EnumDevice E_FAIL with the caller's step and reason.
HRESULT EnumAttachedTokens(const char* function, const wchar_t* enumStep,
                           const wchar_t* enumReason, AttachedTokenList* pList);

}  // namespace merro::device
