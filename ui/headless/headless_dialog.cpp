#include "ui/headless/headless_dialog.h"

#include <algorithm>
#include <optional>
#include <type_traits>

namespace ui {



HeadlessDialog::HeadlessDialog(const DialogTemplate& tmpl, DLGPROC proc, BoxHandler boxes)
    : template_(tmpl), proc_(proc), boxes_(std::move(boxes)), title_(tmpl.caption) {
  for (const ControlTemplate& c : tmpl.controls) {
    Control control;
    control.kind = c.kind;
    control.text = c.text;
    controls_.emplace(c.id, control);
  }
}

template <typename F>
auto HeadlessDialog::OnWindowThread(F f) const -> decltype(f()) {
  using R = decltype(f());
  if (std::this_thread::get_id() == windowThread_) return f();
  std::mutex doneLock;
  std::condition_variable doneSignal;
  bool done = false;
  std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> result{};
  {
    std::lock_guard lock(callsLock_);
    calls_.emplace_back([&] {
      if constexpr (std::is_void_v<R>) {
        f();
      } else {
        result.emplace(f());
      }
      // Signalled under the lock: the caller cannot return, and take the signal
      // with it, before the signal is given.
      std::lock_guard doneGuard(doneLock);
      done = true;
      doneSignal.notify_one();
    });
  }
  callQueued_.notify_one();
  std::unique_lock lock(doneLock);
  doneSignal.wait(lock, [&] { return done; });
  if constexpr (!std::is_void_v<R>) return std::move(*result);
}

void HeadlessDialog::ServeCalls(std::chrono::milliseconds timeout) {
  std::deque<std::function<void()>> ready;
  {
    std::unique_lock lock(callsLock_);
    callQueued_.wait_for(lock, timeout, [this] { return !calls_.empty(); });
    ready.swap(calls_);
  }
  for (auto& call : ready) call();
}

INT_PTR HeadlessDialog::Run(LPARAM param) {
  Open(param);
  while (!ended_) ServeCalls(std::chrono::milliseconds(50));
  Close();
  return result_;
}

void HeadlessDialog::Open(LPARAM param) {
  windowThread_ = std::this_thread::get_id();
  Send(WM_INITDIALOG, 0, param);
}

void HeadlessDialog::Close() { Send(WM_DESTROY, 0, 0); }

void HeadlessDialog::End(INT_PTR result) {
  OnWindowThread([=, this] {
    ended_ = true;
    result_ = result;
  });
}

void HeadlessDialog::ServeWhile(const std::function<bool()>& busy) {
  while (busy()) ServeCalls(std::chrono::milliseconds(5));
}

INT_PTR HeadlessDialog::Send(UINT msg, WPARAM wParam, LPARAM lParam) {
  return OnWindowThread([&]() -> INT_PTR { return proc_ == nullptr ? 0 : proc_(Handle(), msg, wParam, lParam); });
}

void HeadlessDialog::Notify(int id, UINT code, int item) {
  NMLISTVIEW record{};
  record.hdr.hwndFrom = Item(id);
  record.hdr.idFrom = static_cast<UINT_PTR>(id);
  record.hdr.code = code;
  record.iItem = item;
  Send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&record));
}

int HeadlessDialog::MessageBox(const std::string& text, const std::string& caption, UINT) {
  return OnWindowThread([&, this] {
    if (boxes_) boxes_(text, caption);
    return IDOK;
  });
}

HeadlessDialog::Control* HeadlessDialog::Find(int id) {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}
const HeadlessDialog::Control* HeadlessDialog::Find(int id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}
HeadlessDialog::Control* HeadlessDialog::Find(int id, ControlKind kind) {
  Control* c = Find(id);
  return c != nullptr && c->kind == kind ? c : nullptr;
}
const HeadlessDialog::Control* HeadlessDialog::Find(int id, ControlKind kind) const {
  const Control* c = Find(id);
  return c != nullptr && c->kind == kind ? c : nullptr;
}

bool HeadlessDialog::HasItem(int id) const {
  return OnWindowThread([=, this] { return Find(id) != nullptr; });
}

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

void HeadlessDialog::SetCheck(int id, UINT state) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id, ControlKind::CheckBox)) c->check = state == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
  });
}

UINT HeadlessDialog::GetCheck(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id, ControlKind::CheckBox);
    return c != nullptr ? c->check : BST_UNCHECKED;
  });
}

int HeadlessDialog::ComboAddString(int id, const std::string& text) {
  return OnWindowThread([&, this] {
    Control* c = Find(id, ControlKind::ComboList);
    if (c == nullptr) return CB_ERR;
    c->entries.push_back(text);
    return static_cast<int>(c->entries.size()) - 1;
  });
}

void HeadlessDialog::ComboResetContent(int id) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id, ControlKind::ComboList)) {
      c->entries.clear();
      c->selection = -1;
    }
  });
}

