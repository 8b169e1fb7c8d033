#include "ui/qt/qt_session.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QStyleFactory>

#include <cerrno>

namespace ui::qt {

namespace {

constexpr int kCloseSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe from the signal handler to the window thread; -1 when not set up.
volatile sig_atomic_t s_signalWriteEnd = -1;
int s_signalReadEnd = -1;

void OnCloseSignal(int) {
  const int saved = errno;
  const int fd = s_signalWriteEnd;
  if (fd >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

QtSession::QtSession(int& argc, char** argv) : app_(std::make_unique<QApplication>(argc, argv)) {
  if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(style);
  SetToolkit(&toolkit_);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    s_signalReadEnd = fds[0];
    s_signalWriteEnd = fds[1];
    signals_ = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
    QObject::connect(signals_.get(), &QSocketNotifier::activated, [this] {
      char bytes[64];
      while (::read(s_signalReadEnd, bytes, sizeof bytes) > 0) {
      }
      // One close request per session: repeated signals do not close twice.
      if (closeRequested_) return;
      closeRequested_ = true;
      toolkit_.Broadcast(WM_CLOSE, 0, 0);
    });
    struct sigaction action {};
    action.sa_handler = OnCloseSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kCloseSignals) ::sigaction(sig, &action, nullptr);
  }
}

QtSession::~QtSession() {
  if (signals_) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : kCloseSignals) ::sigaction(sig, &action, nullptr);
    signals_.reset();
    const int writeEnd = s_signalWriteEnd;
    s_signalWriteEnd = -1;
    ::close(writeEnd);
    ::close(s_signalReadEnd);
    s_signalReadEnd = -1;
  }
  SetToolkit(nullptr);
  app_.reset();
}

}  // namespace ui::qt
