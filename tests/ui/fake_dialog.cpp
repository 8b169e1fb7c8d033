#include "tests/ui/fake_dialog.h"

#include "platform/window/drop_files.h"

#include <algorithm>
#include <type_traits>

namespace ui::testing {

namespace {

std::string Line(const char* name, int id, const std::string& rest = {}) {
  std::string line = std::string(name) + " " + std::to_string(id);
  if (!rest.empty()) line += " " + rest;
  return line;
}

bool Contains(const std::vector<int>& rows, int row) { return std::binary_search(rows.begin(), rows.end(), row); }

}  // namespace

FakeDialog::FakeDialog(FakeToolkit& toolkit, const DialogTemplate& tmpl, DLGPROC proc)
    : toolkit_(toolkit), template_(tmpl), proc_(proc), thread_(std::this_thread::get_id()), title_(tmpl.caption) {
  for (const ControlTemplate& c : tmpl.controls) {
    Control control;
    control.kind = c.kind;
    control.text = c.text;
    control.singleSelect = (c.style & kSingleSelect) != 0;
    controls_.emplace(c.id, control);  // controls without an id share one record
  }
}

// --- threads -------------------------------------------------------------------------------

template <typename F>
auto FakeDialog::OnDialogThread(F f) const -> decltype(f()) {
  using R = decltype(f());
  if (std::this_thread::get_id() == thread_) return f();
  if constexpr (std::is_void_v<R>) {
    Queue([&f] { f(); }, true);
  } else {
    R result{};
    Queue([&f, &result] { result = f(); }, true);
    return result;
  }
}

void FakeDialog::Queue(std::function<void()> run, bool wait) const {
  auto call = std::make_shared<PendingCall>();
  call->run = std::move(run);
  std::unique_lock lock(queueLock_);
  if (closed_) return;
  queue_.push_back(call);
  queueChanged_.notify_all();
  if (!wait) return;
  ++waiters_;
  queueChanged_.wait(lock, [&] { return call->done || closed_; });
  --waiters_;
  queueChanged_.notify_all();
}

void FakeDialog::ServePending() {
  for (;;) {
    std::shared_ptr<PendingCall> call;
    {
      std::lock_guard lock(queueLock_);
      if (queue_.empty()) return;
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    // The caller is released however the call ends.
    struct Release {
      const FakeDialog& dialog;
      PendingCall& call;
      ~Release() {
        std::lock_guard lock(dialog.queueLock_);
        call.done = true;
        dialog.queueChanged_.notify_all();
      }
    } release{*this, *call};
    call->run();
  }
}

bool FakeDialog::ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ServePending();
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::unique_lock lock(queueLock_);
    queueChanged_.wait_for(lock, std::chrono::milliseconds(1), [this] { return !queue_.empty(); });
  }
}

void FakeDialog::ServeWhile(const std::function<bool()>& busy) {
  Record("ServeWhile 0");
  for (;;) {
    ServePending();
    if (!busy()) return;
    std::unique_lock lock(queueLock_);
    queueChanged_.wait_for(lock, std::chrono::milliseconds(1), [this] { return !queue_.empty(); });
  }
}

void FakeDialog::Deliver(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (std::this_thread::get_id() == thread_) {
    Send(msg, wParam, lParam);
  } else {
    Queue([this, msg, wParam, lParam] { Send(msg, wParam, lParam); }, false);
  }
}

void FakeDialog::Close() {
  std::unique_lock lock(queueLock_);
  closed_ = true;
  queue_.clear();
  queueChanged_.notify_all();
  // The dialog goes once no caller is still inside Queue.
  queueChanged_.wait(lock, [this] { return waiters_ == 0; });
}

// --- records ---------------------------------------------------------------------------------

void FakeDialog::Record(std::string line) const {
  std::lock_guard lock(lock_);
  calls_.push_back(std::move(line));
}

FakeDialog::Control* FakeDialog::Find(int id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const FakeDialog::Control* FakeDialog::Find(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

bool FakeDialog::HasItem(int id) const {
  std::lock_guard lock(lock_);
  return Find(id) != nullptr;
}

INT_PTR FakeDialog::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
  return OnDialogThread([&]() -> INT_PTR { return proc_ == nullptr ? 0 : proc_(Handle(), msg, wParam, lParam); });
}

void FakeDialog::Command(int id, UINT code) {
  Send(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), code), reinterpret_cast<LPARAM>(Item(id)));
}

