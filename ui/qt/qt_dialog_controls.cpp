// QtDialog's facade methods on its controls and its window: each runs on the
// window's thread.
#include "ui/qt/qt_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>

#include <algorithm>
#include <iterator>
#include <numeric>

#include "ui/qt/button_icons.h"
#include "ui/qt/qt_strings.h"

namespace ui::qt {

// --- any control -------------------------------------------------------------

void QtDialog::EnableItem(int id, bool enable) {
  OnWindowThread([=, this] {
    if (const Control* c = Find(id)) c->widget->setEnabled(enable);
  });
}

bool QtDialog::IsItemEnabled(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && c->widget->isEnabled();
  });
}

void QtDialog::ShowItem(int id, bool show) {
  OnWindowThread([=, this] {
    if (const Control* c = Find(id)) c->widget->setHidden(!show);
  });
}

bool QtDialog::IsItemVisible(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c != nullptr && !c->widget->isHidden();
  });
}

void QtDialog::SetItemText(int id, const std::string& text) {
  OnWindowThread([&, this] {
    const Control* c = Find(id);
    if (c == nullptr) return;
    const QString value = Q(text);
    if (auto* label = qobject_cast<QLabel*>(c->widget))
      label->setText(value);
    else if (auto* button = qobject_cast<QAbstractButton*>(c->widget))
      button->setText(value);
    else if (auto* group = qobject_cast<QGroupBox*>(c->widget))
      group->setTitle(value);
    else if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) {
      edit->setText(value);
      edit->setCursorPosition(0);
      // A path too long for the box can be read whole.
      edit->setToolTip(value);
    }
  });
}

std::string QtDialog::ItemText(int id) const {
  return OnWindowThread([&, this]() -> std::string {
    const Control* c = Find(id);
    if (c == nullptr) return {};
    if (auto* label = qobject_cast<QLabel*>(c->widget)) return S(label->text());
    if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) return S(button->text());
    if (auto* group = qobject_cast<QGroupBox*>(c->widget)) return S(group->title());
    if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) return S(edit->text());
    if (auto* combo = qobject_cast<QComboBox*>(c->widget)) return S(combo->currentText());
    return {};
  });
}

void QtDialog::FocusItem(int id) {
  OnWindowThread([=, this] {
    if (const Control* c = Find(id)) c->widget->setFocus(Qt::OtherFocusReason);
  });
}

int QtDialog::FocusedItem() const {
  return OnWindowThread([this] {
    const QWidget* focus = surface_->focusWidget();
    for (const Control& c : controls_) {
      if (c.widget == focus && c.id != kNoId) return c.id;
    }
    return 0;
  });
}

void QtDialog::DecorateButton(int id, const ButtonDecoration& decoration) {
  OnWindowThread([&, this] {
    auto* button = Widget<QPushButton>(id, ControlKind::PushButton);
    if (button == nullptr) return;
    const QIcon icon = ButtonIcon(decoration.iconId);
    if (!icon.isNull()) {
      button->setIcon(icon);
      button->setIconSize(QSize(16, 16));
    }
    button->setToolTip(Q(decoration.tooltip));
    button->setProperty("decorationStyle", static_cast<uint>(decoration.style));
  });
}

// --- check boxes ---------------------------------------------------------------

void QtDialog::SetCheck(int id, UINT state) {
  OnWindowThread([=, this] {
    if (auto* box = Widget<QCheckBox>(id, ControlKind::CheckBox)) box->setChecked(state == BST_CHECKED);
  });
}

UINT QtDialog::GetCheck(int id) const {
  return OnWindowThread([=, this]() -> UINT {
    auto* box = Widget<QCheckBox>(id, ControlKind::CheckBox);
    return box != nullptr && box->isChecked() ? BST_CHECKED : BST_UNCHECKED;
  });
}

// --- drop-down lists -------------------------------------------------------------

