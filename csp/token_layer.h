// Start and stop of the token layer in the provider library: the
// Container's TokenInitialize (with the provider's settings record, whose
// flag-file flag the caller found) and TokenUninitialize. The start opens
// every token, which waits for each token's sequence lock, so it runs at the
// provider's first call under the call lock, never in DllMain.
#pragma once

#include <windows.h>

namespace merro::csp {

HRESULT StartTokenLayer(BOOL flagFileExists);
HRESULT StopTokenLayer();

// Starts the token layer unless it has started in this load of the library:
// S_OK, or the failed start's code (the next call tries again). Called with
// the call lock held.
HRESULT EnsureTokenLayerStarted();
// The stop at unload, when a start succeeded.
void StopTokenLayerIfStarted();

}  // namespace merro::csp
