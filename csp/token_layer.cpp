#include "csp/token_layer.h"

#include <cstdlib>
#include <memory>

#include "csp/deferred_release.h"
#include "csp/flag_file.h"
#include "csp/registries.h"
#include "device/provider_settings.h"
#include "foundation/trace/trace.h"
#include "provider/container.h"

#ifdef MERRO_WITH_SIMULATOR
#include "device/ui/scripted_user_interface.h"
#endif

namespace merro::csp {

#ifdef MERRO_WITH_SIMULATOR
namespace {

// Test builds: advapi32 loads this library, so a test cannot hand it a
// scripted interface; it names a script (and a transcript file) in the
// environment instead. What the start installed, the stop takes out again,
// putting back what was there before.
bool g_scriptedUiInstalled = false;
std::unique_ptr<ui::UserInterface> g_uiBefore;

void InstallScriptedUiFromEnvironment() {
  std::unique_ptr<merro::testing::ScriptedUserInterface> scripted =
      merro::testing::ScriptedUserInterface::FromEnvironment();
  if (scripted == nullptr || g_scriptedUiInstalled) {
    return;
  }
  g_uiBefore = ui::UserInterface::Install(std::move(scripted));
  g_scriptedUiInstalled = true;
}

void RemoveScriptedUi() {
  if (g_scriptedUiInstalled) {
    ui::UserInterface::Install(std::move(g_uiBefore));
    g_scriptedUiInstalled = false;
  }
}

}  // namespace
#endif

HRESULT StartTokenLayer(BOOL flagFileExists) {
  MR_TRACE("StartTokenLayer");
#ifdef MERRO_WITH_SIMULATOR
  // Test builds: a failing start on demand, with a code of the test's choice.
  if (const char* fail = std::getenv("MERRO_CSP_START_FAILURE")) {
    return static_cast<HRESULT>(std::strtoul(fail, nullptr, 0));
  }
  InstallScriptedUiFromEnvironment();
#endif
  return merro::provider::Container::TokenInitialize(DefaultProviderSettings(flagFileExists));
}

namespace {

// Set and read only under the call lock, or at unload.
bool g_tokenLayerStarted = false;

}  // namespace

HRESULT EnsureTokenLayerStarted() {
  if (g_tokenLayerStarted) {
    return S_OK;
  }
  const HRESULT hResult = StartTokenLayer(FlagFileExists());
  g_tokenLayerStarted = hResult == S_OK;
  if (g_tokenLayerStarted) {
    MR_TRACE_UNDER("EnsureTokenLayerStarted");
    MR_LOG_STEP(L"TokenInitialize");
  }
  return hResult;
}

void StopTokenLayerAfterLastRelease() {
  if (g_tokenLayerStarted && !CoreCallRunning() && QueuedObjectCount() == 0 &&
      g_vtrProvHandleSet.Handles().empty()) {
    const DWORD dwError = ::GetLastError();
    StopTokenLayerIfStarted();
    ::SetLastError(dwError);
  }
}

void StopTokenLayerIfStarted() {
  if (g_tokenLayerStarted) {
    g_tokenLayerStarted = false;
    StopTokenLayer();
  }
}

HRESULT StopTokenLayer() {
  MR_TRACE("StopTokenLayer");
  const HRESULT hResult = merro::provider::Container::TokenUninitialize();
#ifdef MERRO_WITH_SIMULATOR
  RemoveScriptedUi();
#endif
  return hResult;
}

}  // namespace merro::csp
