// A dialog without a screen, for running the conversion worker the way the window
// runs it (the benchmark, the terminal converter) and for the tests' dialogs: the
// controls are plain records built from the dialog's template, and a call from
// another thread than the window's is carried out on the window's thread while the
// caller waits, as the program's toolkit does. So every progress update the worker
// makes pays for its crossing of threads.
//
// Threads, as with the Qt toolkit and SendMessage: the thread that makes the dialog
// owns it; a call from any other thread is queued for the owner and waits until the
// owner serves it (Run, ServeWhile). Once the window stops serving (StopServing, or
// the dialog goes), a call still waiting is dropped and answers empty/0/-1, as a
// message to a destroyed window. The list view and the slider notify exactly as the
// Qt toolkit does (platform/window/dialog.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/window/dialog.h"
#include "ui/dialog_template.h"

namespace ui {

class HeadlessDialog : public ui::Dialog {
 public:
  // The window's procedure: a DLGPROC, or anything called as one.
  using Procedure = std::function<INT_PTR(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam)>;
  // boxes answers every message box (called on the window's thread).
  using BoxHandler = std::function<void(const std::string& text, const std::string& caption)>;
  HeadlessDialog(const DialogTemplate& tmpl, Procedure proc, BoxHandler boxes = {});
  // Stops serving (see StopServing).
  ~HeadlessDialog() override;
  HeadlessDialog(const HeadlessDialog&) = delete;
  HeadlessDialog& operator=(const HeadlessDialog&) = delete;

  // Sends WM_INITDIALOG, serves the window until End, sends WM_DESTROY; returns
  // End's result.
  INT_PTR Run(LPARAM param);
  // Run in parts, for a caller that serves the window itself (ServeWhile) between
  // batches: Open sends WM_INITDIALOG; Close sends WM_DESTROY.
  void Open(LPARAM param);
  void Close();
  // The window is gone for other threads: calls still queued are dropped, and so are
  // later ones; returns once no caller waits any more.
  void StopServing();
  bool Ended() const;
  INT_PTR Result() const;

  int TemplateId() const override { return template_.resourceId; }
  bool HasItem(int id) const override;
  INT_PTR Send(UINT msg, WPARAM wParam, LPARAM lParam) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) const override;
  void ShowItem(int id, bool show) override;
  bool IsItemVisible(int id) const override;
  void SetItemText(int id, const std::string& text) override;
  std::string ItemText(int id) const override;
  void FocusItem(int id) override;
  int FocusedItem() const override;
  void DecorateButton(int id, const ButtonDecoration& decoration) override;
  ButtonDecoration Decoration(int id) const;
  void SetCheck(int id, UINT state) override;
  UINT GetCheck(int id) const override;
  int ComboAddString(int id, const std::string& text) override;
  void ComboResetContent(int id) override;
  int ComboCount(int id) const override;
  std::string ComboText(int id, int index) const override;
  void ComboSetSel(int id, int index) override;
  int ComboGetSel(int id) const override;
  void SliderSetRange(int id, int minimum, int maximum) override;
  void SliderSetPos(int id, int position) override;
  int SliderGetPos(int id) const override;
  void SliderSetTick(int id, int position) override;
  std::vector<int> SliderTicks(int id) const override;
  void ProgressSetPos(int id, int position) override;
  int ProgressGetPos(int id) const override;
  void ListSetFullRowSelect(int, bool) override {}
  void ListInsertColumn(int id, int column, const std::string& title, int width) override;
  std::vector<std::string> ListColumns(int id) const override;
  int ListInsertItem(int id, int index, const std::string& text) override;
  void ListSetItemText(int id, int item, int subItem, const std::string& text) override;
  std::string ListItemText(int id, int item, int subItem) const override;
  bool ListDeleteItem(int id, int item) override;
  void ListDeleteAllItems(int id) override;
  int ListCount(int id) const override;
  int ListGetSel(int id) const override;
  void ListSetSel(int id, int item) override;
  void SetTitle(const std::string& title) override;
  std::string Title() const override;
  RECT ClientRect() const override;
  void AcceptFiles(bool accept) override;
  void BringToFront() override;
  bool BroughtToFront() const;
  void End(INT_PTR result) override;
  void ServeWhile(const std::function<bool()>& busy) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  std::optional<std::vector<std::string>> OpenFiles(const OpenFileRequest&) override { return std::nullopt; }
  std::optional<std::string> BrowseForFolder(const std::string&, const std::string&) override { return std::nullopt; }

 protected:
  struct Control {
    ControlKind kind;
    std::string text;
    bool enabled = true;
    bool visible = true;
    UINT check = BST_UNCHECKED;
    std::vector<std::string> entries;  // combo entries
    int selection = -1;                // combo selection
    bool singleSelect = false;         // list view
    std::vector<int> selected;         // list view: selected rows, ascending
    int minimum = 0, maximum = 100, position = 0;
    std::vector<int> ticks;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;  // list items: sub-items
    ButtonDecoration decoration;
  };

  bool IsWindowThread() const { return std::this_thread::get_id() == windowThread_; }
  // Runs f on the window's thread and answers what it answered (see the top).
  template <typename F>
  auto OnWindowThread(F f) const -> decltype(f());
  // Queues run for the window's thread; waits for it unless detached.
  void Queue(std::function<void()> run, bool wait) const;
  // Runs every queued call; on the window's thread.
  void ServePending();
  // Serves until busy() answers false, looking at it every poll when no call comes.
  void ServeWhile(const std::function<bool()>& busy, std::chrono::milliseconds poll);

  // The records; touched on the window's thread only.
  Control* Find(int id);
  const Control* Find(int id) const;
  bool AcceptsFiles() const { return acceptsFiles_; }
  void Command(int id, UINT code);
  void Notify(int id, UINT code, int item, UINT oldState = 0, UINT newState = 0);
  // List view: selects item as a click does (-1: lets go of every selected row).
  void Select(int id, int item);

 private:
  // A call another thread waits for.
  struct PendingCall {
    std::function<void()> run;
    bool done = false;
  };

  // List view: one row gains or loses the selected state, then is notified.
  void ChangeSelection(int id, int row, bool select);

  const DialogTemplate& template_;
  Procedure proc_;
  BoxHandler boxes_;
  const std::thread::id windowThread_;
  std::map<int, Control> controls_;  // its keys never change: HasItem reads them from any thread
  std::string title_;
  int focus_ = 0;
  bool ended_ = false;
  bool broughtToFront_ = false;
  bool acceptsFiles_ = false;
  INT_PTR result_ = 0;

  mutable std::mutex queueLock_;
  mutable std::condition_variable queueChanged_;  // a call queued, run, or dropped
  mutable std::deque<std::shared_ptr<PendingCall>> queue_;
  mutable int waiters_ = 0;  // callers waiting in Queue
  bool stopped_ = false;
};

template <typename F>
auto HeadlessDialog::OnWindowThread(F f) const -> decltype(f()) {
  using R = decltype(f());
  if (IsWindowThread()) return f();
  if constexpr (std::is_void_v<R>) {
    Queue([&f] { f(); }, true);
  } else {
    R result{};
    Queue([&f, &result] { result = f(); }, true);
    return result;
  }
}

}  // namespace ui
