// The manager's one way to the notification area: Shell_NotifyIconW behind a
// replaceable function, so that tests record every call with its tip and
// balloon (the system's answer under Wine is TRUE, and nothing is shown).
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace merro::certmanager {

using NotifyIconFunction = BOOL(WINAPI*)(DWORD dwMessage, PNOTIFYICONDATAW pData);

// The record's size given to the shell: the layout with the balloon fields
// and the item GUID (on x64 968 bytes; sizeof of the platform header's
// record adds a newer field).
inline constexpr DWORD kNotifyIconDataSize = NOTIFYICONDATAW_V3_SIZE;

// Calls the installed function (Shell_NotifyIconW unless replaced).
BOOL NotifyIcon(DWORD dwMessage, PNOTIFYICONDATAW pData);

// Installs `function` (null: Shell_NotifyIconW again) and returns the one it
// replaces. For tests; set it before the tray thread starts.
NotifyIconFunction SetNotifyIconFunction(NotifyIconFunction function);

}  // namespace merro::certmanager
