// The main window: its creation, painting, bring-to-front, and leaving by Exit or the
// close box.
#include "ui/main_window.h"

#include <cstring>

#include "base/debug_log.h"
#include "base/shell_handles.h"
#include "platform/instance/single_instance.h"
#include "ui/drawing_helpers.h"
#include "ui/gdi.h"
#include "platform/window/winuser.h"

namespace {

// Control ids of the main window.
constexpr int IDC_ABOUT = 2001;
constexpr int IDC_ADDFILE = 2004;
constexpr int IDC_REMOVEFILE = 2005;
constexpr int IDC_REMOVEALL = 2006;
constexpr int IDC_PLAYFILE = 2007;
constexpr int IDC_CONVERT = 2008;
constexpr int IDC_OUTPUTDIR = 2012;
constexpr int IDC_SAMEDIRECTORY = 2014;
constexpr int IDC_FILELABEL = 2016;
constexpr int IDC_TIMELABEL = 2015;
constexpr int IDC_STOPPLAYING = 2017;
constexpr int IDC_ABORT = 2018;
constexpr int IDC_TEMPOGROUP = 2025;
constexpr int IDC_TEMPO = 2026;
constexpr int IDC_CONVERTERGROUP = 1999;
constexpr int IDC_OUTPUTGROUP = 1998;
constexpr int IDC_PROGRESSGROUP = 1997;

struct ButtonDecorationRow {
  int id;
  int icon;
  const char* tooltip;
  DWORD style;
};

// The decorated push buttons, in the order they are decorated.
constexpr ButtonDecorationRow kDecoratedButtons[] = {
    {IDC_ABOUT, 201, "About Halvane", 0x8000006D},
    {IDOK, 203, "Exit", 0x800000AD},
    {IDC_ADDFILE, 204, "Add one or more MIDI-file(s) to list", 0x8000006F},
    {IDC_REMOVEALL, 205, "Remove all files from list", 0x8000006F},
    {IDC_REMOVEFILE, 205, "Remove selected file from list", 0x8000006F},
    {IDC_PLAYFILE, 206, "Play selected file from list", 0x8000006F},
    {IDC_STOPPLAYING, 207, "Stop playing", 0x8000006F},
    {IDC_CONVERT, 208, "Convert all files from list", 0x8000006F},
    {IDC_ABORT, 209, "Stop converting", 0x8000006F},
};

// Gives each push button its icon and tooltip; one record, zero-filled once.
void DecorateButtons(HWND hDlg) {
  BUTTON_DECORATION decoration;
  std::memset(&decoration, 0, sizeof decoration);
  for (const ButtonDecorationRow& row : kDecoratedButtons) {
    decoration.words[kDecorationIcon] = static_cast<ULONG_PTR>(row.icon);
    decoration.words[kDecorationTooltip] = reinterpret_cast<ULONG_PTR>(row.tooltip);
    decoration.words[kDecorationStyle] = row.style;
    RedrawButton(GetDlgItem(hDlg, row.id), &decoration);
  }
}

// Fills the client area with the background pattern.
void PaintBackground(HWND hDlg, HDC hdc) {
  RECT rect;
  GetClientRect(hDlg, &rect);
  HBRUSH pattern = CreatePatternBrush(g_hBackgroundBitmap);
  HGDIOBJ previous = SelectObject(hdc, pattern);
  PatBlt(hdc, rect.left, rect.top, rect.right, rect.bottom, PATCOPY);
  SelectObject(hdc, previous);
  DeleteObject(pattern);
}

// Controls drawn in the system's colours; every other static lies on the pattern.
bool KeepsSystemColours(int id) {
  switch (id) {
    case IDC_OUTPUTDIR:
    case IDC_CONVERTERGROUP:
    case IDC_OUTPUTGROUP:
    case IDC_PROGRESSGROUP:
    case IDC_TEMPOGROUP:
    case IDC_TEMPO:
    case IDC_SAMEDIRECTORY:
    case IDC_FILELABEL:
    case IDC_TIMELABEL:
      return true;
    default:
      return false;
  }
}

}  // namespace

INT_PTR MainDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == msgMutex && msgMutex != 0) {
    // A second start of the program: come to the front.
    SetForegroundWindow(hDlg);
    ShowWindow(hDlg, SW_SHOWNORMAL);
    return TRUE;
  }

  switch (msg) {
    case WM_INITDIALOG:
      DecorateButtons(hDlg);
      return TRUE;

    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          // Exit: the modal loop ends and the window is destroyed without the close steps.
          g_DebugLog.Print("Message: OK");
          PostQuitMessage(0);
          return TRUE;
        default:
          return FALSE;
      }

    case WM_ERASEBKGND:
      PaintBackground(hDlg, reinterpret_cast<HDC>(wParam));
      return TRUE;

    case WM_CTLCOLORSTATIC:
      if (KeepsSystemColours(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))) return FALSE;
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));

    case WM_CLOSE:
      g_DebugLog.Print("Message: CLOSE");
      g_DebugLog.IndentUp();
      DeleteObject(g_hBackgroundBitmap);
      DeleteObject(g_hFillObject);
      EndDialog(hDlg, 0);
      g_DebugLog.IndentDown();
      return TRUE;

    case WM_DESTROY:
      g_DebugLog.Print("Message: DESTROY");
      g_DebugLog.IndentUp();
      ReleaseMutex(hMutex);
      g_DebugLog.IndentDown();
      return TRUE;

    default:
      return FALSE;
  }
}
