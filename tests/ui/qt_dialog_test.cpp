// The Qt toolkit on the offscreen platform: dialog 102 built from its template, the
// keys, the close box, painting, calls from another thread, and a procedure's
// exception.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/shell_handles.h"
#include "platform/instance/single_instance.h"
#include "tests/support/temp_dir.h"
#include "ui/dialog_template.h"
#include "ui/drawing_helpers.h"
#include "ui/main_window.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/qt_toolkit.h"
#include "platform/window/winuser.h"
#include "base/process_state.h"
#include "platform/com/com.h"
#include "platform/core/kernel.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/port_table.h"

// Font lookup keeps its cache until the process ends; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

// What the test procedure saw, and what it does while the dialog runs.
struct Probe {
  std::vector<std::pair<UINT, WPARAM>> messages;  // WM_COMMAND and registered messages
  std::function<void(HWND)> whileRunning;          // runs once the loop is going
  bool forwardToMain = false;                      // let MainDlgProc answer too
  bool throwOnCommand = false;
  bool onWindowThread = true;
};
Probe* g_probe = nullptr;

INT_PTR ProbeProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  Probe& probe = *g_probe;
  if (QThread::currentThread() != qApp->thread()) probe.onWindowThread = false;
  if (msg == WM_COMMAND || msg >= kFirstRegisteredMessage) probe.messages.emplace_back(msg, wParam);
  if (msg == WM_COMMAND && probe.throwOnCommand) throw std::runtime_error("fault in the window");
  if (msg == WM_INITDIALOG && probe.whileRunning) {
    QTimer::singleShot(0, qApp, [hDlg, &probe] { probe.whileRunning(hDlg); });
  }
  if (probe.forwardToMain) return MainDlgProc(hDlg, msg, wParam, lParam);
  return msg == WM_INITDIALOG ? TRUE : FALSE;
}

class QtDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "qt_dialog_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  static void TearDownTestSuite() { app_.reset(); }

  void SetUp() override {
    // What start-up prepares for the main window: buffers, the component runtime, one
    // synthesiser port (nothing is loaded from it here) and silent audio.
    ::setenv("HALVANE_AUDIO_DRIVER", "none", 1);
    AllocateProcessBuffers();
    std::snprintf(g_szProgramDir, kTextBufferSize, "%s", temp_.Path().c_str());
    CoInitialize(nullptr);
    const std::string font = temp_.File("port.sf2");
    platform::SetPortTableForTesting(std::vector<platform::PortInfo>{
        {font, platform::GuidFromName(font), u"Port", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS,
         DMUS_PORT_USER_MODE_SYNTH}});
    platform::SetExitProcessForTesting([](UINT) {});
    g_DebugLog.CreateLogFile(temp_.File("log.txt").c_str());
    const RECT rect{0, 0, 128, 128};
    CreateFillBmp(1, &rect, 30, 15, 0, 0, &g_hBackgroundBitmap, &g_hFillObject);
    ui::SetToolkit(&toolkit_);
    g_probe = &probe_;
  }
  void TearDown() override {
    platform::SetExitProcessForTesting(nullptr);
    platform::SetPortTableForTesting(std::nullopt);
    while (platform::IsComInitialized()) CoUninitialize();
    ui::SetToolkit(nullptr);
    g_probe = nullptr;
    DeleteObject(g_hBackgroundBitmap);
    DeleteObject(g_hFillObject);
  }

  INT_PTR Run() { return DialogBoxParamA(g_hInstance, ui::IDD_MAIN, nullptr, ProbeProc, 0); }

  static ui::qt::QtDialog& Facade(HWND hDlg) { return static_cast<ui::qt::QtDialog&>(ui::Dlg(hDlg)); }
  template <typename W>
  static W* Control(HWND hDlg, int id) {
    return Facade(hDlg).Surface()->findChild<W*>(QStringLiteral("item-%1").arg(id));
  }
  // The user focuses target and presses key there.
  static void Key(QWidget* target, int key) {
    target->setFocus(Qt::OtherFocusReason);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
  }
  std::vector<WPARAM> Commands() const {
    std::vector<WPARAM> commands;
    for (const auto& [msg, wParam] : probe_.messages) {
      if (msg == WM_COMMAND) commands.push_back(wParam);
    }
    return commands;
  }

  static std::unique_ptr<QApplication> app_;
  testing_support::TempDir temp_;
  ui::qt::QtToolkit toolkit_;
  Probe probe_;
};
std::unique_ptr<QApplication> QtDialogTest::app_;

