// The background pattern, the painting objects behind their handles, button
// decoration and the Windows-named control functions over the facade.
#include <gtest/gtest.h>

#include <cstring>

#include "convert/main_window_ids.h"
#include "tests/ui/fake_dialog.h"
#include "ui/dialog_template.h"
#include "ui/drawing_helpers.h"
#include "ui/gdi.h"
#include "platform/window/winuser.h"

namespace {

using ui::testing::FakeDialog;
using ui::testing::FakeToolkit;
using ui::testing::ScopedToolkit;

TEST(CreateFillBmp, MakesA128SquarePatternThatTilesAndADeletableSecondObject) {
  const RECT rect{0, 0, 128, 128};
  HBITMAP bitmap = nullptr;
  HGDIOBJ fill = nullptr;
  ASSERT_EQ(CreateFillBmp(1, &rect, 30, 15, 0, 0, &bitmap, &fill), TRUE);
  const auto image = ui::BitmapFromHandle(bitmap);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->width, 128);
  EXPECT_EQ(image->height, 128);
  ASSERT_EQ(image->pixels.size(), 128u * 128u);
  // Opaque, not flat, and light enough for black text.
  bool varies = false;
  for (std::uint32_t pixel : image->pixels) {
    EXPECT_EQ(pixel >> 24, 0xFFu);
    EXPECT_GT((pixel >> 8) & 0xFF, 0x80u);
    varies = varies || pixel != image->pixels[0];
  }
  EXPECT_TRUE(varies);
  // Tiled copies meet without a seam: the step across the tile's edge is no larger
  // than the steps inside it.
  auto level = [&](int x, int y) {
    return static_cast<int>(image->pixels[static_cast<std::size_t>(y) * 128 + x] & 0xFF);
  };
  int inner = 0, edge = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x + 1 < 128; ++x) inner = std::max(inner, std::abs(level(x, y) - level(x + 1, y)));
    edge = std::max(edge, std::abs(level(127, y) - level(0, y)));
  }
  EXPECT_LE(edge, inner + 1);

  EXPECT_EQ(DeleteObject(fill), TRUE);
  EXPECT_EQ(DeleteObject(fill), FALSE);
  EXPECT_EQ(DeleteObject(bitmap), TRUE);
  EXPECT_EQ(ui::BitmapFromHandle(bitmap), nullptr);
}

TEST(CreateFillBmp, RefusesMissingArgumentsAndClearsTheOutputs) {
  const RECT rect{0, 0, 128, 128};
  HBITMAP bitmap = reinterpret_cast<HBITMAP>(0x1);
  HGDIOBJ fill = reinterpret_cast<HGDIOBJ>(0x1);
  EXPECT_EQ(CreateFillBmp(1, nullptr, 30, 15, 0, 0, &bitmap, &fill), FALSE);
  EXPECT_EQ(bitmap, nullptr);
  EXPECT_EQ(fill, nullptr);
  EXPECT_EQ(CreateFillBmp(1, &rect, 30, 15, 0, 0, &bitmap, nullptr), FALSE);
}

TEST(Gdi, PatternBrushOutlivesItsBitmapAndDeletedHandlesPaintNothing) {
  const RECT rect{0, 0, 128, 128};
  HBITMAP bitmap = nullptr;
  HGDIOBJ fill = nullptr;
  ASSERT_EQ(CreateFillBmp(1, &rect, 30, 15, 0, 0, &bitmap, &fill), TRUE);
  HBRUSH brush = CreatePatternBrush(bitmap);
  ASSERT_NE(brush, nullptr);
  DeleteObject(bitmap);
  DeleteObject(fill);
  ASSERT_NE(ui::BrushFromHandle(brush), nullptr);
  EXPECT_EQ(ui::BrushFromHandle(brush)->pattern.width, 128);
  // A brush made from a deleted bitmap is no brush at all.
  EXPECT_EQ(CreatePatternBrush(bitmap), nullptr);

  struct Counting : ui::DeviceContext {
    void Fill(const RECT&, const ui::Brush&) override { ++fills; }
    int fills = 0;
  } dc;
  HDC hdc = static_cast<ui::DeviceContext*>(&dc);
  SelectObject(hdc, brush);
  EXPECT_EQ(PatBlt(hdc, 0, 0, 10, 10, PATCOPY), TRUE);
  DeleteObject(brush);
  EXPECT_EQ(PatBlt(hdc, 0, 0, 10, 10, PATCOPY), FALSE);
  EXPECT_EQ(dc.fills, 1);
  // The stock hollow brush is never deleted.
  EXPECT_EQ(DeleteObject(GetStockObject(NULL_BRUSH)), FALSE);
  EXPECT_NE(ui::BrushFromHandle(GetStockObject(NULL_BRUSH)), nullptr);
}

