// The window-system vocabulary the dialog procedures are written in: message
// numbers, notification codes, command ids, show states and the small records that
// travel with messages. The values are those of the Windows user interface, so the
// procedures read the way the window's behaviour is described.
#pragma once

#include <cstdint>

#include "platform/core/wintypes.h"

using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using LONG_PTR = std::intptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// More GDI handles (see ui/gdi.h); a device context is valid only during the message
// that carries it.
using HBRUSH = void*;
using HDC = void*;

// A dialog procedure: TRUE for a handled message, FALSE to leave it to the dialog
// manager (WM_CTLCOLORSTATIC answers with a brush handle or FALSE).
using DLGPROC = INT_PTR (*)(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};

// The header of every WM_NOTIFY record.
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};

// The record of the list view's item notifications (LVN_ITEMCHANGED, LVN_INSERTITEM,
// LVN_DELETEITEM, LVN_DELETEALLITEMS, NM_CLICK).
struct NMLISTVIEW {
  NMHDR hdr;
  int iItem;
  int iSubItem;
  UINT uNewState;
  UINT uOldState;
  UINT uChanged;
  LPARAM lParam;
};

// The list view's key notification (LVN_KEYDOWN): the virtual key pressed while the
// list has the focus.
struct NMLVKEYDOWN {
  NMHDR hdr;
  WORD wVKey;
  UINT flags;
};

constexpr WORD LOWORD(WPARAM v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(WPARAM v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(unsigned low, unsigned high) {
  return static_cast<WPARAM>((low & 0xFFFF) | ((high & 0xFFFF) << 16));
}

// Window messages.
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
// Registered messages ("open halvane") have ids from here up.
constexpr UINT kFirstRegisteredMessage = 0xC000;

// Command ids of the dialog manager.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Notification codes in the high word of WM_COMMAND's wParam.
constexpr UINT BN_CLICKED = 0;
constexpr UINT CBN_SELCHANGE = 1;

// WM_NOTIFY codes.
constexpr UINT NM_CLICK = static_cast<UINT>(-2);
constexpr UINT NM_DBLCLK = static_cast<UINT>(-3);
constexpr UINT LVN_ITEMCHANGED = static_cast<UINT>(-101);
constexpr UINT LVN_INSERTITEM = static_cast<UINT>(-102);
constexpr UINT LVN_DELETEITEM = static_cast<UINT>(-103);
constexpr UINT LVN_DELETEALLITEMS = static_cast<UINT>(-111);
constexpr UINT LVN_KEYDOWN = static_cast<UINT>(-155);
constexpr UINT TRBN_THUMBPOSCHANGING = static_cast<UINT>(-1502);

// List view item states.
constexpr UINT LVIS_FOCUSED = 0x0001;
constexpr UINT LVIS_SELECTED = 0x0002;
constexpr UINT LVIF_STATE = 0x0008;

// Virtual keys.
constexpr WORD VK_DELETE = 0x2E;

// ShowWindow states.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

// Check states.
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;

// Message boxes.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONINFORMATION = 0x00000040;

// "No selection" of a combo box.
constexpr int CB_ERR = -1;