int QtDialog::ComboAddString(int id, const std::string& text) {
  return OnWindowThread([&, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    if (combo == nullptr) return CB_ERR;
    // A new list has no selection until the program chooses one.
    const bool wasEmpty = combo->count() == 0;
    combo->addItem(Q(text));
    if (wasEmpty) combo->setCurrentIndex(-1);
    return combo->count() - 1;
  });
}

void QtDialog::ComboResetContent(int id) {
  OnWindowThread([=, this] {
    if (auto* combo = Widget<QComboBox>(id, ControlKind::ComboList)) combo->clear();
  });
}

int QtDialog::ComboCount(int id) const {
  return OnWindowThread([=, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    return combo == nullptr ? 0 : combo->count();
  });
}

std::string QtDialog::ComboText(int id, int index) const {
  return OnWindowThread([=, this]() -> std::string {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    if (combo == nullptr || index < 0 || index >= combo->count()) return {};
    return S(combo->itemText(index));
  });
}

void QtDialog::ComboSetSel(int id, int index) {
  OnWindowThread([=, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    if (combo == nullptr) return;
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  });
}

int QtDialog::ComboGetSel(int id) const {
  return OnWindowThread([=, this] {
    auto* combo = Widget<QComboBox>(id, ControlKind::ComboList);
    return combo == nullptr ? CB_ERR : combo->currentIndex();
  });
}

// --- slider --------------------------------------------------------------------

void QtDialog::SliderSetRange(int id, int minimum, int maximum) {
  OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    if (slider == nullptr) return;
    ++silence_;
    slider->setRange(minimum, maximum);
    --silence_;
  });
}

void QtDialog::SliderSetPos(int id, int position) {
  OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    if (slider == nullptr) return;
    ++silence_;
    slider->setValue(position);
    --silence_;
  });
}

int QtDialog::SliderGetPos(int id) const {
  return OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    return slider == nullptr ? 0 : slider->value();
  });
}

void QtDialog::SliderSetTick(int id, int position) {
  OnWindowThread([=, this] {
    auto* slider = Widget<QSlider>(id, ControlKind::Slider);
    if (slider == nullptr) return;
    auto& ticks = const_cast<Control*>(Find(id))->ticks;
    ticks.push_back(position);
    // The slider draws evenly spaced marks: the common spacing of the set ticks.
    int spacing = 0;
    for (int tick : ticks) spacing = std::gcd(spacing, tick - slider->minimum());
    slider->setTickInterval(std::max(spacing, 1));
    slider->setTickPosition(QSlider::TicksBelow);
  });
}

std::vector<int> QtDialog::SliderTicks(int id) const {
  return OnWindowThread([=, this] {
    const Control* c = Find(id);
    return c == nullptr ? std::vector<int>{} : c->ticks;
  });
}

// --- progress bar ------------------------------------------------------------------

void QtDialog::ProgressSetPos(int id, int position) {
  OnWindowThread([=, this] {
    if (auto* bar = Widget<QProgressBar>(id, ControlKind::Progress)) {
      bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    }
  });
}

int QtDialog::ProgressGetPos(int id) const {
  return OnWindowThread([=, this] {
    auto* bar = Widget<QProgressBar>(id, ControlKind::Progress);
    return bar == nullptr ? 0 : bar->value();
  });
}

// --- list view ---------------------------------------------------------------------

