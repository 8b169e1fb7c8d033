#include "ui/headless/headless_dialog.h"

#include <algorithm>

namespace ui {

namespace {

bool Contains(const std::vector<int>& rows, int row) { return std::binary_search(rows.begin(), rows.end(), row); }

}  // namespace

HeadlessDialog::HeadlessDialog(const DialogTemplate& tmpl, Procedure proc, BoxHandler boxes)
    : template_(tmpl),
      proc_(std::move(proc)),
      boxes_(std::move(boxes)),
      windowThread_(std::this_thread::get_id()),
      title_(tmpl.caption) {
  for (const ControlTemplate& c : tmpl.controls) {
    Control control;
    control.kind = c.kind;
    control.text = c.text;
    control.singleSelect = (c.style & kSingleSelect) != 0;
    controls_.emplace(c.id, control);  // controls without an id share one record
  }
}

HeadlessDialog::~HeadlessDialog() { StopServing(); }

// --- threads -------------------------------------------------------------------------------

void HeadlessDialog::Queue(std::function<void()> run, bool wait) const {
  auto call = std::make_shared<PendingCall>();
  call->run = std::move(run);
  std::unique_lock lock(queueLock_);
  if (stopped_) return;
  queue_.push_back(call);
  queueChanged_.notify_all();
  if (!wait) return;
  ++waiters_;
  queueChanged_.wait(lock, [&] { return call->done || stopped_; });
  --waiters_;
  queueChanged_.notify_all();
}

void HeadlessDialog::ServePending() {
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
      const HeadlessDialog& dialog;
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

void HeadlessDialog::ServeWhile(const std::function<bool()>& busy, std::chrono::milliseconds poll) {
  for (;;) {
    ServePending();
    if (!busy()) return;
    std::unique_lock lock(queueLock_);
    queueChanged_.wait_for(lock, poll, [this] { return !queue_.empty(); });
  }
}

void HeadlessDialog::ServeWhile(const std::function<bool()>& busy) { ServeWhile(busy, std::chrono::milliseconds(5)); }

void HeadlessDialog::StopServing() {
  std::unique_lock lock(queueLock_);
  stopped_ = true;
  queue_.clear();
  queueChanged_.notify_all();
  // The window goes once no caller is still inside Queue.
  queueChanged_.wait(lock, [this] { return waiters_ == 0; });
}

// --- the window ----------------------------------------------------------------------------

INT_PTR HeadlessDialog::Run(LPARAM param) {
  Open(param);
  ServeWhile([this] { return !ended_; }, std::chrono::milliseconds(50));
  Close();
  return result_;
}

void HeadlessDialog::Open(LPARAM param) { Send(WM_INITDIALOG, 0, param); }

void HeadlessDialog::Close() { Send(WM_DESTROY, 0, 0); }

bool HeadlessDialog::Ended() const {
  return OnWindowThread([this] { return ended_; });
}

INT_PTR HeadlessDialog::Result() const {
  return OnWindowThread([this] { return result_; });
}

void HeadlessDialog::End(INT_PTR result) {
  OnWindowThread([=, this] {
    ended_ = true;
    result_ = result;
  });
}

INT_PTR HeadlessDialog::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
  return OnWindowThread([&]() -> INT_PTR { return !proc_ ? 0 : proc_(Handle(), msg, wParam, lParam); });
}

void HeadlessDialog::Command(int id, UINT code) {
  Send(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), code), reinterpret_cast<LPARAM>(Item(id)));
}

void HeadlessDialog::Notify(int id, UINT code, int item, UINT oldState, UINT newState) {
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

int HeadlessDialog::MessageBox(const std::string& text, const std::string& caption, UINT) {
  return OnWindowThread([&, this] {
    if (boxes_) boxes_(text, caption);
    return IDOK;
  });
}

void HeadlessDialog::SetTitle(const std::string& title) {
  OnWindowThread([&, this] { title_ = title; });
}

std::string HeadlessDialog::Title() const {
  return OnWindowThread([this] { return title_; });
}

RECT HeadlessDialog::ClientRect() const {
  // Dialog units at base units 6 x 13.
  return RECT{0, 0, template_.cx * 6 / 4, template_.cy * 13 / 8};
}

void HeadlessDialog::AcceptFiles(bool accept) {
  OnWindowThread([=, this] { acceptsFiles_ = accept; });
}

void HeadlessDialog::BringToFront() {
  OnWindowThread([this] { broughtToFront_ = true; });
}

bool HeadlessDialog::BroughtToFront() const {
  return OnWindowThread([this] { return broughtToFront_; });
}

// --- any control -------------------------------------------------------------------------

HeadlessDialog::Control* HeadlessDialog::Find(int id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

const HeadlessDialog::Control* HeadlessDialog::Find(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

bool HeadlessDialog::HasItem(int id) const { return controls_.count(id) != 0; }

void HeadlessDialog::EnableItem(int id, bool enable) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id)) c->enabled = enable;
  });
}

