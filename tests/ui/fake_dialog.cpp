#include "tests/ui/fake_dialog.h"

#include "platform/window/drop_files.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace ui::testing {

namespace {
std::string Line(const char* name, int id, const std::string& rest = {}) {
  std::string line = std::string(name) + " " + std::to_string(id);
  if (!rest.empty()) line += " " + rest;
  return line;
}
}  // namespace

FakeDialog::FakeDialog(FakeToolkit& toolkit, const DialogTemplate& tmpl, DLGPROC proc)
    : toolkit_(toolkit), template_(tmpl), proc_(proc), title_(tmpl.caption) {
  for (const ControlTemplate& c : tmpl.controls) {
    Control control;
    control.kind = c.kind;
    control.text = c.text;
    controls_.emplace(c.id, control);  // controls without an id share one record
  }
}

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
  return proc_ == nullptr ? 0 : proc_(Handle(), msg, wParam, lParam);
}

void FakeDialog::Command(int id, UINT code) {
  Send(WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), code), reinterpret_cast<LPARAM>(Item(id)));
}

void FakeDialog::Notify(int id, UINT code, int item) {
  NMLISTVIEW record{};
  record.hdr.hwndFrom = Item(id);
  record.hdr.idFrom = static_cast<UINT_PTR>(id);
  record.hdr.code = code;
  record.iItem = item;
  if (code == LVN_ITEMCHANGED) {
    record.uChanged = LVIF_STATE;
    record.uNewState = item >= 0 ? LVIS_SELECTED : 0;
  }
  Send(WM_NOTIFY, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(&record));
}

// --- the user's part -------------------------------------------------------------------

void FakeDialog::Click(int id) {
  {
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c == nullptr || !c->enabled || !c->visible) return;
    if (c->kind == ControlKind::CheckBox) c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    focus_ = id;
  }
  Command(id, BN_CLICKED);
}

void FakeDialog::Choose(int id, int index) {
  {
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c == nullptr || !c->enabled || !c->visible || index < 0 || index >= static_cast<int>(c->entries.size())) return;
    c->selection = index;
  }
  Command(id, CBN_SELCHANGE);
}

void FakeDialog::MoveSlider(int id, int position) {
  {
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c == nullptr || !c->enabled) return;
    c->position = std::clamp(position, c->minimum, c->maximum);
  }
  Notify(id, TRBN_THUMBPOSCHANGING, -1);
}

void FakeDialog::SelectListItem(int id, int item) { ListSetSel(id, item); }

void FakeDialog::PressEnter() {
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
}

void FakeDialog::PressEscape() { Command(IDCANCEL, BN_CLICKED); }

void FakeDialog::CloseBox() {
  if (Send(WM_CLOSE, 0, 0) == FALSE) Command(IDCANCEL, BN_CLICKED);
}

void FakeDialog::DropFiles(std::vector<std::string> paths) {
  {
    std::lock_guard lock(lock_);
    if (!acceptsFiles_) return;
  }
  DropRecord record{std::move(paths)};
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(&record), 0);
}

void FakeDialog::AcceptFiles(bool accept) {
  std::lock_guard lock(lock_);
  Record(Line("AcceptFiles", 0, accept ? "1" : "0"));
  acceptsFiles_ = accept;
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
  Record(Line("EnableItem", id, enable ? "1" : "0"));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id)) c->enabled = enable;
}

bool FakeDialog::IsItemEnabled(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->enabled;
}

void FakeDialog::ShowItem(int id, bool show) {
  Record(Line("ShowItem", id, show ? "1" : "0"));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id)) c->visible = show;
}

bool FakeDialog::IsItemVisible(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->visible;
}

void FakeDialog::SetItemText(int id, const std::string& text) {
  Record(Line("SetItemText", id, text));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id)) c->text = text;
}

