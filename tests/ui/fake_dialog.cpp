#include "tests/ui/fake_dialog.h"

#include <algorithm>

#include "platform/window/drop_files.h"

namespace ui::testing {

namespace {

std::string Line(const char* name, int id, const std::string& rest = {}) {
  std::string line = std::string(name) + " " + std::to_string(id);
  if (!rest.empty()) line += " " + rest;
  return line;
}

}  // namespace

FakeDialog::FakeDialog(FakeToolkit& toolkit, const DialogTemplate& tmpl, DLGPROC proc)
    : HeadlessDialog(tmpl, proc), toolkit_(toolkit) {}

template <typename F>
auto FakeDialog::Recorded(std::string line, F f) -> decltype(f()) {
  return OnWindowThread([&] {
    Record(std::move(line));
    return f();
  });
}

void FakeDialog::Record(std::string line) {
  std::lock_guard lock(callsLock_);
  calls_.push_back(std::move(line));
}

std::vector<std::string> FakeDialog::Calls() const {
  std::lock_guard lock(callsLock_);
  return calls_;
}

// --- threads -------------------------------------------------------------------------------

bool FakeDialog::ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool finished = false;
  HeadlessDialog::ServeWhile(
      [&] {
        finished = done();
        return !finished && std::chrono::steady_clock::now() < deadline;
      },
      std::chrono::milliseconds(1));
  return finished;
}

void FakeDialog::ServeWhile(const std::function<bool()>& busy) {
  Record("ServeWhile 0");
  HeadlessDialog::ServeWhile(busy, std::chrono::milliseconds(1));
}

void FakeDialog::Deliver(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (IsWindowThread()) {
    Send(msg, wParam, lParam);
  } else {
    Queue([this, msg, wParam, lParam] { Send(msg, wParam, lParam); }, false);
  }
}

// --- the user's part -------------------------------------------------------------------

void FakeDialog::Click(int id) {
  OnWindowThread([&] {
    Control* c = Find(id);
    if (c == nullptr || !c->enabled || !c->visible) return;
    if (c->kind == ControlKind::CheckBox) c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    HeadlessDialog::FocusItem(id);
    Command(id, BN_CLICKED);
  });
}

void FakeDialog::Choose(int id, int index) {
  OnWindowThread([&] {
    Control* c = Find(id);
    if (c == nullptr || !c->enabled || !c->visible || index < 0 || index >= static_cast<int>(c->entries.size())) {
      return;
    }
    c->selection = index;
    Command(id, CBN_SELCHANGE);
  });
}

void FakeDialog::MoveSlider(int id, int position) {
  OnWindowThread([&] {
    Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::Slider || !c->enabled || !c->visible) return;
    const int moved = std::clamp(position, c->minimum, c->maximum);
    if (moved == c->position) return;
    c->position = moved;
    Notify(id, TRBN_THUMBPOSCHANGING, -1);
  });
}

void FakeDialog::SelectListItem(int id, int item) {
  OnWindowThread([&] {
    const Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ListView || !c->enabled || !c->visible) return;
    const int clicked = item >= 0 && item < static_cast<int>(c->rows.size()) ? item : -1;
    HeadlessDialog::FocusItem(id);
    Select(id, clicked);
    Notify(id, NM_CLICK, clicked);
  });
}

void FakeDialog::PressListKey(int id, WORD key) {
  OnWindowThread([&] {
    const Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ListView || !c->enabled || !c->visible) return;
    HeadlessDialog::FocusItem(id);
    NMLVKEYDOWN record{};
    record.hdr.hwndFrom = Item(id);
    record.hdr.idFrom = static_cast<UINT_PTR>(id);
    record.hdr.code = LVN_KEYDOWN;
    record.wVKey = key;
    Send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&record));
  });
}

void FakeDialog::PressEnter() {
  OnWindowThread([&] {
    const int focused = FocusedItem();
    const Control* c = Find(focused);
    if (c != nullptr && c->kind == ControlKind::PushButton) {
      Click(focused);
    } else {
      Command(IDOK, BN_CLICKED);
    }
  });
}

void FakeDialog::PressEscape() { Command(IDCANCEL, BN_CLICKED); }

void FakeDialog::CloseBox() {
  if (Send(WM_CLOSE, 0, 0) == FALSE) Command(IDCANCEL, BN_CLICKED);
}

void FakeDialog::DropFiles(std::vector<std::string> paths) {
  OnWindowThread([&] {
    if (!AcceptsFiles()) return;
    DropRecord record{std::move(paths)};
    Send(WM_DROPFILES, reinterpret_cast<WPARAM>(&record), 0);
  });
}

// --- the facade's calls, recorded ----------------------------------------------------------

void FakeDialog::EnableItem(int id, bool enable) {
  Recorded(Line("EnableItem", id, enable ? "1" : "0"), [&] { HeadlessDialog::EnableItem(id, enable); });
}

