#include "platform/window/winuser.h"

#include "platform/window/common_dialogs.h"

#include <algorithm>
#include <cstring>
#include <string>

using ui::Dialog;
using ui::DialogFromHandle;
using ui::Window;

namespace {

const Window* AsWindow(HWND hWnd) { return static_cast<const Window*>(hWnd); }

}  // namespace

INT_PTR DialogBoxParamA(HINSTANCE, int templateId, HWND hWndParent, DLGPROC proc, LPARAM param) {
  ui::Toolkit* toolkit = ui::CurrentToolkit();
  if (toolkit == nullptr) return -1;
  return toolkit->RunDialog(templateId, hWndParent, proc, param);
}

BOOL EndDialog(HWND hDlg, INT_PTR result) {
  Dialog* dialog = DialogFromHandle(hDlg);
  if (dialog == nullptr) return FALSE;
  dialog->End(result);
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  if (ui::Toolkit* toolkit = ui::CurrentToolkit()) toolkit->PostQuit(exitCode);
}

HWND GetDlgItem(HWND hDlg, int id) {
  Dialog* dialog = DialogFromHandle(hDlg);
  return dialog == nullptr ? nullptr : dialog->Item(id);
}

HWND GetDesktopWindow() { return nullptr; }

int GetDlgCtrlID(HWND hWnd) { return hWnd == nullptr ? 0 : AsWindow(hWnd)->Id(); }

BOOL EnableWindow(HWND hWnd, BOOL enable) {
  if (hWnd == nullptr || AsWindow(hWnd)->IsDialog()) return FALSE;
  Dialog& dialog = *DialogFromHandle(hWnd);
  const int id = AsWindow(hWnd)->Id();
  const bool wasDisabled = !dialog.IsItemEnabled(id);
  dialog.EnableItem(id, enable != FALSE);
  return wasDisabled ? TRUE : FALSE;
}

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  if (hWnd == nullptr) return FALSE;
  Dialog& dialog = *DialogFromHandle(hWnd);
  if (AsWindow(hWnd)->IsDialog()) {
    if (nCmdShow != SW_HIDE) dialog.BringToFront();
    return TRUE;
  }
  const int id = AsWindow(hWnd)->Id();
  const bool wasVisible = dialog.IsItemVisible(id);
  dialog.ShowItem(id, nCmdShow != SW_HIDE);
  return wasVisible ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hWnd) {
  if (hWnd == nullptr) return FALSE;
  if (AsWindow(hWnd)->IsDialog()) return TRUE;
  return DialogFromHandle(hWnd)->IsItemVisible(AsWindow(hWnd)->Id()) ? TRUE : FALSE;
}

HWND SetFocus(HWND hWnd) {
  if (hWnd == nullptr || AsWindow(hWnd)->IsDialog()) return nullptr;
  Dialog& dialog = *DialogFromHandle(hWnd);
  const int previous = dialog.FocusedItem();
  dialog.FocusItem(AsWindow(hWnd)->Id());
  return previous == 0 ? nullptr : dialog.Item(previous);
}

BOOL SetForegroundWindow(HWND hWnd) {
  Dialog* dialog = DialogFromHandle(hWnd);
  if (dialog == nullptr) return FALSE;
  dialog->BringToFront();
  return TRUE;
}

BOOL SetWindowTextA(HWND hWnd, const char* text) {
  if (hWnd == nullptr) return FALSE;
  Dialog& dialog = *DialogFromHandle(hWnd);
  const std::string value = text == nullptr ? "" : text;
  if (AsWindow(hWnd)->IsDialog()) {
    dialog.SetTitle(value);
  } else {
    dialog.SetItemText(AsWindow(hWnd)->Id(), value);
  }
  return TRUE;
}

BOOL SetDlgItemTextA(HWND hDlg, int id, const char* text) {
  Dialog* dialog = DialogFromHandle(hDlg);
  if (dialog == nullptr || !dialog->HasItem(id)) return FALSE;
  dialog->SetItemText(id, text == nullptr ? "" : text);
  return TRUE;
}

UINT GetDlgItemTextA(HWND hDlg, int id, char* buffer, int maxCount) {
  if (buffer == nullptr || maxCount <= 0) return 0;
  buffer[0] = '\0';
  Dialog* dialog = DialogFromHandle(hDlg);
  if (dialog == nullptr || !dialog->HasItem(id)) return 0;
  const std::string text = dialog->ItemText(id);
  const std::size_t count = std::min(text.size(), static_cast<std::size_t>(maxCount - 1));
  std::memcpy(buffer, text.data(), count);
  buffer[count] = '\0';
  return static_cast<UINT>(count);
}

BOOL CheckDlgButton(HWND hDlg, int id, UINT check) {
  Dialog* dialog = DialogFromHandle(hDlg);
  if (dialog == nullptr || !dialog->HasItem(id)) return FALSE;
  dialog->SetCheck(id, check);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND hDlg, int id) {
  Dialog* dialog = DialogFromHandle(hDlg);
  return dialog == nullptr ? BST_UNCHECKED : dialog->GetCheck(id);
}

LRESULT SendMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (SendToFolderBrowser(hWnd, msg, wParam, lParam)) return 0;
  Dialog* dialog = DialogFromHandle(hWnd);
  return dialog == nullptr ? 0 : dialog->Send(msg, wParam, lParam);
}

int MessageBoxA(HWND hWnd, const char* text, const char* caption, UINT type) {
  const std::string body = text == nullptr ? "" : text;
  const std::string title = caption == nullptr ? "Error" : caption;
  if (Dialog* dialog = DialogFromHandle(hWnd)) return dialog->MessageBox(body, title, type);
  ui::Toolkit* toolkit = ui::CurrentToolkit();
  return toolkit == nullptr ? 0 : toolkit->MessageBox(body, title, type);
}
