#include "ui/qt/qt_toolkit.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

#include <algorithm>

#include "ui/dialog_template.h"
#include "ui/qt/qt_dialog.h"

namespace ui::qt {

namespace {

// Runs f on the application's thread, waiting for it when called from another.
template <typename F>
void OnApplicationThread(F f) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr || QThread::currentThread() == app->thread()) {
    f();
  } else {
    QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
  }
}

}  // namespace

QtToolkit::QtToolkit() = default;
QtToolkit::~QtToolkit() = default;

INT_PTR QtToolkit::RunDialog(int templateId, HWND owner, DLGPROC proc, LPARAM param) {
  const DialogTemplate* tmpl = FindDialogTemplate(templateId);
  if (tmpl == nullptr) return -1;
  INT_PTR result = -1;
  OnApplicationThread([&] {
    QWidget* parent = nullptr;
    if (Dialog* ownerDialog = DialogFromHandle(owner)) {
      if (auto* qtOwner = dynamic_cast<QtDialog*>(ownerDialog)) parent = qtOwner->Surface();
    }
    QtDialog dialog(*tmpl, proc, parent);
    // The dialog leaves the running list however Run ends, also by an exception.
    struct Registration {
      std::vector<QtDialog*>& running;
      QtDialog* dialog;
      ~Registration() { running.erase(std::remove(running.begin(), running.end(), dialog), running.end()); }
    } registration{running_, &dialog};
    running_.push_back(&dialog);
    result = dialog.Run(param);
  });
  return result;
}

void QtToolkit::PostQuit(int) {
  OnApplicationThread([this] {
    for (auto it = running_.rbegin(); it != running_.rend(); ++it) (*it)->Quit();
  });
}

void QtToolkit::Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) {
  auto deliver = [this, msg, wParam, lParam] {
    // A dialog may end while an earlier one handles the message: walk a copy.
    const std::vector<QtDialog*> dialogs(running_.rbegin(), running_.rend());
    for (QtDialog* dialog : dialogs) {
      if (std::find(running_.begin(), running_.end(), dialog) != running_.end()) dialog->Send(msg, wParam, lParam);
    }
  };
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  if (QThread::currentThread() == app->thread()) {
    deliver();
  } else {
    QMetaObject::invokeMethod(app, deliver, Qt::QueuedConnection);
  }
}

int QtToolkit::MessageBox(const std::string& text, const std::string& caption, UINT type) {
  OnApplicationThread([&] {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if ((type & 0xF0) == MB_ICONERROR) icon = QMessageBox::Critical;
    if ((type & 0xF0) == MB_ICONINFORMATION) icon = QMessageBox::Information;
    QMessageBox box(icon, QString::fromUtf8(caption.c_str()), QString::fromUtf8(text.c_str()), QMessageBox::Ok);
    box.exec();
  });
  return IDOK;
}

}  // namespace ui::qt