namespace {

// The rows the view shows selected, ascending.
std::vector<int> ViewSelection(const QTreeWidget& list) {
  std::vector<int> rows;
  for (const QModelIndex& index : list.selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

bool Contains(const std::vector<int>& rows, int row) { return std::binary_search(rows.begin(), rows.end(), row); }

}  // namespace

void QtDialog::ShowSelection(const Control& control) {
  auto* list = static_cast<QTreeWidget*>(control.widget);
  if (ViewSelection(*list) == control.selected) return;
  ++silence_;
  QItemSelection selection;
  for (int row : control.selected) {
    const QModelIndex index = list->model()->index(row, 0);
    if (index.isValid()) selection.select(index, index);
  }
  list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  --silence_;
}

void QtDialog::ChangeSelection(Control& control, int row, bool select) {
  auto& rows = control.selected;
  if (Contains(rows, row) == select) return;
  if (select) {
    rows.insert(std::upper_bound(rows.begin(), rows.end(), row), row);
  } else {
    rows.erase(std::lower_bound(rows.begin(), rows.end(), row));
  }
  ShowSelection(control);
  SendNotify(control.id, LVN_ITEMCHANGED, row, select ? 0 : LVIS_SELECTED, select ? LVIS_SELECTED : 0);
}

void QtDialog::OnUserSelection(int id) {
  if (silence_ > 0) return;
  Control* control = Find(id);
  if (control == nullptr) return;
  const std::vector<int> now = ViewSelection(*static_cast<QTreeWidget*>(control->widget));
  std::vector<int> lost, gained;
  std::set_difference(control->selected.begin(), control->selected.end(), now.begin(), now.end(),
                      std::back_inserter(lost));
  std::set_difference(now.begin(), now.end(), control->selected.begin(), control->selected.end(),
                      std::back_inserter(gained));
  // Windows reports the losses, then the gains, each once its own change holds: the
  // view takes the changes one at a time. When the procedure changes the selection
  // itself meanwhile, the rest of the user's change is dropped.
  std::vector<int> expected = control->selected;
  for (int row : lost) {
    if (control->selected != expected) return;
    expected.erase(std::lower_bound(expected.begin(), expected.end(), row));
    ChangeSelection(*control, row, false);
  }
  for (int row : gained) {
    if (control->selected != expected) return;
    expected.insert(std::upper_bound(expected.begin(), expected.end(), row), row);
    ChangeSelection(*control, row, true);
  }
}

void QtDialog::OnUserClick(int id, QPoint point) {
  auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
  if (list == nullptr || !list->isEnabled()) return;
  const QModelIndex index = list->indexAt(point);
  SendNotify(id, NM_CLICK, index.isValid() ? index.row() : -1);
}

void QtDialog::ListSetFullRowSelect(int id, bool on) {
  OnWindowThread([=, this] {
    if (auto* list = Widget<QTreeWidget>(id, ControlKind::ListView)) list->setAllColumnsShowFocus(on);
  });
}

void QtDialog::ListInsertColumn(int id, int column, const std::string& title, int width) {
  OnWindowThread([&, this] {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr) return;
    QStringList titles;
    if (!list->isHeaderHidden()) {
      for (int i = 0; i < list->columnCount(); ++i) titles << list->headerItem()->text(i);
    }
    std::vector<int> widths;
    for (int i = 0; i < titles.size(); ++i) widths.push_back(list->columnWidth(i));
    const int at = std::clamp(column, 0, static_cast<int>(titles.size()));
    titles.insert(at, Q(title));
    widths.insert(widths.begin() + at, width);
    list->setColumnCount(static_cast<int>(titles.size()));
    list->setHeaderLabels(titles);
    list->setHeaderHidden(false);
    for (int i = 0; i < static_cast<int>(widths.size()); ++i)
      list->setColumnWidth(i, widths[static_cast<std::size_t>(i)]);
  });
}

std::vector<std::string> QtDialog::ListColumns(int id) const {
  return OnWindowThread([=, this] {
    std::vector<std::string> titles;
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr || list->isHeaderHidden()) return titles;
    for (int i = 0; i < list->columnCount(); ++i) titles.push_back(S(list->headerItem()->text(i)));
    return titles;
  });
}

int QtDialog::ListInsertItem(int id, int index, const std::string& text) {
  return OnWindowThread([&, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return -1;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    const int at = std::clamp(index, 0, list->topLevelItemCount());
    auto* item = new QTreeWidgetItem();
    item->setText(0, Q(text));
    item->setToolTip(0, Q(text));
    ++silence_;
    list->insertTopLevelItem(at, item);
    --silence_;
    for (int& row : control->selected) row += row >= at ? 1 : 0;
    ShowSelection(*control);
    SendNotify(id, LVN_INSERTITEM, at);
    return at;
  });
}