int HeadlessDialog::ComboCount(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id, ControlKind::ComboList);
    return c != nullptr ? static_cast<int>(c->entries.size()) : 0;
  });
}

std::string HeadlessDialog::ComboText(int id, int index) const {
  return OnWindowThread([=, this]() -> std::string {
    const Control* c = Find(id, ControlKind::ComboList);
    if (c == nullptr || index < 0 || index >= static_cast<int>(c->entries.size())) return {};
    return c->entries[static_cast<std::size_t>(index)];
  });
}

void HeadlessDialog::ComboSetSel(int id, int index) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id, ControlKind::ComboList))
      c->selection = index >= 0 && index < static_cast<int>(c->entries.size()) ? index : -1;
  });
}

int HeadlessDialog::ComboGetSel(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id, ControlKind::ComboList);
    return c != nullptr ? c->selection : CB_ERR;
  });
}

void HeadlessDialog::SliderSetRange(int id, int minimum, int maximum) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id, ControlKind::Slider)) {
      c->minimum = minimum;
      c->maximum = maximum;
      c->position = std::clamp(c->position, minimum, maximum);
    }
  });
}

void HeadlessDialog::SliderSetPos(int id, int position) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id, ControlKind::Slider)) c->position = std::clamp(position, c->minimum, c->maximum);
  });
}

int HeadlessDialog::SliderGetPos(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id, ControlKind::Slider);
    return c != nullptr ? c->position : 0;
  });
}

void HeadlessDialog::ProgressSetPos(int id, int position) {
  OnWindowThread([=, this] {
    if (Control* c = Find(id, ControlKind::Progress)) c->position = std::clamp(position, 0, 100);
  });
}

int HeadlessDialog::ProgressGetPos(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id, ControlKind::Progress);
    return c != nullptr ? c->position : 0;
  });
}

int HeadlessDialog::ListInsertItem(int id, int index, const std::string& text) {
  const int at = OnWindowThread([&, this] {
    Control* c = Find(id, ControlKind::ListView);
    if (c == nullptr) return -1;
    const int position = std::clamp(index, 0, static_cast<int>(c->rows.size()));
    c->rows.insert(c->rows.begin() + position, std::vector<std::string>{text});
    if (c->selection >= position) ++c->selection;
    return position;
  });
  if (at >= 0) Notify(id, LVN_INSERTITEM, at);
  return at;
}

void HeadlessDialog::ListSetItemText(int id, int item, int subItem, const std::string& text) {
  OnWindowThread([&, this] {
    Control* c = Find(id, ControlKind::ListView);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return;
    auto& row = c->rows[static_cast<std::size_t>(item)];
    if (static_cast<int>(row.size()) <= subItem) row.resize(static_cast<std::size_t>(subItem) + 1);
    row[static_cast<std::size_t>(subItem)] = text;
  });
}

std::string HeadlessDialog::ListItemText(int id, int item, int subItem) const {
  return OnWindowThread([=, this]() -> std::string {
    const Control* c = Find(id, ControlKind::ListView);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return {};
    const auto& row = c->rows[static_cast<std::size_t>(item)];
    return subItem < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(subItem)] : std::string();
  });
}

bool HeadlessDialog::ListDeleteItem(int id, int item) {
  return OnWindowThread([=, this] {
    Control* c = Find(id, ControlKind::ListView);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size())) return false;
    // The notification comes while the item still counts.
    Notify(id, LVN_DELETEITEM, item);
    c->rows.erase(c->rows.begin() + item);
    if (c->selection == item) {
      c->selection = -1;
    } else if (c->selection > item) {
      --c->selection;
    }
    return true;
  });
}

void HeadlessDialog::ListDeleteAllItems(int id) {
  OnWindowThread([=, this] {
    Control* c = Find(id, ControlKind::ListView);
    if (c == nullptr) return;
    for (int i = 0; i < static_cast<int>(c->rows.size()); ++i) Notify(id, LVN_DELETEITEM, i);
    c->rows.clear();
    c->selection = -1;
  });
}

int HeadlessDialog::ListCount(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id, ControlKind::ListView);
    return c != nullptr ? static_cast<int>(c->rows.size()) : 0;
  });
}

int HeadlessDialog::ListGetSel(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id, ControlKind::ListView);
    return c != nullptr ? c->selection : -1;
  });
}

void HeadlessDialog::ListSetSel(int id, int item) {
  const bool changed = OnWindowThread([=, this] {
    Control* c = Find(id, ControlKind::ListView);
    if (c == nullptr) return false;
    const int wanted = item >= 0 && item < static_cast<int>(c->rows.size()) ? item : -1;
    if (wanted == c->selection) return false;
    c->selection = wanted;
    return true;
  });
  if (changed) Notify(id, LVN_ITEMCHANGED, item);
}

void HeadlessDialog::SetTitle(const std::string& title) {
  OnWindowThread([&, this] { title_ = title; });
}

std::string HeadlessDialog::Title() const {
  return OnWindowThread([this] { return title_; });
}

}  // namespace ui
