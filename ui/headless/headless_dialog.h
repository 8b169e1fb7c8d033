// A dialog without a screen, for running the conversion worker the way the window
// runs it (the benchmark, the terminal converter): the controls are plain records
// built from the dialog's template, and a call from another thread than the window's
// is carried out on the window's thread while the caller waits, as the program's
// toolkit does. So every progress update the worker makes pays for its crossing of
// threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/window/dialog.h"
#include "ui/dialog_template.h"

namespace ui {

class HeadlessDialog : public ui::Dialog {
 public:
  // boxes answers every message box (called on the window's thread).
  using BoxHandler = std::function<void(const std::string& text, const std::string& caption)>;
  HeadlessDialog(const DialogTemplate& tmpl, DLGPROC proc, BoxHandler boxes);

  // Makes the calling thread the window's, sends WM_INITDIALOG, serves the window
  // until End, sends WM_DESTROY; returns End's result.
  INT_PTR Run(LPARAM param);
  // Run in parts, for a caller that serves the window itself (ServeWhile) between
  // batches: Open makes the calling thread the window's and sends WM_INITDIALOG;
  // Close sends WM_DESTROY.
  void Open(LPARAM param);
  void Close();

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
  void DecorateButton(int, const ButtonDecoration&) override {}
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
  void SliderSetTick(int, int) override {}
  std::vector<int> SliderTicks(int) const override { return {}; }
  void ProgressSetPos(int id, int position) override;
  int ProgressGetPos(int id) const override;
  void ListSetFullRowSelect(int, bool) override {}
  void ListInsertColumn(int, int, const std::string&, int) override {}
  std::vector<std::string> ListColumns(int) const override { return {}; }
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
  RECT ClientRect() const override { return RECT{0, 0, 0, 0}; }
  void AcceptFiles(bool) override {}
  void BringToFront() override {}
  void End(INT_PTR result) override;
  void ServeWhile(const std::function<bool()>& busy) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  std::optional<std::vector<std::string>> OpenFiles(const OpenFileRequest&) override { return std::nullopt; }
  std::optional<std::string> BrowseForFolder(const std::string&, const std::string&) override { return std::nullopt; }

 private:
  struct Control {
    ControlKind kind;
    std::string text;
    bool enabled = true;
    bool visible = true;
    UINT check = 0;
    std::vector<std::string> entries;
    int selection = -1;
    int minimum = 0, maximum = 100, position = 0;
    std::vector<std::vector<std::string>> rows;
  };

  // Runs f on the window's thread and returns its answer; from another thread the
  // caller waits until the window has run it.
  template <typename F>
  auto OnWindowThread(F f) const -> decltype(f());
  // Runs the calls other threads queued; waits up to timeout for one when none is queued.
  void ServeCalls(std::chrono::milliseconds timeout);
  Control* Find(int id, ControlKind kind);
  const Control* Find(int id, ControlKind kind) const;
  Control* Find(int id);
  const Control* Find(int id) const;
  void Notify(int id, UINT code, int item);

  const DialogTemplate& template_;
  DLGPROC proc_;
  BoxHandler boxes_;
  std::thread::id windowThread_;
  bool ended_ = false;
  INT_PTR result_ = 0;
  std::map<int, Control> controls_;  // touched on the window's thread only
  std::string title_;
  int focus_ = 0;

  mutable std::mutex callsLock_;
  mutable std::condition_variable callQueued_;
  mutable std::deque<std::function<void()>> calls_;
};

}  // namespace ui
