// The Qt toolkit on the offscreen platform: dialog 102 built from its template, the
// keys, the close box, painting, calls from another thread, a procedure's exception;
// the list view and slider notifying as the fake toolkit does; the real file dialog,
// folder browser and message box answering as the facade promises.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "base/shell_handles.h"
#include "convert/main_window_ids.h"
#include "platform/instance/single_instance.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/fake_dialog.h"
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

constexpr int kList = IDC_FILELIST;
constexpr int kSlider = IDC_TEMPO;

// What the test procedure saw, and what it does while the dialog runs.
struct Probe {
  std::vector<std::pair<UINT, WPARAM>> messages;  // WM_COMMAND and registered messages
  std::vector<std::string> notes;                 // WM_NOTIFY, as Describe gives them
  std::function<void(HWND)> whileRunning;         // runs once the loop is going
  bool forwardToMain = false;                     // let MainDlgProc answer too
  bool throwOnCommand = false;
  bool onWindowThread = true;
};
Probe* g_probe = nullptr;

// A notification, with the list's count and selection as the procedure finds them then.
std::string Describe(HWND hDlg, const NMLISTVIEW& n) {
  ui::Dialog& dialog = ui::Dlg(hDlg);
  const std::string item = std::to_string(n.iItem);
  const std::string list =
      " (count " + std::to_string(dialog.ListCount(kList)) + ", sel " + std::to_string(dialog.ListGetSel(kList)) + ")";
  switch (n.hdr.code) {
    case LVN_INSERTITEM:
      return "insert " + item + list;
    case LVN_DELETEITEM:
      return "delete " + item + list;
    case LVN_DELETEALLITEMS:
      return "delete all " + item + list;
    case LVN_ITEMCHANGED:
      return "changed " + item + " " + std::to_string(n.uOldState) + "->" + std::to_string(n.uNewState) +
             (n.uChanged == LVIF_STATE ? "" : " without LVIF_STATE") + list;
    case NM_CLICK:
      return "click " + item;
    case LVN_KEYDOWN:
      return "key " + std::to_string(reinterpret_cast<const NMLVKEYDOWN&>(n).wVKey);
    case TRBN_THUMBPOSCHANGING:
      return "slider " + std::to_string(dialog.SliderGetPos(kSlider));
    default:
      return "code " + std::to_string(static_cast<int>(n.hdr.code));
  }
}

INT_PTR ProbeProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  Probe& probe = *g_probe;
  if (QThread::currentThread() != qApp->thread()) probe.onWindowThread = false;
  if (msg == WM_COMMAND || msg >= kFirstRegisteredMessage) probe.messages.emplace_back(msg, wParam);
  if (msg == WM_NOTIFY) probe.notes.push_back(Describe(hDlg, *reinterpret_cast<const NMLISTVIEW*>(lParam)));
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
    platform::SetPortTableForTesting(
        std::vector<platform::PortInfo>{{font, platform::GuidFromName(font), u"Port", platform::SoundFontPortFlags(),
                                         DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH}});
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
  EXPECT_EQ(Commands(), (std::vector<WPARAM>{MAKEWPARAM(IDC_SAMEDIRECTORY, 0), MAKEWPARAM(IDOK, BN_CLICKED)}));
  const std::string log = testing_support::ReadFileBytes(temp_.Path() / "log.txt");
  EXPECT_NE(log.find("\r\nMessage: OK\r\nMessage: DESTROY\r\n"), std::string::npos) << log;
}

TEST_F(QtDialogTest, EnterIsOkUnlessAPushButtonHasFocusAndEscapeIsCancel) {
  probe_.whileRunning = [&](HWND hDlg) {
    Key(Control<QLineEdit>(hDlg, IDC_OUTPUTDIR), Qt::Key_Return);     // the edit box: the dialog's OK
    Key(Control<QCheckBox>(hDlg, IDC_SAMEDIRECTORY), Qt::Key_Enter);  // the check box: also OK
    Key(Control<QPushButton>(hDlg, IDC_ADDFILE), Qt::Key_Return);     // a push button: its own command
    Key(Control<QLineEdit>(hDlg, IDC_OUTPUTDIR), Qt::Key_Escape);
    EndDialog(hDlg, 5);
  };
  EXPECT_EQ(Run(), 5);
  EXPECT_EQ(Commands(), (std::vector<WPARAM>{MAKEWPARAM(IDOK, BN_CLICKED), MAKEWPARAM(IDOK, BN_CLICKED),
                                             MAKEWPARAM(IDC_ADDFILE, BN_CLICKED), MAKEWPARAM(IDCANCEL, BN_CLICKED)}));
}

