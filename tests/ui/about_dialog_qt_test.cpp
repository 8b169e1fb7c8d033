// The About dialog on the offscreen Qt platform: built from its template with its text
// whole, its buttons decorated and apart, the text transparent, OK ending it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>

#include "base/shell_handles.h"
#include "platform/window/winuser.h"
#include "ui/about_dialog.h"
#include "ui/drawing_helpers.h"
#include "ui/gdi.h"
#include "ui/qt/qt_dialog.h"
#include "ui/qt/qt_toolkit.h"

namespace {

std::function<void(HWND)>* g_whileRunning = nullptr;

// AboutDlgProc, with the test's part played once the dialog runs.
INT_PTR ProbedAbout(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG && g_whileRunning != nullptr) {
    QTimer::singleShot(0, qApp, [hDlg] { (*g_whileRunning)(hDlg); });
  }
  return AboutDlgProc(hDlg, msg, wParam, lParam);
}

class AboutDialogQtTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "about_dialog_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  static void TearDownTestSuite() { app_.reset(); }

  void SetUp() override {
    const RECT rect{0, 0, 128, 128};
    CreateFillBmp(1, &rect, 30, 15, 0, 0, &g_hBackgroundBitmap, &g_hFillObject);
    ui::SetToolkit(&toolkit_);
  }
  void TearDown() override {
    ui::SetToolkit(nullptr);
    g_whileRunning = nullptr;
    DeleteObject(g_hBackgroundBitmap);
    DeleteObject(g_hFillObject);
  }

  INT_PTR Run(std::function<void(HWND)> whileRunning) {
    g_whileRunning = &whileRunning;
    const INT_PTR result = DialogBoxParamA(g_hInstance, ui::IDD_ABOUT, nullptr, ProbedAbout, 0);
    g_whileRunning = nullptr;
    return result;
  }

  static QDialog* Surface(HWND hDlg) { return static_cast<ui::qt::QtDialog&>(ui::Dlg(hDlg)).Surface(); }
  template <typename W>
  static W* Control(HWND hDlg, int id) {
    return Surface(hDlg)->findChild<W*>(QStringLiteral("item-%1").arg(id));
  }

  static std::unique_ptr<QApplication> app_;
  ui::qt::QtToolkit toolkit_;
};
std::unique_ptr<QApplication> AboutDialogQtTest::app_;

TEST_F(AboutDialogQtTest, TextFitsButtonsStandApartAndOkEndsIt) {
  QString title;
  QStringList lines;
  bool textFits = false, textFills = true, apart = false, captionsFit = false;
  QString visitTip, okTip = QStringLiteral("unset");
  bool icons = false;
  const INT_PTR result = Run([&](HWND hDlg) {
    title = Surface(hDlg)->windowTitle();
    QLabel* text = Control<QLabel>(hDlg, IDC_ABOUTTEXT);
    QPushButton* visit = Control<QPushButton>(hDlg, IDC_VISITHOMEPAGE);
    QPushButton* ok = Control<QPushButton>(hDlg, IDOK);
    if (text == nullptr || visit == nullptr || ok == nullptr) {
      EndDialog(hDlg, -2);
      return;
    }
    lines = text->text().split(QLatin1Char('\n'));
    // Every line on one line of its own, all of them within the label.
    const QFontMetrics metrics(text->font());
    int widest = 0;
    for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
    textFits = widest <= text->contentsRect().width() &&
               metrics.lineSpacing() * lines.size() <= text->contentsRect().height();
    textFills = text->autoFillBackground();
    apart = !text->geometry().intersects(visit->geometry()) && !text->geometry().intersects(ok->geometry()) &&
            !visit->geometry().intersects(ok->geometry()) && Surface(hDlg)->rect().contains(ok->geometry());
    captionsFit = visit->sizeHint().width() <= visit->width() && ok->sizeHint().width() <= ok->width();
    visitTip = visit->toolTip();
    okTip = ok->toolTip();
    icons = !visit->icon().isNull() && !ok->icon().isNull();
    ok->click();
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(title, QStringLiteral("Halvane :: About"));
  EXPECT_EQ(lines.size(), 9);
  EXPECT_TRUE(textFits);
  EXPECT_FALSE(textFills);
  EXPECT_TRUE(apart);
  EXPECT_TRUE(captionsFit);
  EXPECT_EQ(visitTip, QString::fromLatin1(kMakerSiteAddress));
  EXPECT_TRUE(okTip.isEmpty());
  EXPECT_TRUE(icons);
}

}  // namespace
