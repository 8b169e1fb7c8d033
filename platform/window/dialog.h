// The dialog facade: the one interface the window-driving code (dialog procedures,
// the conversion worker) is written against.
//
// A dialog is a modal window built from a template (a toolkit looks it up by number). Its
// controls are addressed by their numeric ids. Events reach the dialog procedure as
// messages (platform/window/windows_ui.h):
//   WM_INITDIALOG     once, after the controls exist and before the window shows;
//                     lParam is the parameter given to DialogBoxParamA
//   WM_COMMAND        LOWORD(wParam) = control id, HIWORD(wParam) = notification
//                     (BN_CLICKED for push buttons and check boxes, CBN_SELCHANGE for
//                     a user's choice in a drop-down list); lParam = control handle.
//                     Enter with no push button focused sends IDOK, Escape IDCANCEL.
//   WM_NOTIFY         wParam = control id; lParam points to an NMHDR (idFrom = control
//                     id, code). The list view sends NMLISTVIEW records, in the order
//                     and number a Windows list view sends them for the same changes:
//                       ListInsertItem      LVN_INSERTITEM (iItem = the new item's index)
//                                           once the item is in the list; nothing else.
//                       ListDeleteItem      for a selected item first LVN_ITEMCHANGED (it
//                                           loses LVIS_SELECTED); then LVN_DELETEITEM
//                                           while the item is still in the list and
//                                           counted; it is gone when the call returns.
//                       ListDeleteAllItems  the selection goes without a notification;
//                                           LVN_DELETEALLITEMS (iItem -1), then
//                                           LVN_DELETEITEM for item 0, 1, ... n - 1, all
//                                           of them still counted; even for an empty list
//                                           the LVN_DELETEALLITEMS.
//                       ListSetSel(item)    as the user's click on the item: in a
//                                           single-selection list the selected item loses
//                                           LVIS_SELECTED (LVN_ITEMCHANGED), then the item
//                                           gains it (LVN_ITEMCHANGED); nothing when it is
//                                           selected already.
//                       ListSetSel(-1)      each selected item loses LVIS_SELECTED.
//                     A click of the user's gives the same LVN_ITEMCHANGED records (a click
//                     on empty space: as ListSetSel(-1)), then NM_CLICK with the clicked
//                     item (-1 for empty space). LVN_ITEMCHANGED carries uChanged
//                     LVIF_STATE and the LVIS_SELECTED bit of the item's state before and
//                     after in uOldState and uNewState (the keyboard caret, LVIS_FOCUSED,
//                     is not reported); each is sent once the new state holds, so ListGetSel
//                     already answers it. The other records carry iItem alone.
//                     A key the user presses in the list (the Delete key) gives
//                     LVN_KEYDOWN with an NMLVKEYDOWN record (wVKey = VK_DELETE).
//                     The slider sends an NMHDR with TRBN_THUMBPOSCHANGING once for each
//                     change of position the user makes (keys, mouse, wheel), after the
//                     change, so SliderGetPos reads the new position; never for
//                     SliderSetRange or SliderSetPos, nor for a press that moves nothing.
//   WM_ERASEBKGND     wParam = device context (ui/gdi.h); TRUE when the procedure
//                     painted the background
//   WM_CTLCOLORSTATIC wParam = device context, lParam = control handle; asked once per
//                     static-like control when the dialog is built: a non-zero brush
//                     answer draws the control transparently over the background,
//                     FALSE gives it the system's window colour
//   WM_CLOSE          the close box (or Alt+F4); left unhandled it becomes
//                     WM_COMMAND IDCANCEL
//   WM_DESTROY        once, when the dialog has ended and before it disappears
//   registered ids    whatever SendMessageA delivers (e.g. the bring-to-front message)
//
// Window handles: HWND is an opaque handle. A dialog's handle is Dialog::Handle(); a
// control's is GetDlgItem(hDlg, id). platform/window/winuser.h has the Windows-named functions
// over them (DialogBoxParamA, EndDialog, GetDlgItem, EnableWindow, ShowWindow,
// SetDlgItemTextA, GetDlgItemTextA, SendMessageA, MessageBoxA, ...); everything
// else is a method here, reached with Dlg(hDlg).Method(...). The control messages
// map onto methods:
//   BM_SETCHECK/BM_GETCHECK    SetCheck/GetCheck
//   CB_ADDSTRING, CB_SETCURSEL, CB_GETCURSEL, CB_GETCOUNT, CB_RESETCONTENT
//                              ComboAddString, ComboSetSel, ComboGetSel, ...
//   TBM_SETRANGE, TBM_SETPOS, TBM_GETPOS, TBM_SETTIC   Slider...
//   PBM_SETPOS                 ProgressSetPos
//   LVM_INSERTCOLUMNA, LVM_INSERTITEMA, LVM_SETITEMTEXTA, LVM_GETITEMTEXTA,
//   LVM_DELETEITEM, LVM_DELETEALLITEMS, LVM_GETITEMCOUNT, LVM_GETNEXTITEM(LVNI_SELECTED),
//   LVM_SETITEMSTATE(LVIS_SELECTED)   List...
//
// Threads: every method may be called from any thread. A call from another thread
// than the window's runs on the window's thread and returns when it is done, the way
// SendMessage does: it waits while the window's thread is busy, and is served as soon
// as that thread waits for the user (the dialog's loop, a message box, a file dialog)
// or in ServeWhile. The window's thread never waits for another thread here.
// Methods on a control id the dialog does not have, or on a control of another kind,
// do nothing and answer empty/0/-1.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/window/windows_ui.h"

