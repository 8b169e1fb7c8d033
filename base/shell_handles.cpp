#include "base/shell_handles.h"

namespace {
// Stands in for the module: its address is the instance handle.
char s_module;
}  // namespace

HINSTANCE g_hInstance = &s_module;
UINT msgMutex = 0;
HANDLE hMutex = nullptr;
HBITMAP g_hBackgroundBitmap = nullptr;
HGDIOBJ g_hFillObject = nullptr;