TEST_F(QtDialogTest, EscapeAloneLeavesTheMainWindowOpenAndTheCloseBoxEndsIt) {
  probe_.forwardToMain = true;
  bool visibleAfterEscape = false;
  probe_.whileRunning = [&](HWND hDlg) {
    Key(Control<QLineEdit>(hDlg, IDC_OUTPUTDIR), Qt::Key_Escape);
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
    workerLabelFills = Control<QLabel>(hDlg, IDC_FILELABEL)->autoFillBackground();
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

// Luminance difference of two colours, 0 to 255.
int Contrast(const QColor& a, const QColor& b) { return std::abs(qGray(a.rgb()) - qGray(b.rgb())); }

// Under a dark desktop palette the window keeps its own light one: labels on the light
// pattern stay dark. Controls without text of their own have names for assistive
// technology; the read-only output field shows so, and its whole path as a tooltip;
// Delete in the list reaches the procedure.
TEST_F(QtDialogTest, DarkDesktopPaletteNamesForEveryControlReadOnlyFieldAndDeleteKey) {
  const QPalette desktop = QApplication::palette();
  QPalette dark = desktop;
  dark.setColor(QPalette::Window, QColor(0x30, 0x30, 0x30));
  dark.setColor(QPalette::WindowText, QColor(0xE0, 0xE0, 0xE0));
  dark.setColor(QPalette::Base, QColor(0x20, 0x20, 0x20));
  dark.setColor(QPalette::Text, QColor(0xE0, 0xE0, 0xE0));
  QApplication::setPalette(dark);
  probe_.forwardToMain = true;
  std::map<int, QString> names;
  QColor labelText, fileLabelText, fileLabelGround, fieldGround, fieldWindow;
  QString tooltip;
  bool readOnly = false;
  probe_.whileRunning = [&](HWND hDlg) {
    for (QLabel* label : Facade(hDlg).Surface()->findChildren<QLabel*>(QStringLiteral("item-static"))) {
      if (label->text() == QStringLiteral("Format")) labelText = label->palette().color(QPalette::WindowText);
    }
    QLabel* fileLabel = Control<QLabel>(hDlg, IDC_FILELABEL);
    fileLabelText = fileLabel->palette().color(QPalette::WindowText);
    fileLabelGround = fileLabel->palette().color(QPalette::Window);
    for (int id : {IDC_FILELIST, IDC_FORMAT, IDC_WAVQUALITY, IDC_MP3QUALITY, IDC_DEVICE, IDC_TEMPO, IDC_CHANGEWAVPATH,
                   IDC_OUTPUTDIR, IDC_PROGRESS})
      names[id] = Control<QWidget>(hDlg, id)->accessibleName();
    const std::string longPath = "/a/folder/" + std::string(300, 'x');
    SetDlgItemTextA(hDlg, IDC_OUTPUTDIR, longPath.c_str());
    auto* field = Control<QLineEdit>(hDlg, IDC_OUTPUTDIR);
    tooltip = field->toolTip();
    readOnly = field->isReadOnly();
    fieldGround = field->palette().color(QPalette::Base);
    fieldWindow = field->palette().color(QPalette::Window);
    Key(Control<QTreeWidget>(hDlg, kList), Qt::Key_Delete);
    EndDialog(hDlg, 0);
  };
  Run();
  QApplication::setPalette(desktop);

  const auto pattern = ui::BitmapFromHandle(g_hBackgroundBitmap);
  ASSERT_NE(pattern, nullptr);
  const QColor ground = QColor::fromRgba(pattern->pixels[0]);
  EXPECT_GE(Contrast(labelText, ground), 128) << labelText.name().toStdString();
  EXPECT_GE(Contrast(fileLabelText, fileLabelGround), 128);
  EXPECT_EQ(names, (std::map<int, QString>{{IDC_FILELIST, "MIDI Files"},
                                           {IDC_FORMAT, "Format"},
                                           {IDC_WAVQUALITY, "Quality"},
                                           {IDC_MP3QUALITY, "Quality"},
                                           {IDC_DEVICE, "Device"},
                                           {IDC_TEMPO, "Tempo"},
                                           {IDC_CHANGEWAVPATH, "Choose the output folder"},
                                           {IDC_OUTPUTDIR, "Output folder"},
                                           {IDC_PROGRESS, "Progress"}}));
  EXPECT_TRUE(readOnly);
  EXPECT_EQ(fieldGround, fieldWindow);
  EXPECT_EQ(tooltip.toStdString(), "/a/folder/" + std::string(300, 'x'));
  EXPECT_NE(std::find(probe_.notes.begin(), probe_.notes.end(), "key 46"), probe_.notes.end());
}

TEST_F(QtDialogTest, CallsFromAnotherThreadRunOnTheWindowThreadAndReturnWhenDone) {
  std::atomic<bool> done{false};
  std::string textSeen;
  int progressSeen = -1;
  std::thread worker;
  probe_.whileRunning = [&](HWND hDlg) {
    worker = std::thread([&done, &textSeen, &progressSeen, hDlg] {
      SetDlgItemTextA(hDlg, IDC_FILELABEL, "File: song.mid");
      ui::Dlg(hDlg).ProgressSetPos(IDC_PROGRESS, 250);  // clamped to the bar's range
      textSeen = ui::Dlg(hDlg).ItemText(IDC_FILELABEL);
      progressSeen = ui::Dlg(hDlg).ProgressGetPos(IDC_PROGRESS);
      SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
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
  EXPECT_EQ(Commands(), (std::vector<WPARAM>{MAKEWPARAM(IDC_CONVERT, BN_CLICKED)}));
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

// Calls step every few milliseconds on the window thread until it answers true.
void Poll(std::function<bool()> step) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
    if (!step()) return;
    timer->stop();
    timer->deleteLater();
  });
  timer->start(5);
}

// Acts once on the modal dialog of type T as soon as it is up, as its user.
template <typename T>
void WhenModal(std::function<void(T*)> act) {
  Poll([act] {
    auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return false;
    act(dialog);
    return true;
  });
}

// Lets the window thread work until done() holds, for at most five seconds.
bool WaitFor(const std::function<bool()>& done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

// One step of the list and slider table: what is done, and what the procedure hears.
struct Step {
  enum Kind { Insert, Delete, DeleteAll, Select, Click, SliderKey, SetPos, SetRange } kind;
  int arg;
  std::vector<std::string> heard;
};

// The user's part, played on either toolkit.
struct User {
  std::function<void(HWND, int row)> click;  // -1: empty space
  std::function<void(HWND)> sliderRight;     // one step to the right
};

void RunSteps(HWND hDlg, const std::vector<Step>& steps, const User& user, const char* toolkit) {
  ui::Dialog& dialog = ui::Dlg(hDlg);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    g_probe->notes.clear();
    switch (step.kind) {
      case Step::Insert:
        dialog.ListInsertItem(kList, step.arg, "file" + std::to_string(i));
        break;
      case Step::Delete:
        dialog.ListDeleteItem(kList, step.arg);
        break;
      case Step::DeleteAll:
        dialog.ListDeleteAllItems(kList);
        break;
      case Step::Select:
        dialog.ListSetSel(kList, step.arg);
        break;
      case Step::Click:
        user.click(hDlg, step.arg);
        break;
      case Step::SliderKey:
        user.sliderRight(hDlg);
        break;
      case Step::SetPos:
        dialog.SliderSetPos(kSlider, step.arg);
        break;
      case Step::SetRange:
        dialog.SliderSetRange(kSlider, 0, step.arg);
        break;
    }
    EXPECT_EQ(g_probe->notes, step.heard) << toolkit << ", step " << i;
  }
}

TEST_F(QtDialogTest, ListAndSliderNotifyAsTheFakeToolkitDoesInWindowsOrder) {
  // LVIS_SELECTED is 2.
  const std::vector<Step> steps = {
      {Step::Insert, 0, {"insert 0 (count 1, sel -1)"}},
      {Step::Insert, 1, {"insert 1 (count 2, sel -1)"}},
      {Step::Insert, 2, {"insert 2 (count 3, sel -1)"}},
      {Step::Select, 0, {"changed 0 0->2 (count 3, sel 0)"}},
      {Step::Select, 0, {}},
      {Step::Click, 2, {"changed 0 2->0 (count 3, sel -1)", "changed 2 0->2 (count 3, sel 2)", "click 2"}},
      {Step::Click, 2, {"click 2"}},
      // The selection moves with its item, unannounced.
      {Step::Insert, 0, {"insert 0 (count 4, sel 3)"}},
      {Step::Delete, 0, {"delete 0 (count 4, sel 3)"}},
      {Step::Select, 1, {"changed 2 2->0 (count 3, sel -1)", "changed 1 0->2 (count 3, sel 1)"}},
      // A selected item loses its state, then goes while it still counts.
      {Step::Delete, 1, {"changed 1 2->0 (count 3, sel -1)", "delete 1 (count 3, sel -1)"}},
      {Step::Select, 7, {}},
      {Step::Delete, 7, {}},
      {Step::Select, 1, {"changed 1 0->2 (count 2, sel 1)"}},
      {Step::Click, -1, {"changed 1 2->0 (count 2, sel -1)", "click -1"}},
      {Step::Select, 0, {"changed 0 0->2 (count 2, sel 0)"}},
      {Step::Select, -1, {"changed 0 2->0 (count 2, sel -1)"}},
      {Step::Select, 1, {"changed 1 0->2 (count 2, sel 1)"}},
      {Step::DeleteAll,
       0,
       {"delete all -1 (count 2, sel -1)", "delete 0 (count 2, sel -1)", "delete 1 (count 2, sel -1)"}},
      {Step::DeleteAll, 0, {"delete all -1 (count 0, sel -1)"}},
      // The program's own slider moves are not announced; the user's are, once each.
      {Step::SetRange, 100, {}},
      {Step::SetPos, 50, {}},
      {Step::SliderKey, 0, {"slider 51"}},
      {Step::SetPos, 100, {}},
      {Step::SliderKey, 0, {}},
      {Step::SetRange, 20, {}},
  };

  const User qtUser{[](HWND hDlg, int row) {
                      auto* list = Control<QTreeWidget>(hDlg, kList);
                      QWidget* viewport = list->viewport();
                      const QPoint point = row >= 0 ? list->visualItemRect(list->topLevelItem(row)).center()
                                                    : QPoint(viewport->width() / 2, viewport->height() - 3);
                      QMouseEvent press(QEvent::MouseButtonPress, point, viewport->mapToGlobal(point), Qt::LeftButton,
                                        Qt::LeftButton, Qt::NoModifier);
                      QApplication::sendEvent(viewport, &press);
                      QMouseEvent release(QEvent::MouseButtonRelease, point, viewport->mapToGlobal(point),
                                          Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
                      QApplication::sendEvent(viewport, &release);
                    },
                    [](HWND hDlg) { Key(Control<QSlider>(hDlg, kSlider), Qt::Key_Right); }};
  probe_.whileRunning = [&](HWND hDlg) {
    RunSteps(hDlg, steps, qtUser, "Qt");
    EndDialog(hDlg, 0);
  };
  Run();

  probe_.whileRunning = nullptr;  // the fake's script plays the user there
  ui::testing::FakeToolkit fake;
  fake.SetScript(ui::IDD_MAIN, [&](ui::testing::FakeDialog& dialog) {
    const User fakeUser{[&dialog](HWND, int row) { dialog.SelectListItem(kList, row); },
                        [&dialog](HWND) { dialog.MoveSlider(kSlider, dialog.SliderGetPos(kSlider) + 1); }};
    RunSteps(dialog.Handle(), steps, fakeUser, "fake");
  });
  ui::SetToolkit(&fake);
  Run();
}

TEST_F(QtDialogTest, SliderNotifiesOnceForEachWheelTurnAndDrag) {
  std::vector<std::string> heard;
  probe_.whileRunning = [&](HWND hDlg) {
    ui::Dlg(hDlg).SliderSetRange(kSlider, 0, 100);
    ui::Dlg(hDlg).SliderSetPos(kSlider, 50);
    QSlider* slider = Control<QSlider>(hDlg, kSlider);
    const QPointF centre = slider->rect().center();
    QWheelEvent wheel(centre, slider->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(slider, &wheel);
    probe_.notes.clear();
    slider->setSliderDown(true);  // the user drags the thumb
    slider->setSliderPosition(60);
    slider->setSliderPosition(70);
    slider->setSliderDown(false);
    heard = probe_.notes;
    EndDialog(hDlg, 0);
  };
  probe_.notes.clear();
  Run();
  EXPECT_EQ(heard, (std::vector<std::string>{"slider 60", "slider 70"}));
}

TEST_F(QtDialogTest, FileDialogShowsBothFiltersInAnyCaseAndAnswersFullPathsInOrder) {
  const std::filesystem::path folder = std::filesystem::canonical(temp_.Path()) / "midi";
  std::filesystem::create_directories(folder / "sub");
  for (const char* name : {"song.mid", "SONG.MID", "Song.Mid", "tune.MIDI", "Party.Kar", "notes.txt"}) {
    testing_support::WriteFileBytes(folder / name, "x");
  }
  const ui::OpenFileRequest request{
      {{"MIDI Files (*.MID, *.MIDI)", "*.MID;*.MIDI"}, {"Karaoke Files (*.KAR)", "*.KAR"}}, folder.string(), "", true};
  const QString root = QString::fromStdString(folder.string());

  std::vector<std::string> descriptions, midiShown, karaokeShown;
  std::string openedIn;
  std::optional<std::vector<std::string>> chosen, cancelled{std::vector<std::string>{}};
  // The files the dialog offers (enabled, not folders), sorted.
  auto shown = [root](QFileDialog* dialog) {
    auto* model = dialog->findChild<QFileSystemModel*>();
    std::vector<std::string> names;
    const QModelIndex parent = model->index(root);
    for (int row = 0; row < model->rowCount(parent); ++row) {
      const QModelIndex index = model->index(row, 0, parent);
      if (!model->isDir(index) && (model->flags(index) & Qt::ItemIsEnabled)) {
        names.push_back(model->fileName(index).toStdString());
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  probe_.whileRunning = [&](HWND hDlg) {
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
      for (int i = 0; i < types->count(); ++i) descriptions.push_back(types->itemText(i).toStdString());
      openedIn = dialog->directory().absolutePath().toStdString();
      WaitFor([&] { return shown(dialog).size() >= 4; });
      midiShown = shown(dialog);
      dialog->selectNameFilter(dialog->nameFilters().at(1));
      WaitFor([&] { return shown(dialog).size() == 1; });
      karaokeShown = shown(dialog);
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
          ->setText(QStringLiteral("\"tune.MIDI\" \"song.mid\" \"SONG.MID\""));
      static_cast<QDialog*>(dialog)->accept();  // the Open or Choose button
    });
    chosen = ui::Dlg(hDlg).OpenFiles(request);
    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    cancelled = ui::Dlg(hDlg).OpenFiles(request);
    EndDialog(hDlg, 0);
  };
  Run();

  EXPECT_EQ(descriptions, (std::vector<std::string>{"MIDI Files (*.MID, *.MIDI)", "Karaoke Files (*.KAR)"}));
  EXPECT_EQ(openedIn, folder.string());
  EXPECT_EQ(midiShown, (std::vector<std::string>{"SONG.MID", "Song.Mid", "song.mid", "tune.MIDI"}));
  EXPECT_EQ(karaokeShown, (std::vector<std::string>{"Party.Kar"}));
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, (std::vector<std::string>{(folder / "tune.MIDI").string(), (folder / "song.mid").string(),
                                               (folder / "SONG.MID").string()}));
  EXPECT_FALSE(cancelled.has_value());
}

TEST_F(QtDialogTest, FolderBrowserOpensOnTheCurrentFolderAndAnswersOnlyFolders) {
  const std::filesystem::path base = std::filesystem::canonical(temp_.Path());
  std::filesystem::create_directories(base / "wav");
  std::filesystem::create_directories(base / "other");
  testing_support::WriteFileBytes(base / "readme.txt", "x");
  std::string title, openedIn;
  std::vector<std::string> selectedAtStart;
  bool keptOpenOnAFile = false;
  std::optional<std::string> kept, other, cancelled{""};
  probe_.whileRunning = [&](HWND hDlg) {
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      title = dialog->windowTitle().toStdString();
      openedIn = dialog->directory().absolutePath().toStdString();
      for (const QString& path : dialog->selectedFiles()) selectedAtStart.push_back(path.toStdString());
      static_cast<QDialog*>(dialog)->accept();  // the Open or Choose button
    });
    kept = ui::Dlg(hDlg).BrowseForFolder("Select a folder", (base / "wav").string());
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
      dialog->selectFile(QString::fromStdString((base / "readme.txt").string()));
      static_cast<QDialog*>(dialog)->accept();  // the Open or Choose button
      keptOpenOnAFile = dialog->isVisible();
      dialog->selectFile(QString::fromStdString((base / "other").string()));
      static_cast<QDialog*>(dialog)->accept();  // the Open or Choose button
    });
    other = ui::Dlg(hDlg).BrowseForFolder("Select a folder", (base / "wav").string());
    WhenModal<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    cancelled = ui::Dlg(hDlg).BrowseForFolder("Select a folder", (base / "wav").string());
    EndDialog(hDlg, 0);
  };
  Run();

  EXPECT_EQ(title, "Select a folder");
  // Selected among its neighbours, as a folder tree shows it.
  EXPECT_EQ(openedIn, base.string());
  EXPECT_EQ(selectedAtStart, std::vector<std::string>{(base / "wav").string()});
  EXPECT_EQ(kept, (base / "wav").string());
  EXPECT_TRUE(keptOpenOnAFile);
  EXPECT_EQ(other, (base / "other").string());
  EXPECT_FALSE(cancelled.has_value());
}

TEST_F(QtDialogTest, AMessageBoxFromAnotherThreadBlocksThatThreadWhileTheWindowKeepsServing) {
  std::atomic<int> answer{0};
  std::atomic<bool> boxReturned{false}, helperDone{false};
  bool returnedWhileUp = true, modalToTheWindow = false;
  QString boxText, boxCaption;
  std::string labelSeen;
  std::thread worker, helper;
  probe_.whileRunning = [&](HWND hDlg) {
    worker = std::thread([&, hDlg] {
      answer = MessageBoxA(hDlg, "Can't load MIDI File", "Error", MB_OK | MB_ICONERROR);
      boxReturned = true;
    });
    WhenModal<QMessageBox>([&, hDlg](QMessageBox* box) {
      boxText = box->text();
      boxCaption = box->windowTitle();
      modalToTheWindow = box->windowModality() == Qt::WindowModal && box->parentWidget() == Facade(hDlg).Surface();
      // While the box is up, a third thread's call is served and the timers run.
      helper = std::thread([&, hDlg] {
        SetDlgItemTextA(hDlg, IDC_FILELABEL, "File: song.mid");
        helperDone = true;
      });
      Poll([&, box] {
        if (!helperDone) return false;
        returnedWhileUp = boxReturned;
        box->button(QMessageBox::Ok)->click();
        return true;
      });
    });
    Poll([&, hDlg] {
      if (!boxReturned) return false;
      labelSeen = ui::Dlg(hDlg).ItemText(IDC_FILELABEL);
      EndDialog(hDlg, 0);
      return true;
    });
  };
  Run();
  worker.join();
  helper.join();

  EXPECT_EQ(boxText, QStringLiteral("Can't load MIDI File"));
  EXPECT_EQ(boxCaption, QStringLiteral("Error"));
  EXPECT_TRUE(modalToTheWindow);
  EXPECT_FALSE(returnedWhileUp);
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(labelSeen, "File: song.mid");
}

}  // namespace
