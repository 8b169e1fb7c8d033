// The About dialog's procedure through the fake toolkit: its text, buttons and
// tooltips, and the ways it ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/shell_handles.h"
#include "convert/main_window_ids.h"
#include "output/mp3_transcoder.h"
#include "platform/synth/synthesizer_version.h"
#include "platform/window/winuser.h"
#include "tests/ui/fake_dialog.h"
#include "ui/about_dialog.h"
#include "ui/web_launcher.h"

namespace {

using ui::testing::FakeDialog;
using ui::testing::FakeToolkit;

class AboutDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::SetBrowserStarterForTesting([this](const std::string& program, const std::vector<std::string>& arguments) {
      started_.push_back(program);
      started_.insert(started_.end(), arguments.begin(), arguments.end());
    });
  }
  void TearDown() override { ui::SetBrowserStarterForTesting(nullptr); }

  // Runs the About dialog with script playing the user; answers the dialog's result.
  INT_PTR Run(const FakeToolkit::Script& script) {
    FakeToolkit toolkit;
    toolkit.SetScript(ui::IDD_ABOUT, script);
    ui::testing::ScopedToolkit scoped(toolkit);
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
  // The versions of the libraries actually linked, not numbers written down once.
  const std::string versions = std::string("MP3 Encoder: LAME v") + Mp3EncoderVersion() +
                               "\nhttps://lame.sourceforge.io\nSynthesizer: FluidSynth v" +
                               platform::FluidSynthVersion();
  EXPECT_EQ(text.rfind("Halvane v1.9\nby Orvande\n\n", 0), 0u) << text;
  EXPECT_EQ(text.substr(text.size() - std::min(text.size(), versions.size() + 2)), "\n\n" + versions) << text;
  EXPECT_EQ(visitText, "Visit Home Page...");
  EXPECT_EQ(okText, "OK");
  EXPECT_EQ(visit.iconId, 212);
  EXPECT_EQ(visit.tooltip, kMakerSiteAddress);
  EXPECT_EQ(visit.style, 0x8000006Bu);
  EXPECT_EQ(ok.iconId, 208);
  EXPECT_EQ(ok.tooltip, "");
  EXPECT_EQ(ok.style, 0x8000006Bu);
}

TEST_F(AboutDialogTest, OkEnterEscapeAndTheCloseBoxEndItWithoutOpeningAnything) {
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
      dialog.Send(WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED), 0);  // no control of this dialog
      openBefore = !dialog.Ended();
      ending.act(dialog);
      ended = dialog.Ended();
    });
    EXPECT_TRUE(openBefore && ended) << ending.name;
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

}  // namespace