INT_PTR QuietProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST(RedrawButton, PassesIconTooltipAndStyleAndAllowsNoTooltip) {
  FakeToolkit toolkit;
  ui::ButtonDecoration exitButton, about;
  bool refusedDialogHandle = false;
  toolkit.SetScript(ui::IDD_MAIN, [&](FakeDialog& dialog) {
    BUTTON_DECORATION record;
    std::memset(&record, 0, sizeof record);
    record.words[kDecorationIcon] = 203;
    record.words[kDecorationTooltip] = reinterpret_cast<ULONG_PTR>("Exit");
    record.words[kDecorationStyle] = 0x800000AD;
    RedrawButton(GetDlgItem(dialog.Handle(), IDOK), &record);
    record.words[kDecorationIcon] = 201;
    record.words[kDecorationTooltip] = 0;
    RedrawButton(GetDlgItem(dialog.Handle(), IDC_ABOUT), &record);
    refusedDialogHandle = RedrawButton(dialog.Handle(), &record) == FALSE;
    exitButton = dialog.Decoration(IDOK);
    about = dialog.Decoration(IDC_ABOUT);
    EndDialog(dialog.Handle(), 0);
  });
  ScopedToolkit scoped(toolkit);
  DialogBoxParamA(nullptr, ui::IDD_MAIN, nullptr, QuietProc, 0);
  EXPECT_EQ(exitButton.iconId, 203);
  EXPECT_EQ(exitButton.tooltip, "Exit");
  EXPECT_EQ(exitButton.style, 0x800000ADu);
  EXPECT_EQ(about.iconId, 201);
  EXPECT_EQ(about.tooltip, "");
  EXPECT_TRUE(refusedDialogHandle);
}

TEST(WindowFunctions, TextIsCutToTheBufferAndStatesAnswerLikeWindows) {
  FakeToolkit toolkit;
  std::string cut;
  UINT copied = 0;
  BOOL wasDisabled = TRUE, wasDisabledAfter = FALSE, missing = TRUE;
  HWND control = nullptr;
  toolkit.SetScript(ui::IDD_MAIN, [&](FakeDialog& dialog) {
    HWND hDlg = dialog.Handle();
    SetDlgItemTextA(hDlg, IDC_OUTPUTDIR, "/home/user/music");
    char buffer[6];
    copied = GetDlgItemTextA(hDlg, IDC_OUTPUTDIR, buffer, sizeof buffer);
    cut = buffer;
    wasDisabled = EnableWindow(GetDlgItem(hDlg, IDC_REMOVEFILE), FALSE);
    wasDisabledAfter = EnableWindow(GetDlgItem(hDlg, IDC_REMOVEFILE), TRUE);
    missing = SetDlgItemTextA(hDlg, 4242, "x");
    control = GetDlgItem(hDlg, IDC_OUTPUTDIR);
    EXPECT_EQ(GetDlgItem(hDlg, IDC_OUTPUTDIR), control);  // the same handle every time
    EXPECT_EQ(GetDlgCtrlID(control), IDC_OUTPUTDIR);
    EXPECT_EQ(GetDlgItem(hDlg, 4242), nullptr);
    EndDialog(hDlg, 7);
  });
  ScopedToolkit scoped(toolkit);
  EXPECT_EQ(DialogBoxParamA(nullptr, ui::IDD_MAIN, nullptr, QuietProc, 0), 7);
  EXPECT_EQ(cut, "/home");
  EXPECT_EQ(copied, 5u);
  EXPECT_EQ(wasDisabled, FALSE);
  EXPECT_EQ(wasDisabledAfter, TRUE);
  EXPECT_EQ(missing, FALSE);
  EXPECT_EQ(DialogBoxParamA(nullptr, 4242, nullptr, QuietProc, 0), -1);
}

}  // namespace
