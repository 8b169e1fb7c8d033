// The main window's procedure driven through the fake toolkit: creation, painting,
// bring-to-front, and leaving by Exit, Enter, Escape and the close box.
#include <gtest/gtest.h>

#include <string>

#include "base/debug_log.h"
#include "base/shell_handles.h"
#include "platform/instance/single_instance.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/fake_dialog.h"
#include "ui/dialog_template.h"
#include "ui/drawing_helpers.h"
#include "ui/gdi.h"
#include "ui/main_window.h"
#include "platform/window/winuser.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using ui::testing::FakeDialog;
using ui::testing::FakeToolkit;
using ui::testing::ScopedToolkit;

// A fresh log, background pattern and owned mutex for each test, as start-up makes them.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_DebugLog.CreateLogFile(temp_.File("log.txt").c_str());
    const RECT rect{0, 0, 128, 128};
    ASSERT_EQ(CreateFillBmp(1, &rect, 30, 15, 0, 0, &g_hBackgroundBitmap, &g_hFillObject), TRUE);
    msgMutex = RegisterWindowMessageA("open halvane");
    const std::string name = "halvane test mutex " + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    hMutex = CreateMutexA(nullptr, TRUE, name.c_str());
    ASSERT_NE(hMutex, nullptr);
  }
  void TearDown() override {
    DeleteObject(g_hBackgroundBitmap);
    DeleteObject(g_hFillObject);
  }

  // Runs the main window with script playing the user.
  INT_PTR Run(FakeToolkit::Script script) {
    toolkit_.SetScript(ui::IDD_MAIN, [this, script](FakeDialog& dialog) {
      dialog_ = &dialog;
      script(dialog);
    });
    ScopedToolkit scoped(toolkit_);
    const INT_PTR result = DialogBoxParamA(g_hInstance, ui::IDD_MAIN, nullptr, MainDlgProc, 0);
    dialog_ = nullptr;
    return result;
  }

  std::string Log() const { return ReadFileBytes(temp_.Path() / "log.txt"); }

  TempDir temp_;
  FakeToolkit toolkit_;
  FakeDialog* dialog_ = nullptr;
};

