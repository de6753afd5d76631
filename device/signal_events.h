// The two auto-reset events through which the provider, after it wrote a
// certificate to a token, asks a running manager to refresh ("EVENT-A-{...}")
// and the manager answers ("EVENT-B-{...}"), named with the provider name.
// The device object and the manager's main dialog each create their own
// handles; an event that exists already is opened.
#pragma once

#include <windows.h>

namespace merro::device {

// The name buffer's length: "EVENT-A-{" and "}" leave 53 characters for the
// provider name.
inline constexpr size_t kSignalEventNameChars = 64;

// An auto-reset, non-signalled event "EVENT-<letter>-{<provider name>}";
// null when it cannot be made (the name does not fit, or the system refuses).
HANDLE CreateSignalEvent(wchar_t letter, const wchar_t* pwszProviderName);

}  // namespace merro::device
