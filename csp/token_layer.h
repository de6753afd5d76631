// Start and stop of the token layer in the provider library: the
// Container's TokenInitialize (with the provider's settings record, whose
// flag-file flag the caller found) and TokenUninitialize. The start opens
// every token, which waits for each token's sequence lock, so it runs at the
// provider's first call under the call lock, never in DllMain; the stop,
// which resets the tokens, after the last release, also under the call lock.
#pragma once

#include <windows.h>

namespace merro::csp {

HRESULT StartTokenLayer(BOOL flagFileExists);
HRESULT StopTokenLayer();

// Starts the token layer unless it has started in this load of the library:
// S_OK, or the failed start's code (the next call tries again). Called with
// the call lock held.
HRESULT EnsureTokenLayerStarted();
// After each call: once the last provider handle is gone and no call runs
// any more (none inside which this one ran), the token layer stops here, under the call lock,
// instead of at the unload that follows the last release under the loader
// lock: its stop resets the tokens. The thread's last error is kept.
void StopTokenLayerAfterLastRelease();
// The stop, when a start succeeded: after the last provider handle of the
// process is released (under the call lock, when no call runs any more), or
// at an unload that comes with handles still open.
void StopTokenLayerIfStarted();

}  // namespace merro::csp
