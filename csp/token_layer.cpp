#include "csp/token_layer.h"

#include <cstdlib>

#include "device/provider_settings.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"

namespace merro::csp {

HRESULT StartTokenLayer(BOOL flagFileExists) {
  MR_TRACE("StartTokenLayer");
#ifdef MERRO_WITH_SIMULATOR
  // Test builds: a failing start on demand, with a code of the test's choice.
  if (const char* fail = std::getenv("MERRO_CSP_START_FAILURE")) {
    return static_cast<HRESULT>(std::strtoul(fail, nullptr, 0));
  }
#endif
  return merro::provider::Container::TokenInitialize(DefaultProviderSettings(flagFileExists));
}

HRESULT StopTokenLayer() {
  MR_TRACE("StopTokenLayer");
  return merro::provider::Container::TokenUninitialize();
}

}  // namespace merro::csp
