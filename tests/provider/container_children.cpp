#include "tests/provider/container_children.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "provider/container.h"

namespace merro::testing {

bool RunContainerChild(int argc, char** argv, int* pExitCode) {
  if (argc != 2 || std::string(argv[1]) != kClosedPortChildFlag) {
    return false;
  }
  using merro::provider::Container;
  // Port 1 on the loopback interface: nothing listens there.
  _putenv("MERRO_TOKEN_SIM=127.0.0.1:1");
  const HRESULT first = Container::TokenInitialize(DefaultProviderSettings(FALSE));
  std::printf("first start 0x%08lX\n", static_cast<unsigned long>(first));
  if (SUCCEEDED(first) || g_pDeviceHandle != nullptr) {
    *pExitCode = 1;
    return true;
  }
  if (Container::TokenInitialize(DefaultProviderSettings(FALSE)) != S_OK ||
      g_pDeviceHandle != nullptr) {
    *pExitCode = 2;
    return true;
  }
  *pExitCode = Container::TokenUninitialize() == E_FAIL ? 0 : 3;
  return true;
}

}  // namespace merro::testing
