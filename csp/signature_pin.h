// A PIN handed to the provider as a parameter (PP_SIGNATURE_PIN of a provider
// handle, KP_SIGNATURE_PIN of a key): 8-bit text that the container keeps
// for the next signatures.
#pragma once

#include "csp/core_call.h"
#include "csp/registries.h"

namespace merro::csp {

// The longest PIN text read, its terminator included.
constexpr size_t kMaxSignaturePINBytes = 260;

// Hands the PIN at pbData to the container. Its terminator must come within
// the bound: nothing past it is read, so an unterminated buffer is refused
// (step "Check PIN length", 87) instead of scanned to its end. What the
// container answers does not fail the call.
void SetSignaturePIN(CoreCall& call, Container* pContainer, const BYTE* pbData);

}  // namespace merro::csp
