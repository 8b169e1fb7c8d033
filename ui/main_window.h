// The main window's dialog procedure (dialog template 102).
#pragma once

#include "platform/window/windows_ui.h"

INT_PTR MainDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