TEST_F(QtDialogTest, MainWindowIsBuiltFromItsTemplateAndExitEndsIt) {
  probe_.forwardToMain = true;
  QString title;
  QSize size, minimum, maximum;
  QRect exitRect;
  QString tooltip;
  bool hasIcon = false, visible = false;
  probe_.whileRunning = [&](HWND hDlg) {
    QDialog* surface = Facade(hDlg).Surface();
    title = surface->windowTitle();
    size = surface->size();
    minimum = surface->minimumSize();
    maximum = surface->maximumSize();
    visible = surface->isVisible();
    QPushButton* exitButton = Control<QPushButton>(hDlg, IDOK);
    ASSERT_NE(exitButton, nullptr);
    exitRect = exitButton->geometry();
    tooltip = exitButton->toolTip();
    hasIcon = !exitButton->icon().isNull();
    exitButton->click();
  };
  Run();

  EXPECT_TRUE(visible);
  EXPECT_EQ(title, QStringLiteral("Halvane"));
  EXPECT_EQ(minimum, maximum);  // not resizable
  EXPECT_EQ(size, minimum);
  // Dialog units scale x and y by their own base units: the Exit button stands where
  // the template puts it relative to the whole window (to the pixel's rounding).
  EXPECT_NEAR(exitRect.x(), 386.0 * size.width() / 450, 1.5);
  EXPECT_NEAR(exitRect.y(), 235.0 * size.height() / 258, 1.5);
  EXPECT_NEAR(exitRect.width(), 56.0 * size.width() / 450, 1.5);
  EXPECT_NEAR(exitRect.height(), 20.0 * size.height() / 258, 1.5);
  EXPECT_GT(size.width(), size.height());
  EXPECT_EQ(tooltip, QStringLiteral("Exit"));
  EXPECT_TRUE(hasIcon);
  // Creation sends the check box's command once; then the user's Exit.
  EXPECT_EQ(Commands(), (std::vector<WPARAM>{MAKEWPARAM(2014, 0), MAKEWPARAM(IDOK, BN_CLICKED)}));
  const std::string log = testing_support::ReadFileBytes(temp_.Path() / "log.txt");
  EXPECT_NE(log.find("\r\nMessage: OK\r\nMessage: DESTROY\r\n"), std::string::npos) << log;
}

TEST_F(QtDialogTest, EnterIsOkUnlessAPushButtonHasFocusAndEscapeIsCancel) {
  probe_.whileRunning = [&](HWND hDlg) {
    Key(Control<QLineEdit>(hDlg, 2012), Qt::Key_Return);   // the edit box: the dialog's OK
    Key(Control<QCheckBox>(hDlg, 2014), Qt::Key_Enter);    // the check box: also OK
    Key(Control<QPushButton>(hDlg, 2004), Qt::Key_Return); // a push button: its own command
    Key(Control<QLineEdit>(hDlg, 2012), Qt::Key_Escape);
    EndDialog(hDlg, 5);
  };
  EXPECT_EQ(Run(), 5);
  EXPECT_EQ(Commands(), (std::vector<WPARAM>{MAKEWPARAM(IDOK, BN_CLICKED), MAKEWPARAM(IDOK, BN_CLICKED),
                                             MAKEWPARAM(2004, BN_CLICKED), MAKEWPARAM(IDCANCEL, BN_CLICKED)}));
}

