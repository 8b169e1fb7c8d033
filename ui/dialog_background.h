// The look the program's dialogs share: the background pattern made at start-up under
// labels that lie directly on it.
#pragma once

#include "platform/window/windows_ui.h"

// Fills the client area of hDlg on hdc with the background pattern (WM_ERASEBKGND).
void PaintPatternBackground(HWND hDlg, HDC hdc);

// Sets hdc to draw a static control's text without a background and answers the hollow
// brush, so the control lies directly on the pattern (WM_CTLCOLORSTATIC).
INT_PTR TransparentStatic(HDC hdc);