bool HeadlessDialog::IsItemEnabled(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->enabled;
  });
}

void HeadlessDialog::ShowItem(int id, bool show) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id)) c->visible = show;
  });
}

bool HeadlessDialog::IsItemVisible(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->visible;
  });
}

void HeadlessDialog::SetItemText(int id, const std::string& text) {
  OnWindowThread([&, this] {
    if (Control* c = Find(id)) c->text = text;
  });
}

std::string HeadlessDialog::ItemText(int id) const {
  return OnWindowThread([=, this]() -> std::string {
    const Control* c = Find(id);
    if (c == nullptr) return {};
    if (c->kind == ControlKind::ComboList) {
      return c->selection >= 0 ? c->entries[static_cast<std::size_t>(c->selection)] : std::string();
    }
    return c->text;
  });
}

void HeadlessDialog::FocusItem(int id) {
  OnWindowThread([=, this] {
    if (Find(id) != nullptr) focus_ = id;
  });
}

int HeadlessDialog::FocusedItem() const {
  return OnWindowThread([this] { return focus_; });
}

void HeadlessDialog::DecorateButton(int id, const ButtonDecoration& decoration) {
  OnWindowThread([&, this] {
    Control* c = Find(id);
    if (c != nullptr && c->kind == ControlKind::PushButton) c->decoration = decoration;
  });
}

ButtonDecoration HeadlessDialog::Decoration(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c == nullptr ? ButtonDecoration{} : c->decoration;
  });
}

// --- check boxes ---------------------------------------------------------------------------

void HeadlessDialog::SetCheck(int id, UINT state) {
  OnWindowThread([=, this] {
    Control* c = Find(id);
    if (c != nullptr && c->kind == ControlKind::CheckBox) c->check = state == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
  });
}

UINT HeadlessDialog::GetCheck(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::CheckBox ? c->check : BST_UNCHECKED;
  });
}

// --- drop-down lists ---------------------------------------------------------------------------

int HeadlessDialog::ComboAddString(int id, const std::string& text) {
  return OnWindowThread([&, this] {
    Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ComboList) return CB_ERR;
    c->entries.push_back(text);
    return static_cast<int>(c->entries.size()) - 1;
  });
}

void HeadlessDialog::ComboResetContent(int id) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ComboList) {
      c->entries.clear();
      c->selection = -1;
    }
  });
}

int HeadlessDialog::ComboCount(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::ComboList ? static_cast<int>(c->entries.size()) : 0;
  });
}

std::string HeadlessDialog::ComboText(int id, int index) const {
  return OnWindowThread([=, this]() -> std::string {
    const Control* c = Find(id);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->entries.size())) return {};
    return c->entries[static_cast<std::size_t>(index)];
  });
}

void HeadlessDialog::ComboSetSel(int id, int index) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ComboList) {
      c->selection = index >= 0 && index < static_cast<int>(c->entries.size()) ? index : -1;
    }
  });
}

int HeadlessDialog::ComboGetSel(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::ComboList ? c->selection : CB_ERR;
  });
}

// --- slider ------------------------------------------------------------------------------------

void HeadlessDialog::SliderSetRange(int id, int minimum, int maximum) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) {
      c->minimum = minimum;
      c->maximum = maximum;
      c->position = std::clamp(c->position, minimum, maximum);
    }
  });
}

void HeadlessDialog::SliderSetPos(int id, int position) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) {
      c->position = std::clamp(position, c->minimum, c->maximum);
    }
  });
}

int HeadlessDialog::SliderGetPos(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::Slider ? c->position : 0;
  });
}

void HeadlessDialog::SliderSetTick(int id, int position) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) c->ticks.push_back(position);
  });
}

std::vector<int> HeadlessDialog::SliderTicks(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c == nullptr ? std::vector<int>{} : c->ticks;
  });
}

// --- progress bar -----------------------------------------------------------------------------------