TEST_F(QtDialogTest, EscapeAloneLeavesTheMainWindowOpenAndTheCloseBoxEndsIt) {
  probe_.forwardToMain = true;
  bool visibleAfterEscape = false;
  probe_.whileRunning = [&](HWND hDlg) {
    Key(Control<QLineEdit>(hDlg, 2012), Qt::Key_Escape);
    QApplication::processEvents();
    visibleAfterEscape = Facade(hDlg).Surface()->isVisible();
    Facade(hDlg).Surface()->close();
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(visibleAfterEscape);
  const std::string log = testing_support::ReadFileBytes(temp_.Path() / "log.txt");
  EXPECT_NE(log.find("\r\nMessage: CLOSE\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Message: OK"), std::string::npos) << log;
}

TEST_F(QtDialogTest, BackgroundIsThePatternTiledFromTheOriginAndLabelsAreTransparent) {
  probe_.forwardToMain = true;
  QImage shot;
  bool labelFills = true, workerLabelFills = false;
  probe_.whileRunning = [&](HWND hDlg) {
    shot = Facade(hDlg).Surface()->grab().toImage();
    for (QLabel* label : Facade(hDlg).Surface()->findChildren<QLabel*>(QStringLiteral("item-static"))) {
      if (label->text() == QStringLiteral("MIDI Files")) labelFills = label->autoFillBackground();
    }
    workerLabelFills = Control<QLabel>(hDlg, 2016)->autoFillBackground();
    EndDialog(hDlg, 0);
  };
  Run();
  ASSERT_FALSE(shot.isNull());
  const auto pattern = ui::BitmapFromHandle(g_hBackgroundBitmap);
  ASSERT_NE(pattern, nullptr);
  const qreal ratio = shot.devicePixelRatio();
  // The strip above the first label is bare background.
  for (int x = 0; x < 128; x += 7) {
    const QRgb pixel = shot.pixel(static_cast<int>(x * ratio), static_cast<int>(2 * ratio));
    EXPECT_EQ(pixel | 0xFF000000u, pattern->pixels[2 * 128 + static_cast<std::size_t>(x)]) << x;
    EXPECT_EQ(pixel, shot.pixel(static_cast<int>((x + 128) * ratio), static_cast<int>(2 * ratio))) << x;
  }
  EXPECT_FALSE(labelFills);
  EXPECT_TRUE(workerLabelFills);
}

TEST_F(QtDialogTest, CallsFromAnotherThreadRunOnTheWindowThreadAndReturnWhenDone) {
  std::atomic<bool> done{false};
  std::string textSeen;
  int progressSeen = -1;
  std::thread worker;
  probe_.whileRunning = [&](HWND hDlg) {
    worker = std::thread([&done, &textSeen, &progressSeen, hDlg] {
      SetDlgItemTextA(hDlg, 2016, "File: song.mid");
      ui::Dlg(hDlg).ProgressSetPos(2010, 250);  // clamped to the bar's range
      textSeen = ui::Dlg(hDlg).ItemText(2016);
      progressSeen = ui::Dlg(hDlg).ProgressGetPos(2010);
      SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(2008, BN_CLICKED), 0);
      done = true;
    });
    // The window thread keeps serving while the worker works.
    auto* poll = new QTimer(Facade(hDlg).Surface());
    QObject::connect(poll, &QTimer::timeout, [&done, hDlg] {
      if (done) EndDialog(hDlg, 3);
    });
    poll->start(5);
  };
  EXPECT_EQ(Run(), 3);
  worker.join();
  EXPECT_EQ(textSeen, "File: song.mid");
  EXPECT_EQ(progressSeen, 100);
  EXPECT_TRUE(probe_.onWindowThread);
  EXPECT_EQ(Commands(), (std::vector<WPARAM>{MAKEWPARAM(2008, BN_CLICKED)}));
}

TEST_F(QtDialogTest, BroadcastFromAnotherThreadReachesTheRunningDialog) {
  const UINT message = RegisterWindowMessageA("open halvane");
  probe_.whileRunning = [&](HWND hDlg) {
    std::thread([this, message] { toolkit_.Broadcast(message, 0, 0); }).detach();
    auto* poll = new QTimer(Facade(hDlg).Surface());
    QObject::connect(poll, &QTimer::timeout, [this, hDlg, message] {
      for (const auto& [msg, wParam] : probe_.messages) {
        if (msg == message) EndDialog(hDlg, 1);
      }
    });
    poll->start(5);
  };
  EXPECT_EQ(Run(), 1);
  EXPECT_TRUE(probe_.onWindowThread);
}

TEST_F(QtDialogTest, AnExceptionInTheProcedureEndsTheDialogAndLeavesRunDialog) {
  probe_.throwOnCommand = true;
  probe_.whileRunning = [&](HWND hDlg) { Control<QPushButton>(hDlg, IDOK)->click(); };
  EXPECT_THROW(Run(), std::runtime_error);
  // The ended dialog is no longer among the running ones: nothing receives this.
  const std::size_t seen = probe_.messages.size();
  toolkit_.Broadcast(RegisterWindowMessageA("open halvane"), 0, 0);
  EXPECT_EQ(probe_.messages.size(), seen);
  // No top-level dialog stays on screen.
  for (QWidget* widget : QApplication::topLevelWidgets()) EXPECT_FALSE(widget->isVisible());
}

}  // namespace