namespace ui {

class Dialog;

// What an HWND points at: a dialog, or one control of a dialog.
class Window {
 public:
  Window(Dialog* dialog, int id) : dialog_(dialog), id_(id) {}
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  Dialog* OwnerDialog() const { return dialog_; }
  // The control id; 0 for the dialog itself.
  int Id() const { return id_; }
  bool IsDialog() const { return id_ == 0; }

 private:
  Dialog* dialog_;
  int id_;
};

// A button's decoration: the icon resource number, the tooltip and the style word.
struct ButtonDecoration {
  int iconId = 0;
  std::string tooltip;
  DWORD style = 0;
};

// The file-open dialog's request: filter pairs (description, ';'-separated patterns
// such as "*.MID;*.MIDI"), the first in effect, and the folder it opens in.
struct OpenFileRequest {
  std::vector<std::pair<std::string, std::string>> filters;
  std::string initialFolder;
  std::string title;
  bool multiSelect = false;
};

class Dialog : public Window {
 public:
  Dialog() : Window(this, 0) {}
  virtual ~Dialog();

  HWND Handle() { return static_cast<Window*>(this); }
  // The handle of control id (stable for the dialog's life), or nullptr.
  HWND Item(int id);

  virtual int TemplateId() const = 0;
  virtual bool HasItem(int id) const = 0;

  // Delivers a message to the dialog procedure on the window's thread and returns
  // its answer.
  virtual INT_PTR Send(UINT msg, WPARAM wParam, LPARAM lParam) = 0;

  // Any control.
  virtual void EnableItem(int id, bool enable) = 0;
  virtual bool IsItemEnabled(int id) const = 0;
  virtual void ShowItem(int id, bool show) = 0;
  virtual bool IsItemVisible(int id) const = 0;
  virtual void SetItemText(int id, const std::string& text) = 0;
  virtual std::string ItemText(int id) const = 0;
  virtual void FocusItem(int id) = 0;
  // The control that has the keyboard focus, 0 for none.
  virtual int FocusedItem() const = 0;

  // Push buttons.
  virtual void DecorateButton(int id, const ButtonDecoration& decoration) = 0;

  // Check boxes (BST_CHECKED / BST_UNCHECKED).
  virtual void SetCheck(int id, UINT state) = 0;
  virtual UINT GetCheck(int id) const = 0;

  // Drop-down lists. Indexes from 0; CB_ERR (-1) is "no selection".
  virtual int ComboAddString(int id, const std::string& text) = 0;
  virtual void ComboResetContent(int id) = 0;
  virtual int ComboCount(int id) const = 0;
  virtual std::string ComboText(int id, int index) const = 0;
  virtual void ComboSetSel(int id, int index) = 0;
  virtual int ComboGetSel(int id) const = 0;

  // Slider.
  virtual void SliderSetRange(int id, int minimum, int maximum) = 0;
  virtual void SliderSetPos(int id, int position) = 0;
  virtual int SliderGetPos(int id) const = 0;
  virtual void SliderSetTick(int id, int position) = 0;
  virtual std::vector<int> SliderTicks(int id) const = 0;

  // Progress bar (range 0 to 100; positions outside are clamped).
  virtual void ProgressSetPos(int id, int position) = 0;
  virtual int ProgressGetPos(int id) const = 0;