void QtDialog::ListSetItemText(int id, int item, int subItem, const std::string& text) {
  OnWindowThread([&, this] {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr || subItem < 0) return;
    if (QTreeWidgetItem* row = list->topLevelItem(item)) {
      row->setText(subItem, Q(text));
      row->setToolTip(subItem, Q(text));
    }
  });
}

std::string QtDialog::ListItemText(int id, int item, int subItem) const {
  return OnWindowThread([=, this]() -> std::string {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    if (list == nullptr || subItem < 0) return {};
    const QTreeWidgetItem* row = list->topLevelItem(item);
    return row == nullptr ? std::string() : S(row->text(subItem));
  });
}

bool QtDialog::ListDeleteItem(int id, int item) {
  return OnWindowThread([=, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return false;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    if (item < 0 || item >= list->topLevelItemCount()) return false;
    ChangeSelection(*control, item, false);
    SendNotify(id, LVN_DELETEITEM, item);
    // The procedure may have changed the list meanwhile.
    if (item >= list->topLevelItemCount()) return false;
    ++silence_;
    std::unique_ptr<QTreeWidgetItem> removed(list->takeTopLevelItem(item));
    --silence_;
    auto& rows = control->selected;
    rows.erase(std::remove(rows.begin(), rows.end(), item), rows.end());
    for (int& row : rows) row -= row > item ? 1 : 0;
    ShowSelection(*control);
    return true;
  });
}

void QtDialog::ListDeleteAllItems(int id) {
  OnWindowThread([=, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    control->selected.clear();
    ShowSelection(*control);
    SendNotify(id, LVN_DELETEALLITEMS, -1);
    const int count = list->topLevelItemCount();
    for (int i = 0; i < count && i < list->topLevelItemCount(); ++i) SendNotify(id, LVN_DELETEITEM, i);
    ++silence_;
    list->clear();
    --silence_;
    control->selected.clear();
  });
}

int QtDialog::ListCount(int id) const {
  return OnWindowThread([=, this] {
    auto* list = Widget<QTreeWidget>(id, ControlKind::ListView);
    return list == nullptr ? 0 : list->topLevelItemCount();
  });
}

int QtDialog::ListGetSel(int id) const {
  return OnWindowThread([=, this] {
    const Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView || control->selected.empty()) return -1;
    return control->selected.front();
  });
}

void QtDialog::ListSetSel(int id, int item) {
  OnWindowThread([=, this] {
    Control* control = Find(id);
    if (control == nullptr || control->kind != ControlKind::ListView) return;
    auto* list = static_cast<QTreeWidget*>(control->widget);
    if (item < -1 || item >= list->topLevelItemCount()) return;
    if (item >= 0 && Contains(control->selected, item)) return;
    // A single-selection list lets go of its selected item first; -1 lets go of all.
    if (item == -1 || list->selectionMode() == QAbstractItemView::SingleSelection) {
      const std::vector<int> previous = control->selected;
      for (int row : previous) ChangeSelection(*control, row, false);
    }
    if (item >= 0) ChangeSelection(*control, item, true);
  });
}

// --- the window ------------------------------------------------------------------------

void QtDialog::SetTitle(const std::string& title) {
  OnWindowThread([&, this] { surface_->setWindowTitle(Q(title)); });
}

std::string QtDialog::Title() const {
  return OnWindowThread([this] { return S(surface_->windowTitle()); });
}

RECT QtDialog::ClientRect() const {
  return OnWindowThread([this] { return RECT{0, 0, surface_->width(), surface_->height()}; });
}

void QtDialog::AcceptFiles(bool accept) {
  OnWindowThread([=, this] { surface_->setAcceptDrops(accept); });
}

void QtDialog::BringToFront() {
  OnWindowThread([this] {
    if (surface_->isMinimized()) {
      surface_->showNormal();
    } else {
      surface_->show();
    }
    surface_->raise();
    surface_->activateWindow();
  });
}

}  // namespace ui::qt