std::string FakeDialog::ItemText(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  if (c == nullptr) return {};
  if (c->kind == ControlKind::ComboList) {
    return c->selection >= 0 ? c->entries[static_cast<std::size_t>(c->selection)] : std::string();
  }
  return c->text;
}

void FakeDialog::FocusItem(int id) {
  Record(Line("FocusItem", id));
  std::lock_guard lock(lock_);
  if (Find(id) != nullptr) focus_ = id;
}

int FakeDialog::FocusedItem() const {
  std::lock_guard lock(lock_);
  return focus_;
}

void FakeDialog::DecorateButton(int id, const ButtonDecoration& decoration) {
  Record(Line("DecorateButton", id, std::to_string(decoration.iconId)));
  std::lock_guard lock(lock_);
  Control* c = Find(id);
  if (c != nullptr && c->kind == ControlKind::PushButton) c->decoration = decoration;
}

// --- check boxes ---------------------------------------------------------------------------

void FakeDialog::SetCheck(int id, UINT state) {
  Record(Line("SetCheck", id, std::to_string(state)));
  std::lock_guard lock(lock_);
  Control* c = Find(id);
  if (c != nullptr && c->kind == ControlKind::CheckBox) c->check = state == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
}

UINT FakeDialog::GetCheck(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->kind == ControlKind::CheckBox ? c->check : BST_UNCHECKED;
}

// --- drop-down lists ---------------------------------------------------------------------------

int FakeDialog::ComboAddString(int id, const std::string& text) {
  Record(Line("ComboAddString", id, text));
  std::lock_guard lock(lock_);
  Control* c = Find(id);
  if (c == nullptr || c->kind != ControlKind::ComboList) return CB_ERR;
  c->entries.push_back(text);
  return static_cast<int>(c->entries.size()) - 1;
}

void FakeDialog::ComboResetContent(int id) {
  Record(Line("ComboResetContent", id));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ComboList) {
    c->entries.clear();
    c->selection = -1;
  }
}

int FakeDialog::ComboCount(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->kind == ControlKind::ComboList ? static_cast<int>(c->entries.size()) : 0;
}

std::string FakeDialog::ComboText(int id, int index) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  if (c == nullptr || index < 0 || index >= static_cast<int>(c->entries.size())) return {};
  return c->entries[static_cast<std::size_t>(index)];
}

void FakeDialog::ComboSetSel(int id, int index) {
  Record(Line("ComboSetSel", id, std::to_string(index)));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ComboList) {
    c->selection = index >= 0 && index < static_cast<int>(c->entries.size()) ? index : -1;
  }
}

int FakeDialog::ComboGetSel(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->kind == ControlKind::ComboList ? c->selection : CB_ERR;
}

// --- slider ------------------------------------------------------------------------------------

void FakeDialog::SliderSetRange(int id, int minimum, int maximum) {
  Record(Line("SliderSetRange", id, std::to_string(minimum) + " " + std::to_string(maximum)));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) {
    c->minimum = minimum;
    c->maximum = maximum;
    c->position = std::clamp(c->position, minimum, maximum);
  }
}

void FakeDialog::SliderSetPos(int id, int position) {
  Record(Line("SliderSetPos", id, std::to_string(position)));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) {
    c->position = std::clamp(position, c->minimum, c->maximum);
  }
}

int FakeDialog::SliderGetPos(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->kind == ControlKind::Slider ? c->position : 0;
}

void FakeDialog::SliderSetTick(int id, int position) {
  Record(Line("SliderSetTick", id, std::to_string(position)));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Slider) c->ticks.push_back(position);
}

std::vector<int> FakeDialog::SliderTicks(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c == nullptr ? std::vector<int>{} : c->ticks;
}

// --- progress bar -----------------------------------------------------------------------------------

void FakeDialog::ProgressSetPos(int id, int position) {
  Record(Line("ProgressSetPos", id, std::to_string(position)));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::Progress) c->position = std::clamp(position, 0, 100);
}

