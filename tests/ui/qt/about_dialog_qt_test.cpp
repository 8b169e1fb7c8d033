// The About dialog on the offscreen Qt platform: the pattern behind its text, the text
// whole within the label and transparent, its buttons decorated and apart, OK ending it.
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

std::function<void(HWND)> g_whileRunning;

// AboutDlgProc, with the test's part played once the dialog runs.
INT_PTR ProbedAbout(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_INITDIALOG) QTimer::singleShot(0, qApp, [hDlg] { g_whileRunning(hDlg); });
  return AboutDlgProc(hDlg, msg, wParam, lParam);
}

TEST(AboutDialogQtTest, TextFitsButtonsStandApartAndOkEndsIt) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "about_dialog_qt_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  ui::qt::QtToolkit toolkit;
  ui::SetToolkit(&toolkit);
  const RECT tile{0, 0, 128, 128};
  CreateFillBmp(1, &tile, 30, 15, 0, 0, &g_hBackgroundBitmap, &g_hFillObject);

  QString title, visitTip, okTip = QStringLiteral("unset");
  QRgb corner = 0;
  qsizetype lines = 0;
  bool textFits = false, textFills = true, apart = false, captionsFit = false, icons = false;
  g_whileRunning = [&](HWND hDlg) {
    QDialog* surface = static_cast<ui::qt::QtDialog&>(ui::Dlg(hDlg)).Surface();
    auto* text = surface->findChild<QLabel*>(QStringLiteral("item-%1").arg(IDC_ABOUTTEXT));
    auto* visit = surface->findChild<QPushButton*>(QStringLiteral("item-%1").arg(IDC_VISITHOMEPAGE));
    auto* ok = surface->findChild<QPushButton*>(QStringLiteral("item-%1").arg(IDOK));
    if (text == nullptr || visit == nullptr || ok == nullptr) {
      EndDialog(hDlg, -2);
      return;
    }
    title = surface->windowTitle();
    corner = surface->grab().toImage().pixel(1, 1);
    // Every line on a line of its own, all of them within the label.
    const QStringList all = text->text().split(QLatin1Char('\n'));
    const QFontMetrics metrics(text->font());
    int widest = 0;
    for (const QString& line : all) widest = std::max(widest, metrics.horizontalAdvance(line));
    lines = all.size();
    textFits = widest <= text->contentsRect().width() && metrics.lineSpacing() * lines <= text->contentsRect().height();
    textFills = text->autoFillBackground();
    apart = !text->geometry().intersects(visit->geometry()) && !text->geometry().intersects(ok->geometry()) &&
            !visit->geometry().intersects(ok->geometry()) && surface->rect().contains(ok->geometry());
    captionsFit = visit->sizeHint().width() <= visit->width() && ok->sizeHint().width() <= ok->width();
    visitTip = visit->toolTip();
    okTip = ok->toolTip();
    icons = !visit->icon().isNull() && !ok->icon().isNull();
    ok->click();
  };
  EXPECT_EQ(DialogBoxParamA(g_hInstance, ui::IDD_ABOUT, nullptr, ProbedAbout, 0), 1);
  ui::SetToolkit(nullptr);

  EXPECT_EQ(title, QStringLiteral("Halvane :: About"));
  // The background is the pattern, tiled from the window's corner.
  EXPECT_EQ(corner | 0xFF000000u, ui::BitmapFromHandle(g_hBackgroundBitmap)->pixels[128 + 1]);
  EXPECT_EQ(lines, 9);
  EXPECT_TRUE(textFits);
  EXPECT_FALSE(textFills);
  EXPECT_TRUE(apart);
  EXPECT_TRUE(captionsFit);
  EXPECT_EQ(visitTip, QString::fromLatin1(kMakerSiteAddress));
  EXPECT_TRUE(okTip.isEmpty());
  EXPECT_TRUE(icons);
  DeleteObject(g_hBackgroundBitmap);
  DeleteObject(g_hFillObject);
}

}  // namespace