void FakeDialog::Notify(int id, UINT code, int item, UINT oldState, UINT newState) {
  NMLISTVIEW record{};
  record.hdr.hwndFrom = Item(id);
  record.hdr.idFrom = static_cast<UINT_PTR>(id);
  record.hdr.code = code;
  record.iItem = item;
  if (code == LVN_ITEMCHANGED) {
    record.uChanged = LVIF_STATE;
    record.uOldState = oldState;
    record.uNewState = newState;
  }
  Send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&record));
}

// --- the user's part -------------------------------------------------------------------

void FakeDialog::Click(int id) {
  OnDialogThread([&] {
    {
      std::lock_guard lock(lock_);
      Control* c = Find(id);
      if (c == nullptr || !c->enabled || !c->visible) return;
      if (c->kind == ControlKind::CheckBox) c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      focus_ = id;
    }
    Command(id, BN_CLICKED);
  });
}

void FakeDialog::Choose(int id, int index) {
  OnDialogThread([&] {
    {
      std::lock_guard lock(lock_);
      Control* c = Find(id);
      if (c == nullptr || !c->enabled || !c->visible || index < 0 || index >= static_cast<int>(c->entries.size())) {
        return;
      }
      c->selection = index;
    }
    Command(id, CBN_SELCHANGE);
  });
}

void FakeDialog::MoveSlider(int id, int position) {
  OnDialogThread([&] {
    {
      std::lock_guard lock(lock_);
      Control* c = Find(id);
      if (c == nullptr || c->kind != ControlKind::Slider || !c->enabled || !c->visible) return;
      const int moved = std::clamp(position, c->minimum, c->maximum);
      if (moved == c->position) return;
      c->position = moved;
    }
    Notify(id, TRBN_THUMBPOSCHANGING, -1);
  });
}

void FakeDialog::SelectListItem(int id, int item) {
  OnDialogThread([&] {
    int clicked = -1;
    {
      std::lock_guard lock(lock_);
      const Control* c = Find(id);
      if (c == nullptr || c->kind != ControlKind::ListView || !c->enabled || !c->visible) return;
      if (item >= 0 && item < static_cast<int>(c->rows.size())) clicked = item;
      focus_ = id;
    }
    Select(id, clicked);
    Notify(id, NM_CLICK, clicked);
  });
}

void FakeDialog::PressListKey(int id, WORD key) {
  OnDialogThread([&] {
    {
      std::lock_guard lock(lock_);
      const Control* c = Find(id);
      if (c == nullptr || c->kind != ControlKind::ListView || !c->enabled || !c->visible) return;
      focus_ = id;
    }
    NMLVKEYDOWN record{};
    record.hdr.hwndFrom = Item(id);
    record.hdr.idFrom = static_cast<UINT_PTR>(id);
    record.hdr.code = LVN_KEYDOWN;
    record.wVKey = key;
    Send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&record));
  });
}

void FakeDialog::PressEnter() {
  OnDialogThread([&] {
    int focused = 0;
    {
      std::lock_guard lock(lock_);
      const Control* c = Find(focus_);
      if (c != nullptr && c->kind == ControlKind::PushButton) focused = focus_;
    }
    if (focused != 0) {
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
  OnDialogThread([&] {
    {
      std::lock_guard lock(lock_);
      if (!acceptsFiles_) return;
    }
    DropRecord record{std::move(paths)};
    Send(WM_DROPFILES, reinterpret_cast<WPARAM>(&record), 0);
  });
}

void FakeDialog::AcceptFiles(bool accept) {
  OnDialogThread([&] {
    std::lock_guard lock(lock_);
    Record(Line("AcceptFiles", 0, accept ? "1" : "0"));
    acceptsFiles_ = accept;
  });
}

std::vector<std::string> FakeDialog::Calls() const {
  std::lock_guard lock(lock_);
  return calls_;
}

bool FakeDialog::Ended() const {
  std::lock_guard lock(lock_);
  return ended_;
}

INT_PTR FakeDialog::Result() const {
  std::lock_guard lock(lock_);
  return result_;
}

ButtonDecoration FakeDialog::Decoration(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c == nullptr ? ButtonDecoration{} : c->decoration;
}

bool FakeDialog::BroughtToFront() const {
  std::lock_guard lock(lock_);
  return broughtToFront_;
}

// --- any control -------------------------------------------------------------------------

void FakeDialog::EnableItem(int id, bool enable) {
  OnDialogThread([&] {
    Record(Line("EnableItem", id, enable ? "1" : "0"));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id)) c->enabled = enable;
  });
}

bool FakeDialog::IsItemEnabled(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->enabled;
  });
}