void FakeDialog::ShowItem(int id, bool show) {
  Recorded(Line("ShowItem", id, show ? "1" : "0"), [&] { HeadlessDialog::ShowItem(id, show); });
}

void FakeDialog::SetItemText(int id, const std::string& text) {
  Recorded(Line("SetItemText", id, text), [&] { HeadlessDialog::SetItemText(id, text); });
}

void FakeDialog::FocusItem(int id) {
  Recorded(Line("FocusItem", id), [&] { HeadlessDialog::FocusItem(id); });
}

void FakeDialog::DecorateButton(int id, const ButtonDecoration& decoration) {
  Recorded(Line("DecorateButton", id, std::to_string(decoration.iconId)),
           [&] { HeadlessDialog::DecorateButton(id, decoration); });
}

void FakeDialog::SetCheck(int id, UINT state) {
  Recorded(Line("SetCheck", id, std::to_string(state)), [&] { HeadlessDialog::SetCheck(id, state); });
}

int FakeDialog::ComboAddString(int id, const std::string& text) {
  return Recorded(Line("ComboAddString", id, text), [&] { return HeadlessDialog::ComboAddString(id, text); });
}

void FakeDialog::ComboResetContent(int id) {
  Recorded(Line("ComboResetContent", id), [&] { HeadlessDialog::ComboResetContent(id); });
}

void FakeDialog::ComboSetSel(int id, int index) {
  Recorded(Line("ComboSetSel", id, std::to_string(index)), [&] { HeadlessDialog::ComboSetSel(id, index); });
}

void FakeDialog::SliderSetRange(int id, int minimum, int maximum) {
  Recorded(Line("SliderSetRange", id, std::to_string(minimum) + " " + std::to_string(maximum)),
           [&] { HeadlessDialog::SliderSetRange(id, minimum, maximum); });
}

void FakeDialog::SliderSetPos(int id, int position) {
  Recorded(Line("SliderSetPos", id, std::to_string(position)), [&] { HeadlessDialog::SliderSetPos(id, position); });
}

void FakeDialog::SliderSetTick(int id, int position) {
  Recorded(Line("SliderSetTick", id, std::to_string(position)), [&] { HeadlessDialog::SliderSetTick(id, position); });
}

void FakeDialog::ProgressSetPos(int id, int position) {
  Recorded(Line("ProgressSetPos", id, std::to_string(position)), [&] { HeadlessDialog::ProgressSetPos(id, position); });
}

void FakeDialog::ListSetFullRowSelect(int id, bool on) {
  Recorded(Line("ListSetFullRowSelect", id, on ? "1" : "0"), [] {});
}

void FakeDialog::ListInsertColumn(int id, int column, const std::string& title, int width) {
  Recorded(Line("ListInsertColumn", id, std::to_string(column) + " " + title + " " + std::to_string(width)),
           [&] { HeadlessDialog::ListInsertColumn(id, column, title, width); });
}

int FakeDialog::ListInsertItem(int id, int index, const std::string& text) {
  return Recorded(Line("ListInsertItem", id, std::to_string(index) + " " + text),
                  [&] { return HeadlessDialog::ListInsertItem(id, index, text); });
}

void FakeDialog::ListSetItemText(int id, int item, int subItem, const std::string& text) {
  Recorded(Line("ListSetItemText", id, std::to_string(item) + " " + std::to_string(subItem) + " " + text),
           [&] { HeadlessDialog::ListSetItemText(id, item, subItem, text); });
}

bool FakeDialog::ListDeleteItem(int id, int item) {
  return Recorded(Line("ListDeleteItem", id, std::to_string(item)),
                  [&] { return HeadlessDialog::ListDeleteItem(id, item); });
}

void FakeDialog::ListDeleteAllItems(int id) {
  Recorded(Line("ListDeleteAllItems", id), [&] { HeadlessDialog::ListDeleteAllItems(id); });
}

void FakeDialog::ListSetSel(int id, int item) {
  Recorded(Line("ListSetSel", id, std::to_string(item)), [&] { HeadlessDialog::ListSetSel(id, item); });
}

void FakeDialog::SetTitle(const std::string& title) {
  Recorded("SetTitle " + title, [&] { HeadlessDialog::SetTitle(title); });
}

void FakeDialog::AcceptFiles(bool accept) {
  Recorded(Line("AcceptFiles", 0, accept ? "1" : "0"), [&] { HeadlessDialog::AcceptFiles(accept); });
}

void FakeDialog::BringToFront() {
  Recorded("BringToFront", [&] { HeadlessDialog::BringToFront(); });
}

void FakeDialog::End(INT_PTR result) {
  Recorded("End " + std::to_string(result), [&] { HeadlessDialog::End(result); });
}

// While a box or file dialog is up the window keeps serving.

int FakeDialog::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  return Recorded("MessageBox " + caption + ": " + text, [&] {
    const int answer = toolkit_.AnswerBox(MessageBoxCall{true, text, caption, type, 0});
    ServePending();
    return answer;
  });
}