void HeadlessDialog::ProgressSetPos(int id, int position) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Progress) {
      c->position = std::clamp(position, 0, 100);
    }
  });
}

int HeadlessDialog::ProgressGetPos(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::Progress ? c->position : 0;
  });
}

// --- list view --------------------------------------------------------------------------------------

void HeadlessDialog::ChangeSelection(int id, int row, bool select) {
  auto& rows = Find(id)->selected;
  if (Contains(rows, row) == select) return;
  if (select) {
    rows.insert(std::upper_bound(rows.begin(), rows.end(), row), row);
  } else {
    rows.erase(std::lower_bound(rows.begin(), rows.end(), row));
  }
  Notify(id, LVN_ITEMCHANGED, row, select ? 0 : LVIS_SELECTED, select ? LVIS_SELECTED : 0);
}

void HeadlessDialog::Select(int id, int item) {
  const Control* c = Find(id);
  if (c == nullptr || c->kind != ControlKind::ListView) return;
  if (item < -1 || item >= static_cast<int>(c->rows.size())) return;
  if (item >= 0 && Contains(c->selected, item)) return;
  // A single-selection list lets go of its selected item first; -1 lets go of all.
  if (item == -1 || c->singleSelect) {
    const std::vector<int> letGo = c->selected;
    for (int row : letGo) ChangeSelection(id, row, false);
  }
  if (item >= 0) ChangeSelection(id, item, true);
}

void HeadlessDialog::ListInsertColumn(int id, int column, const std::string& title, int) {
  OnWindowThread([&, this] {
    if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ListView) {
      const auto at = static_cast<std::size_t>(std::clamp(column, 0, static_cast<int>(c->columns.size())));
      c->columns.insert(c->columns.begin() + static_cast<std::ptrdiff_t>(at), title);
    }
  });
}

std::vector<std::string> HeadlessDialog::ListColumns(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c == nullptr ? std::vector<std::string>{} : c->columns;
  });
}

int HeadlessDialog::ListInsertItem(int id, int index, const std::string& text) {
  return OnWindowThread([&, this] {
    Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ListView) return -1;
    const int at = std::clamp(index, 0, static_cast<int>(c->rows.size()));
    c->rows.insert(c->rows.begin() + at, std::vector<std::string>{text});
    for (int& row : c->selected) row += row >= at ? 1 : 0;
    Notify(id, LVN_INSERTITEM, at);
    return at;
  });
}

void HeadlessDialog::ListSetItemText(int id, int item, int subItem, const std::string& text) {
  OnWindowThread([&, this] {
    Control* c = Find(id);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return;
    auto& row = c->rows[static_cast<std::size_t>(item)];
    if (static_cast<int>(row.size()) <= subItem) row.resize(static_cast<std::size_t>(subItem) + 1);
    row[static_cast<std::size_t>(subItem)] = text;
  });
}

std::string HeadlessDialog::ListItemText(int id, int item, int subItem) const {
  return OnWindowThread([=, this]() -> std::string {
    const Control* c = Find(id);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return {};
    const auto& row = c->rows[static_cast<std::size_t>(item)];
    return subItem < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(subItem)] : std::string();
  });
}

bool HeadlessDialog::ListDeleteItem(int id, int item) {
  return OnWindowThread([=, this] {
    const Control* before = Find(id);
    if (before == nullptr || before->kind != ControlKind::ListView || item < 0 ||
        item >= static_cast<int>(before->rows.size())) {
      return false;
    }
    // The notifications come while the item still counts.
    ChangeSelection(id, item, false);
    Notify(id, LVN_DELETEITEM, item);
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

void HeadlessDialog::ListDeleteAllItems(int id) {
  OnWindowThread([=, this] {
    Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ListView) return;
    c->selected.clear();
    const int count = static_cast<int>(c->rows.size());
    Notify(id, LVN_DELETEALLITEMS, -1);
    for (int i = 0; i < count && i < static_cast<int>(c->rows.size()); ++i) Notify(id, LVN_DELETEITEM, i);
    c->rows.clear();
    c->selected.clear();
  });
}

int HeadlessDialog::ListCount(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c == nullptr ? 0 : static_cast<int>(c->rows.size());
  });
}

int HeadlessDialog::ListGetSel(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->kind == ControlKind::ListView && !c->selected.empty() ? c->selected.front() : -1;
  });
}

void HeadlessDialog::ListSetSel(int id, int item) {
  OnWindowThread([=, this] { Select(id, item); });
}

}  // namespace ui
