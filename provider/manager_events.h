// The certificate manager's single-instance event, which tells other
// processes that a manager runs. The provider opens it after a certificate
// import to learn whether to hand the store work to the manager.
#pragma once

#include <windows.h>

namespace merro::provider {

inline constexpr wchar_t g_wszInstanceEventName[] = L"{52FF9CFD-8C4F-4AD8-85D5-6EC27E9D0626}";

// How long a provider waits for the manager's answer (EVENT-B) after it
// signalled EVENT-A.
inline constexpr DWORD kManagerAnswerWaitMs = 5000;

}  // namespace merro::provider
