// The USB vendor and product IDs in a device-interface name such as
// "\\?\USB#VID_2F3D&PID_0301#0123#{a5dcbf10-6530-11d2-901f-00c04fb951ed}".
#pragma once

#include <windows.h>

#include <string>

// The four characters after "Vid_" and after "Pid_" (tags found without
// regard to case; more than four characters must follow each). A missing
// argument or tag, or too short a tail, gives 0x80070057.
HRESULT GetVidAndPidFromDBCCName(const wchar_t* wszName, std::wstring* pProductId,
                                 std::wstring* pVendorId);