void FakeDialog::ShowItem(int id, bool show) {
  OnDialogThread([&] {
    Record(Line("ShowItem", id, show ? "1" : "0"));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id)) c->visible = show;
  });
}

bool FakeDialog::IsItemVisible(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->visible;
  });
}

void FakeDialog::SetItemText(int id, const std::string& text) {
  OnDialogThread([&] {
    Record(Line("SetItemText", id, text));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id)) c->text = text;
  });
}

std::string FakeDialog::ItemText(int id) const {
  return OnDialogThread([&]() -> std::string {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    if (c == nullptr) return {};
    if (c->kind == ControlKind::ComboList) {
      return c->selection >= 0 ? c->entries[static_cast<std::size_t>(c->selection)] : std::string();
    }
    return c->text;
  });
}

void FakeDialog::FocusItem(int id) {
  OnDialogThread([&] {
    Record(Line("FocusItem", id));
    std::lock_guard lock(lock_);
    if (Find(id) != nullptr) focus_ = id;
  });
}

int FakeDialog::FocusedItem() const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    return focus_;
  });
}

void FakeDialog::DecorateButton(int id, const ButtonDecoration& decoration) {
  OnDialogThread([&] {
    Record(Line("DecorateButton", id, std::to_string(decoration.iconId)));
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c != nullptr && c->kind == ControlKind::PushButton) c->decoration = decoration;
  });
}

// --- check boxes ---------------------------------------------------------------------------

void FakeDialog::SetCheck(int id, UINT state) {
  OnDialogThread([&] {
    Record(Line("SetCheck", id, std::to_string(state)));
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c != nullptr && c->kind == ControlKind::CheckBox) c->check = state == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
  });
}

UINT FakeDialog::GetCheck(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::CheckBox ? c->check : BST_UNCHECKED;
  });
}

// --- drop-down lists ---------------------------------------------------------------------------

int FakeDialog::ComboAddString(int id, const std::string& text) {
  return OnDialogThread([&] {
    Record(Line("ComboAddString", id, text));
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ComboList) return CB_ERR;
    c->entries.push_back(text);
    return static_cast<int>(c->entries.size()) - 1;
  });
}

void FakeDialog::ComboResetContent(int id) {
  OnDialogThread([&] {
    Record(Line("ComboResetContent", id));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ComboList) {
      c->entries.clear();
      c->selection = -1;
    }
  });
}

int FakeDialog::ComboCount(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::ComboList ? static_cast<int>(c->entries.size()) : 0;
  });
}

std::string FakeDialog::ComboText(int id, int index) const {
  return OnDialogThread([&]() -> std::string {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->entries.size())) return {};
    return c->entries[static_cast<std::size_t>(index)];
  });
}

void FakeDialog::ComboSetSel(int id, int index) {
  OnDialogThread([&] {
    Record(Line("ComboSetSel", id, std::to_string(index)));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ComboList) {
      c->selection = index >= 0 && index < static_cast<int>(c->entries.size()) ? index : -1;
    }
  });
}

int FakeDialog::ComboGetSel(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::ComboList ? c->selection : CB_ERR;
  });
}

// --- slider ------------------------------------------------------------------------------------

void FakeDialog::SliderSetRange(int id, int minimum, int maximum) {
  OnDialogThread([&] {
    Record(Line("SliderSetRange", id, std::to_string(minimum) + " " + std::to_string(maximum)));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) {
      c->minimum = minimum;
      c->maximum = maximum;
      c->position = std::clamp(c->position, minimum, maximum);
    }
  });
}

void FakeDialog::SliderSetPos(int id, int position) {
  OnDialogThread([&] {
    Record(Line("SliderSetPos", id, std::to_string(position)));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) {
      c->position = std::clamp(position, c->minimum, c->maximum);
    }
  });
}

