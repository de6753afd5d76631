// The background of a static control we paint ourselves: what the parent
// gives its static controls (WM_CTLCOLORSTATIC), so that our controls stand
// on the dialog's own colour like the system's.
#pragma once

#include <windows.h>

namespace merro::ui {

// Fills `control`'s client area on `hdc` with the parent's static brush (the
// button face colour when the parent gives none). The parent may also set
// the text colour on `hdc`, as for a system static control.
void FillStaticBackground(HWND control, HDC hdc);

}  // namespace merro::ui
