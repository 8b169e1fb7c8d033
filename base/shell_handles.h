// The handles start-up creates for the whole process: the single-instance message
// and mutex, and the background pattern of the windows. They live until the process
// ends.
#pragma once

#include "platform/core/wintypes.h"

// The program's instance handle (passed to the dialogs; no resources are loaded
// through it).
extern HINSTANCE g_hInstance;
// The id of the registered message "open halvane": the main window comes to the front.
extern UINT msgMutex;
// The named mutex "halvane - mutex", owned by the main thread until the main window
// is destroyed.
extern HANDLE hMutex;
// The pattern bitmap of the windows' background (CreateFillBmp), and the second
// object CreateFillBmp returns; the main window deletes both when it closes.
extern HBITMAP g_hBackgroundBitmap;
extern HGDIOBJ g_hFillObject;