  // List view (report view). Item and sub-item indexes from 0; -1 is "none".
  virtual void ListSetFullRowSelect(int id, bool on) = 0;
  virtual void ListInsertColumn(int id, int column, const std::string& title, int width) = 0;
  virtual std::vector<std::string> ListColumns(int id) const = 0;
  // Inserts an item (sub-item 0 = text) before index (clamped to the end); returns
  // its index, -1 on failure.
  virtual int ListInsertItem(int id, int index, const std::string& text) = 0;
  virtual void ListSetItemText(int id, int item, int subItem, const std::string& text) = 0;
  virtual std::string ListItemText(int id, int item, int subItem) const = 0;
  virtual bool ListDeleteItem(int id, int item) = 0;
  virtual void ListDeleteAllItems(int id) = 0;
  virtual int ListCount(int id) const = 0;
  virtual int ListGetSel(int id) const = 0;
  // Selects item (-1 clears the selection); an index past the items changes nothing.
  virtual void ListSetSel(int id, int item) = 0;

  // The dialog window.
  virtual void SetTitle(const std::string& title) = 0;
  virtual std::string Title() const = 0;
  // The client area in pixels: left and top 0.
  virtual RECT ClientRect() const = 0;
  // Whether files dropped on the window from a file manager reach the procedure as
  // WM_DROPFILES (platform/window/drop_files.h).
  virtual void AcceptFiles(bool accept) = 0;
  // Restores the window if minimized, shows it and brings it to the front.
  virtual void BringToFront() = 0;
  // Ends the modal loop with result (EndDialog).
  virtual void End(INT_PTR result) = 0;
  // On the window's thread: keeps serving the window (other threads' calls, painting)
  // while busy() answers true, and returns once it answers false. Lets the window
  // wait for another thread that may itself be waiting on a call to the window.
  virtual void ServeWhile(const std::function<bool()>& busy) = 0;

  // Modal boxes owned by this window: the window takes no input while one is up, yet
  // keeps serving other threads' calls and painting. Raised from another thread, a
  // box blocks that thread only. MessageBox answers IDOK for MB_OK.
  virtual int MessageBox(const std::string& text, const std::string& caption, UINT type) = 0;
  // The file-open dialog: one file, or several with request.multiSelect. Each filter
  // shows its description as given and matches its patterns in any letter case. It
  // opens in request.initialFolder (a file there stands for its folder, a missing folder
  // for its nearest existing parent). Answers the chosen files' full paths in the
  // order the dialog gives them; nullopt when cancelled.
  virtual std::optional<std::vector<std::string>> OpenFiles(const OpenFileRequest& request) = 0;
  // The folder browser, with that title, opening with initialFolder selected when it
  // exists. Offers and answers only existing folders; nullopt when cancelled.
  virtual std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder) = 0;

 private:
  std::vector<std::unique_ptr<Window>> items_;
  std::mutex itemsLock_;
};

// The dialog behind a handle (a dialog's or one of its controls'); nullptr for null.
Dialog* DialogFromHandle(HWND hWnd);
// The dialog of hDlg. hDlg must be a live dialog's or control's handle.
inline Dialog& Dlg(HWND hDlg) { return *DialogFromHandle(hDlg); }

// What runs dialogs: the Qt toolkit in the program, a fake in tests.
class Toolkit {
 public:
  virtual ~Toolkit() = default;
  // Builds the dialog from template templateId, sends WM_INITDIALOG with param,
  // runs it modally (owner disabled meanwhile) until End or PostQuit, sends
  // WM_DESTROY and removes it. Returns End's result, 0 after PostQuit, -1 when the
  // template does not exist.
  virtual INT_PTR RunDialog(int templateId, HWND owner, DLGPROC proc, LPARAM param) = 0;
  // A quit request (PostQuitMessage): ends every running modal loop, the innermost
  // first; each of those dialogs is destroyed as usual.
  virtual void PostQuit(int exitCode) = 0;
  // Delivers msg to every running dialog's procedure, the innermost dialog first, on
  // the window's thread (the stand-in for a broadcast to all top-level windows).
  // From another thread it returns at once and the delivery follows.
  virtual void Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  // A message box without an owner window.
  virtual int MessageBox(const std::string& text, const std::string& caption, UINT type) = 0;
};

// The toolkit in use (set once at start-up, or by a test); nullptr until then.
void SetToolkit(Toolkit* toolkit);
Toolkit* CurrentToolkit();

}  // namespace ui
