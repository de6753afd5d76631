// Places a dialog over the middle of its owner (or of the screen's work
// area when it has none).
#pragma once

#include <windows.h>

namespace merro::certmanager {

void CenterOverOwner(HWND hWnd);

}  // namespace merro::certmanager