int FakeDialog::SliderGetPos(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::Slider ? c->position : 0;
  });
}

void FakeDialog::SliderSetTick(int id, int position) {
  OnDialogThread([&] {
    Record(Line("SliderSetTick", id, std::to_string(position)));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) c->ticks.push_back(position);
  });
}

std::vector<int> FakeDialog::SliderTicks(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c == nullptr ? std::vector<int>{} : c->ticks;
  });
}

// --- progress bar -----------------------------------------------------------------------------------

void FakeDialog::ProgressSetPos(int id, int position) {
  OnDialogThread([&] {
    Record(Line("ProgressSetPos", id, std::to_string(position)));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Progress) {
      c->position = std::clamp(position, 0, 100);
    }
  });
}

int FakeDialog::ProgressGetPos(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::Progress ? c->position : 0;
  });
}

// --- list view --------------------------------------------------------------------------------------

void FakeDialog::ChangeSelection(int id, int row, bool select) {
  {
    std::lock_guard lock(lock_);
    auto& rows = Find(id)->selected;
    if (Contains(rows, row) == select) return;
    if (select) {
      rows.insert(std::upper_bound(rows.begin(), rows.end(), row), row);
    } else {
      rows.erase(std::lower_bound(rows.begin(), rows.end(), row));
    }
  }
  Notify(id, LVN_ITEMCHANGED, row, select ? 0 : LVIS_SELECTED, select ? LVIS_SELECTED : 0);
}

void FakeDialog::Select(int id, int item) {
  std::vector<int> letGo;
  {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ListView) return;
    if (item < -1 || item >= static_cast<int>(c->rows.size())) return;
    if (item >= 0 && Contains(c->selected, item)) return;
    // A single-selection list lets go of its selected item first; -1 lets go of all.
    if (item == -1 || c->singleSelect) letGo = c->selected;
  }
  for (int row : letGo) ChangeSelection(id, row, false);
  if (item >= 0) ChangeSelection(id, item, true);
}

void FakeDialog::ListSetFullRowSelect(int id, bool on) {
  OnDialogThread([&] { Record(Line("ListSetFullRowSelect", id, on ? "1" : "0")); });
}

void FakeDialog::ListInsertColumn(int id, int column, const std::string& title, int width) {
  OnDialogThread([&] {
    Record(Line("ListInsertColumn", id, std::to_string(column) + " " + title + " " + std::to_string(width)));
    std::lock_guard lock(lock_);
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ListView) {
      const auto at = static_cast<std::size_t>(std::clamp(column, 0, static_cast<int>(c->columns.size())));
      c->columns.insert(c->columns.begin() + static_cast<std::ptrdiff_t>(at), title);
    }
  });
}

std::vector<std::string> FakeDialog::ListColumns(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c == nullptr ? std::vector<std::string>{} : c->columns;
  });
}

int FakeDialog::ListInsertItem(int id, int index, const std::string& text) {
  return OnDialogThread([&] {
    Record(Line("ListInsertItem", id, std::to_string(index) + " " + text));
    int at = -1;
    {
      std::lock_guard lock(lock_);
      Control* c = Find(id);
      if (c == nullptr || c->kind != ControlKind::ListView) return -1;
      at = std::clamp(index, 0, static_cast<int>(c->rows.size()));
      c->rows.insert(c->rows.begin() + at, std::vector<std::string>{text});
      for (int& row : c->selected) row += row >= at ? 1 : 0;
    }
    Notify(id, LVN_INSERTITEM, at);
    return at;
  });
}

void FakeDialog::ListSetItemText(int id, int item, int subItem, const std::string& text) {
  OnDialogThread([&] {
    Record(Line("ListSetItemText", id, std::to_string(item) + " " + std::to_string(subItem) + " " + text));
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return;
    auto& row = c->rows[static_cast<std::size_t>(item)];
    if (static_cast<int>(row.size()) <= subItem) row.resize(static_cast<std::size_t>(subItem) + 1);
    row[static_cast<std::size_t>(subItem)] = text;
  });
}

std::string FakeDialog::ListItemText(int id, int item, int subItem) const {
  return OnDialogThread([&]() -> std::string {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return {};
    const auto& row = c->rows[static_cast<std::size_t>(item)];
    return subItem < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(subItem)] : std::string();
  });
}