int FakeDialog::ProgressGetPos(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->kind == ControlKind::Progress ? c->position : 0;
}

// --- list view --------------------------------------------------------------------------------------

void FakeDialog::ListSetFullRowSelect(int id, bool on) { Record(Line("ListSetFullRowSelect", id, on ? "1" : "0")); }

void FakeDialog::ListInsertColumn(int id, int column, const std::string& title, int width) {
  Record(Line("ListInsertColumn", id, std::to_string(column) + " " + title + " " + std::to_string(width)));
  std::lock_guard lock(lock_);
  if (Control* c = Find(id); c != nullptr && c->kind == ControlKind::ListView) {
    const auto at = static_cast<std::size_t>(std::clamp(column, 0, static_cast<int>(c->columns.size())));
    c->columns.insert(c->columns.begin() + static_cast<std::ptrdiff_t>(at), title);
  }
}

std::vector<std::string> FakeDialog::ListColumns(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c == nullptr ? std::vector<std::string>{} : c->columns;
}

int FakeDialog::ListInsertItem(int id, int index, const std::string& text) {
  Record(Line("ListInsertItem", id, std::to_string(index) + " " + text));
  int at = -1;
  {
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ListView) return -1;
    at = std::clamp(index, 0, static_cast<int>(c->rows.size()));
    c->rows.insert(c->rows.begin() + at, std::vector<std::string>{text});
    if (c->selection >= at) ++c->selection;
  }
  Notify(id, LVN_INSERTITEM, at);
  return at;
}

void FakeDialog::ListSetItemText(int id, int item, int subItem, const std::string& text) {
  Record(Line("ListSetItemText", id, std::to_string(item) + " " + std::to_string(subItem) + " " + text));
  std::lock_guard lock(lock_);
  Control* c = Find(id);
  if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return;
  auto& row = c->rows[static_cast<std::size_t>(item)];
  if (static_cast<int>(row.size()) <= subItem) row.resize(static_cast<std::size_t>(subItem) + 1);
  row[static_cast<std::size_t>(subItem)] = text;
}

std::string FakeDialog::ListItemText(int id, int item, int subItem) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size()) || subItem < 0) return {};
  const auto& row = c->rows[static_cast<std::size_t>(item)];
  return subItem < static_cast<int>(row.size()) ? row[static_cast<std::size_t>(subItem)] : std::string();
}

bool FakeDialog::ListDeleteItem(int id, int item) {
  Record(Line("ListDeleteItem", id, std::to_string(item)));
  {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    if (c == nullptr || item < 0 || item >= static_cast<int>(c->rows.size())) return false;
  }
  Notify(id, LVN_DELETEITEM, item);
  std::lock_guard lock(lock_);
  Control* c = Find(id);
  c->rows.erase(c->rows.begin() + item);
  if (c->selection == item) c->selection = -1;
  else if (c->selection > item) --c->selection;
  return true;
}

void FakeDialog::ListDeleteAllItems(int id) {
  Record(Line("ListDeleteAllItems", id));
  int count = 0;
  {
    std::lock_guard lock(lock_);
    const Control* c = Find(id);
    if (c == nullptr) return;
    count = static_cast<int>(c->rows.size());
  }
  for (int i = 0; i < count; ++i) Notify(id, LVN_DELETEITEM, i);
  std::lock_guard lock(lock_);
  Control* c = Find(id);
  c->rows.clear();
  c->selection = -1;
}

int FakeDialog::ListCount(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c == nullptr ? 0 : static_cast<int>(c->rows.size());
}

int FakeDialog::ListGetSel(int id) const {
  std::lock_guard lock(lock_);
  const Control* c = Find(id);
  return c != nullptr && c->kind == ControlKind::ListView ? c->selection : -1;
}

