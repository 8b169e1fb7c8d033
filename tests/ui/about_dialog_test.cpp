// The About dialog's procedure driven through the fake toolkit: its text, buttons,
// tooltips, painting, and the ways it ends.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "base/shell_handles.h"
#include "output/mp3_transcoder.h"
#include "platform/dmusic/synthesizer_version.h"
#include "platform/window/winuser.h"
#include "tests/ui/fake_dialog.h"
#include "ui/about_dialog.h"
#include "ui/drawing_helpers.h"
#include "ui/gdi.h"
#include "ui/web_launcher.h"

namespace {

using ui::testing::FakeDialog;
using ui::testing::FakeToolkit;
using ui::testing::ScopedToolkit;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class RecordingContext : public ui::DeviceContext {
 public:
  void Fill(const RECT& rect, const ui::Brush& brush) override { fills.push_back({rect, brush}); }
  std::vector<std::pair<RECT, ui::Brush>> fills;
};

class AboutDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const RECT rect{0, 0, 128, 128};
    ASSERT_EQ(CreateFillBmp(1, &rect, 30, 15, 0, 0, &g_hBackgroundBitmap, &g_hFillObject), TRUE);
    ui::SetBrowserStarterForTesting([this](const std::string& program, const std::vector<std::string>& arguments) {
      started_.push_back(program);
      for (const std::string& argument : arguments) started_.push_back(argument);
    });
  }
  void TearDown() override {
    ui::SetBrowserStarterForTesting(nullptr);
    DeleteObject(g_hBackgroundBitmap);
    DeleteObject(g_hFillObject);
  }

  // Runs the About dialog with script playing the user; answers the dialog's result.
  INT_PTR Run(const FakeToolkit::Script& script) {
    FakeToolkit toolkit;
    toolkit.SetScript(ui::IDD_ABOUT, script);
    ScopedToolkit scoped(toolkit);
    const INT_PTR result = DialogBoxParamA(g_hInstance, ui::IDD_ABOUT, nullptr, AboutDlgProc, 0);
    boxes_ = toolkit.MessageBoxes().size();
    return result;
  }

  std::vector<std::string> started_;
  std::size_t boxes_ = 0;
};

TEST_F(AboutDialogTest, ShowsTheProductAndTheVersionsItRunsWithAndDecoratesBothButtons) {
  std::string title, text, visitText, okText;
  ui::ButtonDecoration visit, ok;
  Run([&](FakeDialog& dialog) {
    title = dialog.Title();
    text = dialog.ItemText(IDC_ABOUTTEXT);
    visitText = dialog.ItemText(IDC_VISITHOMEPAGE);
    okText = dialog.ItemText(IDOK);
    visit = dialog.Decoration(IDC_VISITHOMEPAGE);
    ok = dialog.Decoration(IDOK);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(title, "Halvane :: About");
  const std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 9u) << text;
  EXPECT_EQ(lines[0], "Halvane v1.9");
  EXPECT_EQ(lines[1], "by Orvande");
  EXPECT_EQ(lines[2], "");
  EXPECT_NE(lines[3].find("Orvande"), std::string::npos);
  EXPECT_EQ(lines[5], "");
  // The versions of the libraries actually linked, not numbers written down once.
  EXPECT_EQ(lines[6], std::string("MP3 Encoder: LAME v") + Mp3EncoderVersion());
  EXPECT_EQ(lines[7].rfind("https://", 0), 0u);
  EXPECT_EQ(lines[8], std::string("Synthesizer: FluidSynth v") + platform::FluidSynthVersion());
  EXPECT_EQ(visitText, "Visit Home Page...");
  EXPECT_EQ(okText, "OK");

  EXPECT_EQ(visit.iconId, 212);
  EXPECT_EQ(visit.tooltip, kMakerSiteAddress);
  EXPECT_EQ(visit.style, 0x8000006Bu);
  EXPECT_EQ(ok.iconId, 208);
  EXPECT_EQ(ok.tooltip, "");
  EXPECT_EQ(ok.style, 0x8000006Bu);
}

TEST_F(AboutDialogTest, OkEscapeEnterAndTheCloseBoxEndItWithoutOpeningAnything) {
  const struct {
    const char* name;
    std::function<void(FakeDialog&)> act;
    INT_PTR result;
  } endings[] = {
      {"OK", [](FakeDialog& d) { d.Click(IDOK); }, 1},
      {"Enter", [](FakeDialog& d) { d.PressEnter(); }, 1},
      {"Escape", [](FakeDialog& d) { d.PressEscape(); }, 0},
      {"close box", [](FakeDialog& d) { d.CloseBox(); }, 0},
  };
  for (const auto& ending : endings) {
    bool openBefore = false, ended = false;
    const INT_PTR result = Run([&](FakeDialog& dialog) {
      // A command of no control of the dialog changes nothing.
      dialog.Send(WM_COMMAND, MAKEWPARAM(2001, BN_CLICKED), 0);
      openBefore = !dialog.Ended();
      ending.act(dialog);
      ended = dialog.Ended();
    });
    EXPECT_TRUE(openBefore) << ending.name;
    EXPECT_TRUE(ended) << ending.name;
    EXPECT_EQ(result, ending.result) << ending.name;
  }
  EXPECT_TRUE(started_.empty());
}

TEST_F(AboutDialogTest, VisitHomePageOpensTheHomePageAndEndsTheDialogSilently) {
  bool ended = false;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_VISITHOMEPAGE);
    ended = dialog.Ended();
  });
  EXPECT_TRUE(ended);
  // No browser registered: the desktop's opener gets the home page.
  EXPECT_EQ(started_, (std::vector<std::string>{"xdg-open", kHomePageAddress}));
  EXPECT_EQ(boxes_, 0u);
}

TEST_F(AboutDialogTest, BackgroundIsThePatternAndTheTextLiesOnIt) {
  RecordingContext erase, colour;
  RECT client{};
  INT_PTR erased = FALSE, brush = FALSE;
  Run([&](FakeDialog& dialog) {
    client = dialog.ClientRect();
    erased = dialog.Send(WM_ERASEBKGND, reinterpret_cast<WPARAM>(static_cast<ui::DeviceContext*>(&erase)), 0);
    brush = dialog.Send(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(static_cast<ui::DeviceContext*>(&colour)),
                        reinterpret_cast<LPARAM>(GetDlgItem(dialog.Handle(), IDC_ABOUTTEXT)));
    dialog.Click(IDOK);
  });
  EXPECT_EQ(erased, TRUE);
  ASSERT_EQ(erase.fills.size(), 1u);
  EXPECT_EQ(erase.fills[0].first.right, client.right);
  EXPECT_EQ(erase.fills[0].first.bottom, client.bottom);
  EXPECT_EQ(erase.fills[0].second.kind, ui::Brush::Kind::Pattern);
  EXPECT_EQ(erase.selectedBrush, nullptr);
  EXPECT_EQ(brush, reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH)));
  EXPECT_EQ(colour.backgroundMode, TRANSPARENT);
}

}  // namespace