std::optional<std::vector<std::string>> FakeDialog::OpenFiles(const OpenFileRequest& request) {
  return Recorded("OpenFiles " + request.initialFolder, [&] {
    auto answer = toolkit_.AnswerOpenFiles(request);
    ServePending();
    return answer;
  });
}

std::optional<std::string> FakeDialog::BrowseForFolder(const std::string& title, const std::string& initialFolder) {
  return Recorded("BrowseForFolder " + title + " " + initialFolder, [&] {
    auto answer = toolkit_.AnswerFolder(title, initialFolder);
    ServePending();
    return answer;
  });
}

// --- FakeToolkit -----------------------------------------------------------------------------

void FakeToolkit::SetScript(int templateId, Script script) {
  std::lock_guard lock(lock_);
  scripts_[templateId] = std::move(script);
}

void FakeToolkit::QueueOpenFiles(std::optional<std::vector<std::string>> answer) {
  std::lock_guard lock(lock_);
  openFiles_.push_back(std::move(answer));
}

void FakeToolkit::QueueFolder(std::optional<std::string> answer) {
  std::lock_guard lock(lock_);
  folders_.push_back(std::move(answer));
}

void FakeToolkit::QueueMessageBoxAnswer(int answer) {
  std::lock_guard lock(lock_);
  boxAnswers_.push_back(answer);
}

std::vector<MessageBoxCall> FakeToolkit::MessageBoxes() const {
  std::lock_guard lock(lock_);
  return boxes_;
}

std::vector<OpenFilesCall> FakeToolkit::OpenFilesCalls() const {
  std::lock_guard lock(lock_);
  return openFilesCalls_;
}

std::vector<FolderCall> FakeToolkit::FolderCalls() const {
  std::lock_guard lock(lock_);
  return folderCalls_;
}

std::vector<int> FakeToolkit::Runs() const {
  std::lock_guard lock(lock_);
  return runs_;
}

int FakeToolkit::QuitRequests() const {
  std::lock_guard lock(lock_);
  return quitRequests_;
}

INT_PTR FakeToolkit::RunDialog(int templateId, HWND, DLGPROC proc, LPARAM param) {
  const DialogTemplate* tmpl = FindDialogTemplate(templateId);
  if (tmpl == nullptr) return -1;
  FakeDialog dialog(*this, *tmpl, proc);
  Script script;
  {
    std::lock_guard lock(lock_);
    runs_.push_back(templateId);
    running_.push_back(&dialog);
    if (const auto it = scripts_.find(templateId); it != scripts_.end()) script = it->second;
  }
  // However the dialog ends, other threads no longer wait for it and it leaves the
  // running list.
  struct Leave {
    FakeToolkit& toolkit;
    FakeDialog& dialog;
    ~Leave() {
      dialog.StopServing();
      std::lock_guard lock(toolkit.lock_);
      toolkit.running_.erase(std::remove(toolkit.running_.begin(), toolkit.running_.end(), &dialog),
                             toolkit.running_.end());
    }
  } leave{*this, dialog};
  dialog.Open(param);
  if (!dialog.Ended() && script) script(dialog);
  dialog.Close();
  return dialog.Result();
}

void FakeToolkit::PostQuit(int) {
  std::vector<FakeDialog*> dialogs;
  {
    std::lock_guard lock(lock_);
    ++quitRequests_;
    dialogs = running_;
  }
  for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it) (*it)->End(0);
}

void FakeToolkit::Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) {
  std::vector<FakeDialog*> dialogs;
  {
    std::lock_guard lock(lock_);
    dialogs.assign(running_.rbegin(), running_.rend());
  }
  for (FakeDialog* dialog : dialogs) dialog->Deliver(msg, wParam, lParam);
}

int FakeToolkit::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  return AnswerBox(MessageBoxCall{false, text, caption, type, 0});
}

int FakeToolkit::AnswerBox(MessageBoxCall call) {
  std::lock_guard lock(lock_);
  call.answer = IDOK;
  if (!boxAnswers_.empty()) {
    call.answer = boxAnswers_.front();
    boxAnswers_.pop_front();
  }
  boxes_.push_back(call);
  return call.answer;
}

std::optional<std::vector<std::string>> FakeToolkit::AnswerOpenFiles(const OpenFileRequest& request) {
  std::lock_guard lock(lock_);
  std::optional<std::vector<std::string>> answer;
  if (!openFiles_.empty()) {
    answer = std::move(openFiles_.front());
    openFiles_.pop_front();
  }
  openFilesCalls_.push_back(OpenFilesCall{request, answer});
  return answer;
}

std::optional<std::string> FakeToolkit::AnswerFolder(const std::string& title, const std::string& initialFolder) {
  std::lock_guard lock(lock_);
  std::optional<std::string> answer;
  if (!folders_.empty()) {
    answer = std::move(folders_.front());
    folders_.pop_front();
  }
  folderCalls_.push_back(FolderCall{title, initialFolder, answer});
  return answer;
}

}  // namespace ui::testing