TEST_F(MainWindowTest, CreationDecoratesEveryButtonInOrderWithIconTooltipAndStyle) {
  std::vector<std::string> decorations;
  ui::ButtonDecoration exitButton, about, removeAll, removeFile;
  Run([&](FakeDialog& dialog) {
    for (const std::string& call : dialog.Calls()) {
      if (call.rfind("DecorateButton", 0) == 0) decorations.push_back(call);
    }
    exitButton = dialog.Decoration(IDOK);
    about = dialog.Decoration(2001);
    removeAll = dialog.Decoration(2006);
    removeFile = dialog.Decoration(2005);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(decorations, (std::vector<std::string>{
                             "DecorateButton 2001 201", "DecorateButton 1 203", "DecorateButton 2004 204",
                             "DecorateButton 2006 205", "DecorateButton 2005 205", "DecorateButton 2007 206",
                             "DecorateButton 2017 207", "DecorateButton 2008 208", "DecorateButton 2018 209"}));
  EXPECT_EQ(exitButton.iconId, 203);
  EXPECT_EQ(exitButton.tooltip, "Exit");
  EXPECT_EQ(exitButton.style, 0x800000ADu);
  EXPECT_EQ(about.tooltip, "About Halvane");
  EXPECT_EQ(about.style, 0x8000006Du);
  // The one record is reused: each button keeps its own tooltip, not the last one.
  EXPECT_EQ(removeAll.tooltip, "Remove all files from list");
  EXPECT_EQ(removeFile.tooltip, "Remove selected file from list");
}

TEST_F(MainWindowTest, ExitPostsQuitAndSkipsTheCloseSteps) {
  const HBITMAP background = g_hBackgroundBitmap;
  Run([](FakeDialog& dialog) { dialog.Click(IDOK); });

  EXPECT_EQ(toolkit_.QuitRequests(), 1);
  EXPECT_EQ(Log(), "Message: OK\r\nMessage: DESTROY");
  // The close steps did not run: the background objects still exist.
  EXPECT_NE(ui::BitmapFromHandle(background), nullptr);
  EXPECT_NE(ui::BrushFromHandle(g_hFillObject), nullptr);
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(MainWindowTest, EnterWithoutAFocusedPushButtonExitsAndEscapeDoesNothing) {
  bool endedByEscape = true;
  Run([&](FakeDialog& dialog) {
    dialog.PressEscape();
    endedByEscape = dialog.Ended();
    dialog.FocusItem(2012);  // the edit box, not a push button
    dialog.PressEnter();
  });
  EXPECT_FALSE(endedByEscape);
  EXPECT_EQ(toolkit_.QuitRequests(), 1);
  EXPECT_EQ(Log(), "Message: OK\r\nMessage: DESTROY");
}

TEST_F(MainWindowTest, CloseBoxRunsTheCloseStepsThenTheDestroySteps) {
  const HBITMAP background = g_hBackgroundBitmap;
  const HGDIOBJ fill = g_hFillObject;
  INT_PTR result = -1;
  bool ended = false;
  result = Run([&](FakeDialog& dialog) {
    dialog.CloseBox();
    ended = dialog.Ended();
  });
  EXPECT_TRUE(ended);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(toolkit_.QuitRequests(), 0);
  EXPECT_EQ(Log(), "Message: CLOSE\r\nMessage: DESTROY");
  EXPECT_EQ(ui::BitmapFromHandle(background), nullptr);
  EXPECT_EQ(ui::BrushFromHandle(fill), nullptr);
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(MainWindowTest, DestroyReleasesTheSingleInstanceMutex) {
  Run([](FakeDialog& dialog) { dialog.Click(IDOK); });
  // Released once by the window: a second release finds it no longer owned.
  EXPECT_EQ(ReleaseMutex(hMutex), FALSE);
}

TEST_F(MainWindowTest, OnlyTheOpenHalvaneMessageBringsTheWindowToTheFront) {
  bool frontAfterOther = true, frontAfterOurs = false;
  LRESULT answer = 0;
  Run([&](FakeDialog& dialog) {
    toolkit_.Broadcast(RegisterWindowMessageA("some other program"), 0, 0);
    frontAfterOther = dialog.BroughtToFront();
    answer = SendMessageA(dialog.Handle(), msgMutex, 0, 0);
    frontAfterOurs = dialog.BroughtToFront();
    dialog.Click(IDOK);
  });
  EXPECT_FALSE(frontAfterOther);
  EXPECT_TRUE(frontAfterOurs);
  EXPECT_EQ(answer, TRUE);
}

// Records what the procedure paints.
class RecordingContext : public ui::DeviceContext {
 public:
  void Fill(const RECT& rect, const ui::Brush& brush) override { fills.push_back({rect, brush}); }
  std::vector<std::pair<RECT, ui::Brush>> fills;
};

TEST_F(MainWindowTest, BackgroundIsTiledWithThePatternOverTheWholeClientArea) {
  RecordingContext dc;
  RECT client{};
  INT_PTR handled = FALSE;
  Run([&](FakeDialog& dialog) {
    client = dialog.ClientRect();
    handled = dialog.Send(WM_ERASEBKGND, reinterpret_cast<WPARAM>(static_cast<ui::DeviceContext*>(&dc)), 0);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(handled, TRUE);
  ASSERT_EQ(dc.fills.size(), 1u);
  EXPECT_EQ(dc.fills[0].first.left, 0);
  EXPECT_EQ(dc.fills[0].first.top, 0);
  EXPECT_EQ(dc.fills[0].first.right, client.right);
  EXPECT_EQ(dc.fills[0].first.bottom, client.bottom);
  EXPECT_EQ(dc.fills[0].second.kind, ui::Brush::Kind::Pattern);
  EXPECT_EQ(dc.fills[0].second.pattern.width, 128);
  // The brush is selected out again afterwards.
  EXPECT_EQ(dc.selectedBrush, nullptr);
}

TEST_F(MainWindowTest, LabelsAreTransparentAndTheListedControlsKeepSystemColours) {
  std::map<int, INT_PTR> answers;
  std::map<int, int> modes;
  Run([&](FakeDialog& dialog) {
    for (int id : {ui::kNoId, 2012, 1999, 1998, 1997, 2025, 2026, 2014, 2016, 2015}) {
      RecordingContext dc;
      answers[id] = dialog.Send(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(static_cast<ui::DeviceContext*>(&dc)),
                                reinterpret_cast<LPARAM>(GetDlgItem(dialog.Handle(), id)));
      modes[id] = dc.backgroundMode;
    }
    dialog.Click(IDOK);
  });
  EXPECT_EQ(answers[ui::kNoId], reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH)));
  EXPECT_EQ(modes[ui::kNoId], TRANSPARENT);
  for (int id : {2012, 1999, 1998, 1997, 2025, 2026, 2014, 2016, 2015}) {
    EXPECT_EQ(answers[id], FALSE) << id;
    EXPECT_EQ(modes[id], OPAQUE) << id;
  }
}

}  // namespace
