// The file-open dialog and the folder browser with their Windows names and records,
// over the dialog facade's OpenFiles and BrowseForFolder. Their answers are shaped
// the way a Windows program reads them.
#pragma once

#include <cstddef>

#include "platform/window/windows_ui.h"

constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_EXPLORER = 0x00080000;

struct OPENFILENAMEA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  const char* lpstrFilter;  // pairs of description and ';'-separated patterns, each
                            // NUL-terminated, the list ending with an empty string
  char* lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  char* lpstrFile;  // the answer (see GetOpenFileNameA)
  DWORD nMaxFile;
  char* lpstrFileTitle;  // the chosen file's name
  DWORD nMaxFileTitle;
  const char* lpstrInitialDir;
  const char* lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  const char* lpstrDefExt;
};

// Runs the file-open dialog owned by ofn->hwndOwner. FALSE when cancelled, or when
// the answer does not fit its buffers (nothing is written then). One file chosen:
// lpstrFile holds its full path and lpstrFileTitle its name. Several files chosen
// (OFN_ALLOWMULTISELECT): lpstrFile holds their folder, then each name, every one
// NUL-terminated, the last followed by an empty string; lpstrFileTitle is emptied.
BOOL GetOpenFileNameA(OPENFILENAMEA* ofn);

constexpr UINT BIF_RETURNONLYFSDIRS = 0x0001;
constexpr UINT BIF_DONTGOBELOWDOMAIN = 0x0002;
constexpr UINT BFFM_INITIALIZED = 1;
constexpr UINT BFFM_SETSELECTIONA = 0x0466;

using BFFCALLBACK = int (*)(HWND hwnd, UINT msg, LPARAM lParam, LPARAM lpData);
using PIDLIST_ABSOLUTE = void*;

struct BROWSEINFOA {
  HWND hwndOwner;
  PIDLIST_ABSOLUTE pidlRoot;
  char* pszDisplayName;
  const char* lpszTitle;
  UINT ulFlags;
  BFFCALLBACK lpfn;
  LPARAM lParam;
  int iImage;
};

// Runs the folder browser owned by bi->hwndOwner. Before it shows, the callback gets
// BFFM_INITIALIZED with the browser's handle; sending that handle BFFM_SETSELECTIONA
// (wParam TRUE, lParam a path) chooses the folder it opens with. Returns the chosen
// folder as an item list to free with CoTaskMemFree, or null when cancelled.
PIDLIST_ABSOLUTE SHBrowseForFolderA(const BROWSEINFOA* bi);
// Copies the item list's path (at most 4096 bytes with the NUL) into path. (The list
// is freed with CoTaskMemFree, platform/com/com.h.)
BOOL SHGetPathFromIDListA(PIDLIST_ABSOLUTE pidl, char* path);

// For SendMessageA: a message to a running folder browser's handle. TRUE when hWnd is
// one (the message is then handled), FALSE for any other handle.
BOOL SendToFolderBrowser(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
