// Start and stop of the token layer with the provider library: the
// Container's TokenInitialize (with the provider's settings record, whose
// flag-file flag the caller found) and TokenUninitialize.
#pragma once

#include <windows.h>

namespace merro::csp {

HRESULT StartTokenLayer(BOOL flagFileExists);
HRESULT StopTokenLayer();

}  // namespace merro::csp
