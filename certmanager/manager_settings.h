// The settings record the manager hands to the token layer: PINs kept for
// 600000 ms, the provider name, the default-PIN check, the TAVR message
// format, the bank's rules, and never the flag file (the manager does not
// look for it for this record).
#pragma once

#include "device/provider_settings.h"

namespace merro::certmanager {

inline ProviderSettings ManagerProviderSettings() { return DefaultProviderSettings(FALSE); }

}  // namespace merro::certmanager