bool FakeDialog::ListDeleteItem(int id, int item) {
  return OnDialogThread([&] {
    Record(Line("ListDeleteItem", id, std::to_string(item)));
    {
      std::lock_guard lock(lock_);
      const Control* c = Find(id);
      if (c == nullptr || c->kind != ControlKind::ListView || item < 0 || item >= static_cast<int>(c->rows.size())) {
        return false;
      }
    }
    ChangeSelection(id, item, false);
    Notify(id, LVN_DELETEITEM, item);
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    // The procedure may have changed the list meanwhile.
    if (item >= static_cast<int>(c->rows.size())) return false;
    c->rows.erase(c->rows.begin() + item);
    auto& rows = c->selected;
    rows.erase(std::remove(rows.begin(), rows.end(), item), rows.end());
    for (int& row : rows) row -= row > item ? 1 : 0;
    return true;
  });
}

void FakeDialog::ListDeleteAllItems(int id) {
  OnDialogThread([&] {
    Record(Line("ListDeleteAllItems", id));
    int count = 0;
    {
      std::lock_guard lock(lock_);
      Control* c = Find(id);
      if (c == nullptr || c->kind != ControlKind::ListView) return;
      c->selected.clear();
      count = static_cast<int>(c->rows.size());
    }
    Notify(id, LVN_DELETEALLITEMS, -1);
    for (int i = 0; i < count && i < ListCount(id); ++i) Notify(id, LVN_DELETEITEM, i);
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    c->rows.clear();
    c->selected.clear();
  });
}

int FakeDialog::ListCount(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c == nullptr ? 0 : static_cast<int>(c->rows.size());
  });
}

int FakeDialog::ListGetSel(int id) const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::ListView && !c->selected.empty() ? c->selected.front() : -1;
  });
}

void FakeDialog::ListSetSel(int id, int item) {
  OnDialogThread([&] {
    Record(Line("ListSetSel", id, std::to_string(item)));
    Select(id, item);
  });
}

// --- the window ----------------------------------------------------------------------------

void FakeDialog::SetTitle(const std::string& title) {
  OnDialogThread([&] {
    Record("SetTitle " + title);
    std::lock_guard lock(lock_);
    title_ = title;
  });
}

std::string FakeDialog::Title() const {
  return OnDialogThread([&] {
    std::lock_guard lock(lock_);
    return title_;
  });
}

RECT FakeDialog::ClientRect() const {
  // Dialog units at base units 6 x 13.
  return RECT{0, 0, template_.cx * 6 / 4, template_.cy * 13 / 8};
}

void FakeDialog::BringToFront() {
  OnDialogThread([&] {
    Record("BringToFront");
    std::lock_guard lock(lock_);
    broughtToFront_ = true;
  });
}

void FakeDialog::End(INT_PTR result) {
  OnDialogThread([&] {
    Record("End " + std::to_string(result));
    std::lock_guard lock(lock_);
    ended_ = true;
    result_ = result;
  });
}

int FakeDialog::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  return OnDialogThread([&] {
    Record("MessageBox " + caption + ": " + text);
    const int answer = toolkit_.AnswerBox(MessageBoxCall{true, text, caption, type, 0});
    // While the box is up the window keeps serving.
    ServePending();
    return answer;
  });
}

std::optional<std::vector<std::string>> FakeDialog::OpenFiles(const OpenFileRequest& request) {
  return OnDialogThread([&] {
    Record("OpenFiles " + request.initialFolder);
    auto answer = toolkit_.AnswerOpenFiles(request);
    ServePending();
    return answer;
  });
}

std::optional<std::string> FakeDialog::BrowseForFolder(const std::string& title, const std::string& initialFolder) {
  return OnDialogThread([&] {
    Record("BrowseForFolder " + title + " " + initialFolder);
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
      dialog.Close();
      std::lock_guard lock(toolkit.lock_);
      toolkit.running_.erase(std::remove(toolkit.running_.begin(), toolkit.running_.end(), &dialog),
                             toolkit.running_.end());
    }
  } leave{*this, dialog};
  dialog.Send(WM_INITDIALOG, 0, param);
  if (!dialog.Ended() && script) script(dialog);
  dialog.Send(WM_DESTROY, 0, 0);
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
