// A dialog toolkit for tests: dialogs are the headless dialog's records built from
// the real templates (ui/headless/headless_dialog.h, threads included), every facade
// call that changes something is recorded, boxes answer from a script, and tests
// play the user's part (clicks, keys, the close box) while the dialog runs.
//
// The dialog's thread serves other threads' calls in ServeWhile, in ServeUntil (the
// script waiting), and while one of its boxes or file dialogs is up. A call still
// waiting when the dialog ends is dropped and answers empty/0/-1.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/window/dialog.h"
#include "ui/dialog_template.h"
#include "ui/headless/headless_dialog.h"

namespace ui::testing {

struct MessageBoxCall {
  bool owned;  // owned by a dialog (false: no owner window)
  std::string text;
  std::string caption;
  UINT type;
  int answer;  // what the box answered
};

struct OpenFilesCall {
  OpenFileRequest request;
  std::optional<std::vector<std::string>> answer;  // nullopt: cancelled
};

struct FolderCall {
  std::string title;
  std::string initialFolder;
  std::optional<std::string> answer;  // nullopt: cancelled
};

class FakeToolkit;

class FakeDialog : public HeadlessDialog {
 public:
  FakeDialog(FakeToolkit& toolkit, const DialogTemplate& tmpl, DLGPROC proc);

  // --- the user's part -----------------------------------------------------------
  // A press of a push button or check box (an auto check box toggles first). Nothing
  // happens for a disabled or hidden control.
  void Click(int id);
  // The user chooses entry index of a drop-down list.
  void Choose(int id, int index);
  // The user moves the slider to position (clamped to its range); no notification
  // when that is where it stands.
  void MoveSlider(int id, int position);
  // The user clicks list item item; -1 (or an index past the items) clicks empty space.
  void SelectListItem(int id, int item);
  // The user presses virtual key in list view id (which takes the focus first).
  void PressListKey(int id, WORD key);
  void PressEnter();
  void PressEscape();
  void CloseBox();
  // Files dropped from a file manager; nothing happens unless the window accepts them.
  void DropFiles(std::vector<std::string> paths);

  // --- waiting, on the dialog's thread ----------------------------------------------------
  // Serves other threads' calls until done() answers true (then true) or timeout
  // passes (then false).
  bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  // --- what happened ----------------------------------------------------------------
  // Every facade call that changes something, as "Name id args" lines, in order.
  std::vector<std::string> Calls() const;

  // --- the facade's calls, recorded ----------------------------------------------------
  void EnableItem(int id, bool enable) override;
  void ShowItem(int id, bool show) override;
  void SetItemText(int id, const std::string& text) override;
  void FocusItem(int id) override;
  void DecorateButton(int id, const ButtonDecoration& decoration) override;
  void SetCheck(int id, UINT state) override;
  int ComboAddString(int id, const std::string& text) override;
  void ComboResetContent(int id) override;
  void ComboSetSel(int id, int index) override;
  void SliderSetRange(int id, int minimum, int maximum) override;
  void SliderSetPos(int id, int position) override;
  void SliderSetTick(int id, int position) override;
  void ProgressSetPos(int id, int position) override;
  void ListSetFullRowSelect(int id, bool on) override;
  void ListInsertColumn(int id, int column, const std::string& title, int width) override;
  int ListInsertItem(int id, int index, const std::string& text) override;
  void ListSetItemText(int id, int item, int subItem, const std::string& text) override;
  bool ListDeleteItem(int id, int item) override;
  void ListDeleteAllItems(int id) override;
  void ListSetSel(int id, int item) override;
  void SetTitle(const std::string& title) override;
  void AcceptFiles(bool accept) override;
  void BringToFront() override;
  void End(INT_PTR result) override;
  void ServeWhile(const std::function<bool()>& busy) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  std::optional<std::vector<std::string>> OpenFiles(const OpenFileRequest& request) override;
  std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder) override;

 private:
  friend class FakeToolkit;

  // Runs f on the dialog's thread after recording line there.
  template <typename F>
  auto Recorded(std::string line, F f) -> decltype(f());
  void Record(std::string line);
  // Delivers msg on the dialog's thread: at once from there, else queued without waiting.
  void Deliver(UINT msg, WPARAM wParam, LPARAM lParam);

  FakeToolkit& toolkit_;
  mutable std::mutex callsLock_;
  std::vector<std::string> calls_;
};

class FakeToolkit : public Toolkit {
 public:
  // While a dialog runs (after WM_INITDIALOG, unless it already ended) the script
  // plays the user's part; the dialog then gets WM_DESTROY whether or not it ended.
  using Script = std::function<void(FakeDialog& dialog)>;
  void SetScript(int templateId, Script script);

  // Scripted answers, used first in, first out; without one a box answers IDOK and
  // the file and folder dialogs are cancelled.
  void QueueOpenFiles(std::optional<std::vector<std::string>> answer);
  void QueueFolder(std::optional<std::string> answer);
  void QueueMessageBoxAnswer(int answer);

  // Each box and dialog shown, in order, with what it answered.
  std::vector<MessageBoxCall> MessageBoxes() const;
  std::vector<OpenFilesCall> OpenFilesCalls() const;
  std::vector<FolderCall> FolderCalls() const;
  std::vector<int> Runs() const;  // template ids of the dialogs run, in order
  int QuitRequests() const;

  INT_PTR RunDialog(int templateId, HWND owner, DLGPROC proc, LPARAM param) override;
  void PostQuit(int exitCode) override;
  void Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;

 private:
  friend class FakeDialog;
  int AnswerBox(MessageBoxCall call);
  std::optional<std::vector<std::string>> AnswerOpenFiles(const OpenFileRequest& request);
  std::optional<std::string> AnswerFolder(const std::string& title, const std::string& initialFolder);

  mutable std::mutex lock_;
  std::map<int, Script> scripts_;
  std::deque<std::optional<std::vector<std::string>>> openFiles_;
  std::deque<std::optional<std::string>> folders_;
  std::deque<int> boxAnswers_;
  std::vector<MessageBoxCall> boxes_;
  std::vector<OpenFilesCall> openFilesCalls_;
  std::vector<FolderCall> folderCalls_;
  std::vector<int> runs_;
  std::vector<FakeDialog*> running_;
  int quitRequests_ = 0;
};

// Installs a toolkit as the current one for a test's scope.
class ScopedToolkit {
 public:
  explicit ScopedToolkit(Toolkit& toolkit) { SetToolkit(&toolkit); }
  ~ScopedToolkit() { SetToolkit(nullptr); }
  ScopedToolkit(const ScopedToolkit&) = delete;
  ScopedToolkit& operator=(const ScopedToolkit&) = delete;
};

}  // namespace ui::testing
