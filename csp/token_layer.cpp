#include "csp/token_layer.h"

#include <cstdlib>

#include "foundation/trace/trace.h"

namespace merro::csp {

HRESULT StartTokenLayer(BOOL flagFileExists) {
  MR_TRACE("StartTokenLayer");
#ifdef MERRO_WITH_SIMULATOR
  // Test builds: a failing start on demand, until the real start (which
  // fails with the simulator's port closed) stands here.
  if (const char* fail = std::getenv("MERRO_CSP_START_FAILURE")) {
    return static_cast<HRESULT>(std::strtoul(fail, nullptr, 0));
  }
#endif
  return S_OK;
}

HRESULT StopTokenLayer() {
  MR_TRACE("StopTokenLayer");
  return S_OK;
}

}  // namespace merro::csp
