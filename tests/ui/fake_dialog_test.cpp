// The fake toolkit's threads: another thread's calls wait for the dialog's thread,
// as SendMessage does, and its boxes answer from the script.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "convert/main_window_ids.h"
#include "platform/window/winuser.h"
#include "tests/ui/fake_dialog.h"
#include "ui/dialog_template.h"

namespace {

using ui::testing::FakeDialog;
using ui::testing::FakeToolkit;
using ui::testing::ScopedToolkit;

std::atomic<int> g_commands{0};
std::thread::id g_commandThread;

INT_PTR CountingProc(HWND, UINT msg, WPARAM, LPARAM) {
  if (msg == WM_COMMAND) {
    g_commandThread = std::this_thread::get_id();
    ++g_commands;
  }
  return msg == WM_INITDIALOG ? TRUE : FALSE;
}

TEST(FakeToolkitThreads, AnotherThreadsCallsWaitUntilTheDialogThreadServesThem) {
  FakeToolkit toolkit;
  toolkit.QueueMessageBoxAnswer(IDCANCEL);
  std::atomic<bool> done{false};
  int answer = 0, commandsBeforeServing = -1;
  std::string label;
  std::thread worker;
  toolkit.SetScript(ui::IDD_MAIN, [&](FakeDialog& dialog) {
    HWND hDlg = dialog.Handle();
    worker = std::thread([&, hDlg] {
      SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
      SetDlgItemTextA(hDlg, IDC_FILELABEL, "File: song.mid");
      answer = MessageBoxA(hDlg, "Can't load MIDI File", "Error", MB_OK | MB_ICONERROR);
      done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    commandsBeforeServing = g_commands;
    EXPECT_TRUE(dialog.ServeUntil([&] { return done.load(); }));
    label = dialog.ItemText(IDC_FILELABEL);
  });
  g_commands = 0;
  ScopedToolkit scoped(toolkit);
  DialogBoxParamA(nullptr, ui::IDD_MAIN, nullptr, CountingProc, 0);
  worker.join();

  EXPECT_EQ(commandsBeforeServing, 0);
  EXPECT_EQ(g_commands, 1);
  EXPECT_EQ(g_commandThread, std::this_thread::get_id());
  EXPECT_EQ(label, "File: song.mid");
  EXPECT_EQ(answer, IDCANCEL);
  const auto boxes = toolkit.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(boxes[0].owned);
  EXPECT_EQ(boxes[0].text, "Can't load MIDI File");
  EXPECT_EQ(boxes[0].answer, IDCANCEL);
}

}  // namespace
