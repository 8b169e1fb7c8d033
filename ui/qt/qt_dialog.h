// A dialog of the facade (platform/window/dialog.h) made of Qt widgets, built from its template.
// Each control is a child widget named "item-<id>" ("item-static" for controls
// without an id).
#pragma once

#include <QDialog>
#include <QMetaObject>
#include <QPoint>
#include <QThread>

#include <exception>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/window/dialog.h"
#include "ui/dialog_template.h"

class QEventLoop;
class QWidget;

namespace ui::qt {

class QtDialog;

// The top-level widget: paints through WM_ERASEBKGND, turns the close box and the
// keyboard into the dialog's messages.
class DialogSurface : public QDialog {
 public:
  DialogSurface(QtDialog& owner, QWidget* parent);

  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QtDialog& owner_;
};

class QtDialog : public Dialog {
 public:
  QtDialog(const DialogTemplate& tmpl, DLGPROC proc, QWidget* parentWidget);
  ~QtDialog() override;

  // Runs the dialog modally (see ui::Toolkit::RunDialog).
  INT_PTR Run(LPARAM param);
  // Ends the modal loop as a quit request does.
  void Quit();

  DialogSurface* Surface() const { return surface_.get(); }

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
  void ListSetFullRowSelect(int id, bool on) override;
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
  void End(INT_PTR result) override;
  void ServeWhile(const std::function<bool()>& busy) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;
  std::optional<std::vector<std::string>> OpenFiles(const OpenFileRequest& request) override;
  std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& initialFolder) override;

  // For the surface.
  void OnCloseBox();
  void OnEnterKey();
  void OnEscapeKey();
  void PaintBackground(QWidget& surface);

 private:
  struct Control {
    ControlKind kind;
    int id;
    QWidget* widget;         // owned by the surface
    std::vector<int> ticks;  // slider tick marks
    // List view: the selected rows, ascending, as the notifications have told them.
    // The view shows the same once each notification is sent.
    std::vector<int> selected;
  };

  void Build();
  void AskControlColours();
  void SendCommand(int id, UINT code);
  void SendNotify(int id, UINT code, int item = -1, UINT oldState = 0, UINT newState = 0);
  // List view: one row gains or loses the selected state, shown and notified.
  void ChangeSelection(Control& list, int row, bool select);
  // List view: the view's selection made to show the rows in list.selected.
  void ShowSelection(const Control& list);
  // List view: the user changed the view's selection; notified as losses, then gains.
  void OnUserSelection(int id);
  // List view: the user released the mouse button over point (viewport pixels).
  void OnUserClick(int id, QPoint point);
  Control* Find(int id);
  const Control* Find(int id) const;
  template <typename W>
  W* Widget(int id, ControlKind kind) const;
  // Runs f on the window's thread and returns its answer; a call from that thread
  // runs f at once.
  template <typename F>
  auto OnWindowThread(F f) const -> decltype(f());

  const DialogTemplate& template_;
  DLGPROC proc_;
  std::unique_ptr<DialogSurface> surface_;
  std::vector<Control> controls_;
  int baseX_ = 0;
  int baseY_ = 0;
  QEventLoop* loop_ = nullptr;
  bool ended_ = false;
  INT_PTR result_ = 0;
  // > 0 while the program itself changes a list view or slider: the widgets' own
  // signals then are not the user's.
  int silence_ = 0;
  // The first exception a dialog procedure let out; the dialog ends and Run throws it.
  std::exception_ptr fault_;
};

template <typename F>
auto QtDialog::OnWindowThread(F f) const -> decltype(f()) {
  using R = decltype(f());
  QObject* context = surface_.get();
  if (QThread::currentThread() == context->thread()) return f();
  if constexpr (std::is_void_v<R>) {
    QMetaObject::invokeMethod(context, f, Qt::BlockingQueuedConnection);
  } else {
    R result{};
    QMetaObject::invokeMethod(
        context, [&result, &f] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
  }
}

template <typename W>
W* QtDialog::Widget(int id, ControlKind kind) const {
  const Control* control = Find(id);
  if (control == nullptr || control->kind != kind) return nullptr;
  return static_cast<W*>(control->widget);
}

}  // namespace ui::qt