void FakeDialog::ListSetSel(int id, int item) {
  Record(Line("ListSetSel", id, std::to_string(item)));
  {
    std::lock_guard lock(lock_);
    Control* c = Find(id);
    if (c == nullptr || c->kind != ControlKind::ListView) return;
    const int wanted = item >= 0 && item < static_cast<int>(c->rows.size()) ? item : -1;
    if (wanted == c->selection) return;
    c->selection = wanted;
  }
  Notify(id, LVN_ITEMCHANGED, item);
}

// --- the window ----------------------------------------------------------------------------

void FakeDialog::SetTitle(const std::string& title) {
  Record("SetTitle " + title);
  std::lock_guard lock(lock_);
  title_ = title;
}

std::string FakeDialog::Title() const {
  std::lock_guard lock(lock_);
  return title_;
}

RECT FakeDialog::ClientRect() const {
  // Dialog units at base units 6 x 13.
  return RECT{0, 0, template_.cx * 6 / 4, template_.cy * 13 / 8};
}

void FakeDialog::BringToFront() {
  Record("BringToFront");
  std::lock_guard lock(lock_);
  broughtToFront_ = true;
}

void FakeDialog::End(INT_PTR result) {
  Record("End " + std::to_string(result));
  std::lock_guard lock(lock_);
  ended_ = true;
  result_ = result;
}

int FakeDialog::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  Record("MessageBox " + caption + ": " + text);
  toolkit_.RecordBox(MessageBoxCall{true, text, caption, type});
  return IDOK;
}

std::optional<std::vector<std::string>> FakeDialog::OpenFiles(const OpenFileRequest& request) {
  Record("OpenFiles " + request.initialFolder);
  return toolkit_.NextOpenFiles();
}

std::optional<std::string> FakeDialog::BrowseForFolder(const std::string& title, const std::string& initialFolder) {
  Record("BrowseForFolder " + title + " " + initialFolder);
  return toolkit_.NextFolder();
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

std::vector<MessageBoxCall> FakeToolkit::MessageBoxes() const {
  std::lock_guard lock(lock_);
  return boxes_;
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
  dialog.Send(WM_INITDIALOG, 0, param);
  if (!dialog.Ended() && script) script(dialog);
  dialog.Send(WM_DESTROY, 0, 0);
  {
    std::lock_guard lock(lock_);
    running_.erase(std::remove(running_.begin(), running_.end(), &dialog), running_.end());
  }
  return dialog.Result();
}

void FakeToolkit::PostQuit(int) {
  std::vector<FakeDialog*> dialogs;
  {
    std::lock_guard lock(lock_);
    ++quitRequests_;
    dialogs = running_;
  }
  for (FakeDialog* dialog : dialogs) dialog->End(0);
}

void FakeToolkit::Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) {
  std::vector<FakeDialog*> dialogs;
  {
    std::lock_guard lock(lock_);
    dialogs.assign(running_.rbegin(), running_.rend());
  }
  for (FakeDialog* dialog : dialogs) dialog->Send(msg, wParam, lParam);
}

void FakeDialog::ServeWhile(const std::function<bool()>& busy) {
  Record("ServeWhile 0");
  while (busy()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int FakeToolkit::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  RecordBox(MessageBoxCall{false, text, caption, type});
  return IDOK;
}

void FakeToolkit::RecordBox(MessageBoxCall call) {
  std::lock_guard lock(lock_);
  boxes_.push_back(std::move(call));
}

std::optional<std::vector<std::string>> FakeToolkit::NextOpenFiles() {
  std::lock_guard lock(lock_);
  std::optional<std::vector<std::string>> answer;
  if (!openFiles_.empty()) {
    answer.swap(openFiles_.front());
    openFiles_.pop_front();
  }
  return answer;
}

std::optional<std::string> FakeToolkit::NextFolder() {
  std::lock_guard lock(lock_);
  if (folders_.empty()) return std::nullopt;
  auto answer = std::move(folders_.front());
  folders_.pop_front();
  return answer;
}

}  // namespace ui::testing
