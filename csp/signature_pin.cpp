#include "csp/signature_pin.h"

#include <cstring>

#include "provider/container.h"

namespace merro::csp {

void SetSignaturePIN(CoreCall& call, Container* pContainer, const BYTE* pbData) {
  const void* pEnd = std::memchr(pbData, 0, kMaxSignaturePINBytes);
  if (call.Check(pEnd != nullptr, L"Check PIN length", ERROR_INVALID_PARAMETER)) {
    const DWORD dwLength = static_cast<DWORD>(static_cast<const BYTE*>(pEnd) - pbData);
    // The container keeps it protected, or does not: either way the call
    // succeeds.
    pContainer->SetUserPIN(pbData, dwLength);
  }
}

}  // namespace merro::csp
