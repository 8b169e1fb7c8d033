// Files dropped on a window from a file manager, with the Windows names: a window
// that accepts them (DragAcceptFiles) gets WM_DROPFILES with the drop's handle in
// wParam, and reads the dropped paths with DragQueryFileA.
#pragma once

#include <string>
#include <vector>

#include "platform/window/windows_ui.h"

constexpr UINT WM_DROPFILES = 0x0233;

// What a drop's handle points at: the dropped paths (UTF-8, absolute), in order.
struct DropRecord {
  std::vector<std::string> paths;
};
using HDROP = DropRecord*;

// Lets the dialog of hWnd take (or refuse) dropped files.
void DragAcceptFiles(HWND hWnd, BOOL accept);

// index 0xFFFFFFFF: the number of paths. Otherwise the length of path index; when
// buffer is given, the path is copied into it, cut to size - 1 characters and a NUL
// (a caller that must not cut compares the length with its size first).
UINT DragQueryFileA(HDROP drop, UINT index, char* buffer, UINT size);
// The drop's record belongs to the window toolkit, which frees it after the message.
void DragFinish(HDROP drop);
