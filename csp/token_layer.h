// Start and stop of the token layer with the provider library.
//
// Not connected yet: both answer S_OK and do nothing. The Container issue
// connects them to Container::TokenInitialize (with the provider's settings
// record, built from flagFileExists) and Container::TokenUninitialize; the
// entry point already calls them where the library starts and stops.
#pragma once

#include <windows.h>

namespace merro::csp {

HRESULT StartTokenLayer(BOOL flagFileExists);
HRESULT StopTokenLayer();

}  // namespace merro::csp
