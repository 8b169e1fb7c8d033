// The program's window session: the Qt application object, the Qt toolkit installed
// as the current toolkit, and the termination signals (SIGTERM, SIGINT, SIGHUP)
// turned into a close request to the running dialogs, so that a user logging out
// leaves the program the way the close box does.
#pragma once

#include <memory>

#include "ui/qt/qt_toolkit.h"

class QApplication;
class QSocketNotifier;

namespace ui::qt {

class QtSession {
 public:
  // argc and argv must outlive the session.
  QtSession(int& argc, char** argv);
  ~QtSession();
  QtSession(const QtSession&) = delete;
  QtSession& operator=(const QtSession&) = delete;

 private:
  std::unique_ptr<QApplication> app_;
  QtToolkit toolkit_;
  std::unique_ptr<QSocketNotifier> signals_;
  bool closeRequested_ = false;
};

}  // namespace ui::qt
