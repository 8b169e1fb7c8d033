// The Windows-named window functions, over the dialog facade (platform/window/dialog.h). They
// take the same arguments and give the same answers as their Windows namesakes for
// the uses this program has.
#pragma once

#include <cstddef>

#include "platform/window/dialog.h"

// Runs dialog template templateId modally with proc (see ui::Toolkit::RunDialog).
INT_PTR DialogBoxParamA(HINSTANCE hInstance, int templateId, HWND hWndParent, DLGPROC proc, LPARAM param);
BOOL EndDialog(HWND hDlg, INT_PTR result);
// A quit request: the running modal dialogs end (see ui::Toolkit::PostQuit).
void PostQuitMessage(int exitCode);

HWND GetDlgItem(HWND hDlg, int id);
// No window stands for the desktop here: null, which owners and engines accept.
HWND GetDesktopWindow();
int GetDlgCtrlID(HWND hWnd);

// Enables or disables a control; returns TRUE when it was disabled before.
BOOL EnableWindow(HWND hWnd, BOOL enable);
// A control: SW_HIDE hides it, anything else shows it. The dialog: SW_SHOWNORMAL
// restores and shows it. Returns TRUE when it was visible before.
BOOL ShowWindow(HWND hWnd, int nCmdShow);
BOOL IsWindowVisible(HWND hWnd);
HWND SetFocus(HWND hWnd);
// Brings the dialog of hWnd to the front.
BOOL SetForegroundWindow(HWND hWnd);

// The caption of a dialog, or the text of a control.
BOOL SetWindowTextA(HWND hWnd, const char* text);
BOOL SetDlgItemTextA(HWND hDlg, int id, const char* text);
// Copies at most maxCount - 1 characters and a NUL; returns the characters copied.
UINT GetDlgItemTextA(HWND hDlg, int id, char* buffer, int maxCount);

BOOL CheckDlgButton(HWND hDlg, int id, UINT check);
UINT IsDlgButtonChecked(HWND hDlg, int id);

// Sends a message to a dialog's procedure (to a control: to its dialog's procedure)
// and returns the answer.
LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

// A message box owned by hWnd, or by no window when hWnd is nullptr. MB_OK boxes
// answer IDOK.
int MessageBoxA(HWND hWnd, const char* text, const char* caption, UINT type);
