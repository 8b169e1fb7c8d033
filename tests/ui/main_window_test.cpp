// The main window's procedure driven through the fake toolkit over the real engine:
// creation, commands, the file list, auditions, painting and leaving.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include <filesystem>

#include "base/files_to_add.h"
#include "convert/main_window_ids.h"
#include "engine/segment_playback.h"
#include "platform/synth/synthesizer.h"
#include "platform/registry/registry.h"
#include "tests/platform/dmusic/test_media.h"
#include "tests/ui/main_window_fixture.h"

namespace {

using ui::testing::FakeDialog;

constexpr int kList = IDC_FILELIST;

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

class MainWindowTest : public MainWindowFixture {};

TEST_F(MainWindowTest, CreationDecoratesEveryButtonInOrderWithIconTooltipAndStyle) {
  std::vector<std::string> decorations;
  ui::ButtonDecoration exitButton, about, removeAll, removeFile;
  Run([&](FakeDialog& dialog) {
    for (const std::string& call : dialog.Calls()) {
      if (call.rfind("DecorateButton", 0) == 0) decorations.push_back(call);
    }
    exitButton = dialog.Decoration(IDOK);
    about = dialog.Decoration(IDC_ABOUT);
    removeAll = dialog.Decoration(IDC_REMOVEALL);
    removeFile = dialog.Decoration(IDC_REMOVEFILE);
    dialog.Click(IDC_ABOUT);
    dialog.Click(IDOK);
  });
  // About runs its own dialog, owned by the window.
  EXPECT_EQ(toolkit_.Runs(), (std::vector<int>{ui::IDD_MAIN, ui::IDD_ABOUT}));
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

TEST_F(MainWindowTest, CreationWithTheSameDirectorySetRunsItsCommandAndSetsEveryControl) {
  g_bSameDirectory.store(1);
  const std::string output = temp_.Path().string() + "/wav";
  std::map<int, bool> enabled, visible;
  std::vector<int> ticks;
  int tempo = -1, mp3 = -1;
  std::string edit;
  Run([&](FakeDialog& dialog) {
    for (int id : {IDC_REMOVEFILE, IDC_PLAYFILE, IDC_CONVERT, IDC_ABORT, IDC_CHANGEWAVPATH, IDC_OUTPUTDIR, IDC_ADDFILE})
      enabled[id] = dialog.IsItemEnabled(id);
    for (int id : {IDC_PLAYFILE, IDC_STOPPLAYING, IDC_WAVQUALITY, IDC_MP3QUALITY})
      visible[id] = dialog.IsItemVisible(id);
    ticks = dialog.SliderTicks(IDC_TEMPO);
    tempo = dialog.SliderGetPos(IDC_TEMPO);
    mp3 = dialog.ComboGetSel(IDC_MP3QUALITY);
    edit = dialog.ItemText(IDC_OUTPUTDIR);
    dialog.CloseBox();
  });
  EXPECT_TRUE(LogHas({"Message: SAMEDIRECTORY", "WAV path: " + output, "InitDirectMusic"}));
  EXPECT_TRUE(LogHas({"Enumarate Ports:", "    EnumerateAllPorts", "    Port: Sine"}));
  EXPECT_EQ(Count(LogLines(), "DMO filter not installed"), 0);
  for (int id : {IDC_REMOVEFILE, IDC_PLAYFILE, IDC_CONVERT, IDC_ABORT, IDC_CHANGEWAVPATH, IDC_OUTPUTDIR})
    EXPECT_FALSE(enabled[id]) << id;
  EXPECT_TRUE(enabled[IDC_ADDFILE]);
  EXPECT_TRUE(visible[IDC_PLAYFILE]);
  EXPECT_FALSE(visible[IDC_STOPPLAYING]);
  EXPECT_TRUE(visible[IDC_WAVQUALITY]);
  EXPECT_FALSE(visible[IDC_MP3QUALITY]);
  EXPECT_EQ(ticks, (std::vector<int>{10, 20, 30, 40, 50, 60, 70, 80, 90}));
  EXPECT_EQ(tempo, 50);
  EXPECT_EQ(mp3, 2);
  EXPECT_EQ(edit, output);
  // Read back from the edit box at close: the folder the settings then save.
  EXPECT_EQ(std::string(g_szOutputDir), output);
  EXPECT_TRUE(exits_.empty());
}

TEST_F(MainWindowTest, FormatSwitchesTheQualityListsAndTheTempoCaptionFollowsTheSliderOnlyOnceMoved) {
  std::string before, after;
  bool mp3Shown = false, wavHidden = false, wavBack = false;
  int mp3Choice = -1;
  Run([&](FakeDialog& dialog) {
    before = dialog.ItemText(IDC_TEMPOGROUP);
    dialog.Choose(IDC_FORMAT, 1);
    mp3Shown = dialog.IsItemVisible(IDC_MP3QUALITY);
    wavHidden = !dialog.IsItemVisible(IDC_WAVQUALITY);
    mp3Choice = dialog.ComboGetSel(IDC_MP3QUALITY);
    dialog.Choose(IDC_FORMAT, 0);
    wavBack = dialog.IsItemVisible(IDC_WAVQUALITY) && !dialog.IsItemVisible(IDC_MP3QUALITY);
    dialog.MoveSlider(IDC_TEMPO, 0);
    after = dialog.ItemText(IDC_TEMPOGROUP);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(before, "Tempo");
  EXPECT_TRUE(mp3Shown);
  EXPECT_TRUE(wavHidden);
  EXPECT_EQ(mp3Choice, 2);
  EXPECT_TRUE(wavBack);
  EXPECT_EQ(after, "Tempo (50%)");
}

TEST_F(MainWindowTest, PortsWithoutANameAreSkippedAndTheOthersKeepTheirIndex) {
  platform::SetPortTableForTesting(
      std::vector<platform::PortInfo>{Port(u"First"), Port(u"Hidden", false), Port(u"Third")});
  const std::string song = MidiFile("song.mid");
  toolkit_.QueueOpenFiles(std::vector<std::string>{song});
  int entries = 0;
  Run([&](FakeDialog& dialog) {
    entries = dialog.ComboCount(IDC_DEVICE);
    dialog.Click(IDC_ADDFILE);
    dialog.SelectListItem(kList, 0);
    dialog.Choose(IDC_DEVICE, 1);
    dialog.Click(IDC_PLAYFILE);
    dialog.Click(IDC_STOPPLAYING);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(entries, 2);
  EXPECT_EQ(g_nPortCount.load(), 2);
  EXPECT_EQ(g_nPortIndex[1].load(), 2u);
  EXPECT_TRUE(LogHas({"Play file", "    StopMIDI", "    Port: 1", "    mPort: 2", "    Tempo: 50"}));
}

TEST_F(MainWindowTest, AMissingCaptureEffectIsRegisteredOnceAndTheWindowOpens) {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID");
  RegDeleteTreeA(HKEY_CLASSES_ROOT, "DirectShow");
  bool ran = false;
  Run([&](FakeDialog& dialog) {
    ran = true;
    dialog.Click(IDOK);
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(Count(LogLines(), "DMO filter not installed"), 1);
  EXPECT_EQ(Count(LogLines(), "DMO filter hasn't been installed"), 0);
  EXPECT_TRUE(exits_.empty());
}

TEST_F(MainWindowTest, WithoutAnySoundFontTheWindowOpensSaysHowToGetOneAndPlayingFailsClearly) {
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{});
  const std::string song = MidiFile("song.mid");
  toolkit_.QueueOpenFiles(std::vector<std::string>{song});
  bool playEnabled = true, convertEnabled = true, removeEnabled = false;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.SelectListItem(kList, 0);
    // Nothing to play or convert through: both stay off, the list's own buttons work.
    playEnabled = dialog.IsItemEnabled(IDC_PLAYFILE);
    convertEnabled = dialog.IsItemEnabled(IDC_CONVERT);
    removeEnabled = dialog.IsItemEnabled(IDC_REMOVEFILE);
    // Should the button be pressed all the same, the audition says why it fails.
    SendMessageA(dialog.Handle(), WM_COMMAND, MAKEWPARAM(IDC_PLAYFILE, BN_CLICKED), 0);
    dialog.Click(IDOK);
  });
  EXPECT_FALSE(playEnabled);
  EXPECT_FALSE(convertEnabled);
  EXPECT_TRUE(removeEnabled);
  const auto boxes = toolkit_.MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_NE(boxes[0].text.find("fluid-soundfont-gm"), std::string::npos);
  EXPECT_EQ(boxes[1].text, "Configure Synthesizer Failed\nsong.mid: no synthesizer device is selected");
  EXPECT_EQ(boxes[1].caption, "Error");
  const auto lines = LogLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("No SoundFont found in: ", 0) == 0; }));
  EXPECT_TRUE(exits_.empty());
}

TEST_F(MainWindowTest, TheListKeepsOneItemPerPathByteForByteAndListsAMultipleChoiceInOrder) {
  const std::string folder = temp_.Path().string();
  toolkit_.QueueOpenFiles(std::vector<std::string>{folder + "/a.mid"});
  toolkit_.QueueOpenFiles(std::vector<std::string>{folder + "/a.mid"});
  toolkit_.QueueOpenFiles(std::vector<std::string>{folder + "/A.mid"});
  toolkit_.QueueOpenFiles(std::vector<std::string>{folder + "/c.mid", folder + "/b.mid", folder + "/a.mid"});
  std::vector<std::string> names, paths;
  bool convertEnabled = false;
  Run([&](FakeDialog& dialog) {
    for (int i = 0; i < 4; ++i) dialog.Click(IDC_ADDFILE);
    for (int i = 0; i < dialog.ListCount(kList); ++i) {
      names.push_back(dialog.ListItemText(kList, i, 0));
      paths.push_back(dialog.ListItemText(kList, i, 1));
    }
    convertEnabled = dialog.IsItemEnabled(IDC_CONVERT);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(names, (std::vector<std::string>{"a.mid", "A.mid", "c.mid", "b.mid"}));
  EXPECT_EQ(paths[3], folder + "/b.mid");
  EXPECT_TRUE(LogHas({"Message: ADDFILE", "    file: c.mid", "    file: b.mid", "    file: a.mid"}));
  EXPECT_TRUE(convertEnabled);
  // The next dialog opens in the folder of the multiple choice.
  EXPECT_EQ(std::string(g_szFileTitle), folder);
}

TEST_F(MainWindowTest, AFileRemovedFromTheListCanBeAddedAgainOnce) {
  const std::string f = temp_.Path().string();
  for (int i = 0; i < 3; ++i) toolkit_.QueueOpenFiles(std::vector<std::string>{f + "/a.mid", f + "/b.mid"});
  std::vector<int> counts;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.SelectListItem(kList, 1);
    dialog.Click(IDC_REMOVEFILE);  // b goes
    dialog.Click(IDC_ADDFILE);     // b comes back, a stays once
    counts.push_back(dialog.ListCount(kList));
    dialog.Click(IDC_REMOVEALL);
    dialog.Click(IDC_ADDFILE);  // both come back after Remove All
    counts.push_back(dialog.ListCount(kList));
    dialog.Click(IDOK);
  });
  EXPECT_EQ(counts, (std::vector<int>{2, 2}));
}

TEST_F(MainWindowTest, DroppedFoldersAddTheirMidiFilesAndABringToFrontAddsTheFilesHandedOver) {
  const std::filesystem::path folder = temp_.Path() / "drop";
  std::filesystem::create_directories(folder / "sub");
  for (const char* name : {"b.MIDI", "a.kar", "sub/c.mid", "readme.txt"})
    testing_support::WriteFileBytes(folder / name, "");
  const std::string single = MidiFile("single.mid");
  std::vector<std::string> names, missing;
  for (int i = 0; i < 7; ++i) missing.push_back(temp_.File("missing" + std::to_string(i) + ".mid"));
  std::vector<std::string> handed = {single, MidiFile("later.mid")};
  handed.insert(handed.end(), missing.begin(), missing.end());
  Run([&](FakeDialog& dialog) {
    dialog.DropFiles({folder.string(), single});
    HandFilesToWindow(handed);
    SendMessageA(dialog.Handle(), msgMutex, 0, 0);
    for (int i = 0; i < dialog.ListCount(kList); ++i) names.push_back(dialog.ListItemText(kList, i, 0));
    dialog.Click(IDOK);
  });
  EXPECT_EQ(names, (std::vector<std::string>{"a.kar", "b.MIDI", "c.mid", "single.mid", "later.mid"}));
  EXPECT_TRUE(LogHas({"Message: DROPFILES", "    file: a.kar"}));
  // Handed paths that are no files: one box naming the first five, a log line each.
  ASSERT_EQ(toolkit_.MessageBoxes().size(), 1u);
  std::string listed;
  for (int i = 0; i < 5; ++i) listed += "\n" + missing[static_cast<std::size_t>(i)];
  EXPECT_EQ(toolkit_.MessageBoxes()[0].text,
            "These are not files or folders and were not added to the list:" + listed + "\nand 2 more");
  EXPECT_EQ(toolkit_.MessageBoxes()[0].caption, "Error");
  for (const std::string& path : missing) EXPECT_EQ(Count(LogLines(), "    not a file or folder: " + path), 1) << path;
}

TEST_F(MainWindowTest, RemovingOrDeleteSelectsTheNeighbourAndAnEmptyListDisablesItsButtons) {
  const std::string f = temp_.Path().string();
  toolkit_.QueueOpenFiles(std::vector<std::string>{f + "/1.mid", f + "/2.mid", f + "/3.mid"});
  int afterLast = -2, afterFirst = -2, afterOnly = -2;
  bool removeUsable = false, playUsable = false, anyUsable = true;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.SelectListItem(kList, 2);
    removeUsable = dialog.IsItemEnabled(IDC_REMOVEFILE);
    playUsable = dialog.IsItemEnabled(IDC_PLAYFILE);
    dialog.Click(IDC_REMOVEFILE);
    afterLast = dialog.ListGetSel(kList);  // the new last item
    dialog.SelectListItem(kList, 0);
    dialog.PressListKey(kList, VK_DELETE);  // Delete does what Remove File does
    afterFirst = dialog.ListGetSel(kList);  // the new first item
    dialog.Click(IDC_REMOVEFILE);
    afterOnly = dialog.ListGetSel(kList);
    anyUsable =
        dialog.IsItemEnabled(IDC_CONVERT) || dialog.IsItemEnabled(IDC_REMOVEFILE) || dialog.IsItemEnabled(IDC_PLAYFILE);
    dialog.Click(IDOK);
  });
  EXPECT_TRUE(removeUsable);
  EXPECT_TRUE(playUsable);
  EXPECT_EQ(afterLast, 1);
  EXPECT_EQ(afterFirst, 0);
  EXPECT_EQ(afterOnly, -1);
  EXPECT_FALSE(anyUsable);
  EXPECT_TRUE(LogHas({"Message: REMOVEFILE", "    StopMIDI", "    file #2"}));
  EXPECT_TRUE(LogHas({"Message: REMOVEFILE", "    StopMIDI", "    file #0"}));
}

TEST_F(MainWindowTest, APathTooLongForTheListIsRefusedWithAMessage) {
  const std::string longPath = temp_.Path().string() + "/" + std::string(4100, 'x') + ".mid";
  toolkit_.QueueOpenFiles(std::vector<std::string>{longPath});
  int count = -1;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    count = dialog.ListCount(kList);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(count, 0);
  ASSERT_EQ(toolkit_.MessageBoxes().size(), 1u);
  EXPECT_EQ(toolkit_.MessageBoxes()[0].caption, "Error");
}

TEST_F(MainWindowTest, AnAuditionAtTempoZeroLogsItsStepsAndABrokenFileFailsWithStopPlayingShown) {
  const std::string song = MidiFile("song.mid");
  const std::string broken = temp_.File("broken.mid");
  testing_support::WriteFileBytes(broken, "not a MIDI file");
  toolkit_.QueueOpenFiles(std::vector<std::string>{song, broken});
  bool stopShown = false, playHidden = false;
  int indentAfter = -1;
  std::string reason;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.MoveSlider(IDC_TEMPO, 0);
    dialog.SelectListItem(kList, 0);
    dialog.Click(IDC_PLAYFILE);
    dialog.Click(IDC_STOPPLAYING);
    dialog.SelectListItem(kList, 1);
    dialog.Click(IDC_PLAYFILE);
    reason = GetLoadFailureMIDI();
    stopShown = dialog.IsItemVisible(IDC_STOPPLAYING);
    playHidden = !dialog.IsItemVisible(IDC_PLAYFILE);
    indentAfter = g_DebugLog.Indent();
    dialog.Click(IDC_STOPPLAYING);
    dialog.Click(IDOK);
  });
  EXPECT_TRUE(
      LogHas({"Play file", "    StopMIDI", "    Port: 0", "    mPort: 0", "    Tempo: 0", "    ConfigureSynthesizer"}));
  ASSERT_EQ(toolkit_.MessageBoxes().size(), 1u);
  const std::string text = toolkit_.MessageBoxes()[0].text;
  // The file and the loader's reason under the step's text, in the box and the log.
  const std::string detail = "broken.mid: " + reason;
  EXPECT_GT(reason.size(), 0u);
  EXPECT_EQ(text, "Can't load MIDI File\n" + detail);
  EXPECT_TRUE(LogHas({"    Can't load MIDI File", "    " + detail, "Stop MIDI"}));
  EXPECT_EQ(toolkit_.MessageBoxes()[0].caption, "Error");
  EXPECT_TRUE(stopShown);
  EXPECT_TRUE(playHidden);
  EXPECT_EQ(indentAfter, 0);
}

TEST_F(MainWindowTest, ConvertLocksOutAuditionsAndRemovingAndMakesTheDefaultOutputFolder) {
  toolkit_.QueueOpenFiles(std::vector<std::string>{MidiFile("song.mid"), MidiFile("next.mid")});
  bool playAfterConvert = true, convertAfter = true, removeAfter = true, removeAllAfter = true;
  int countAfterDelete = 0;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.SelectListItem(kList, 0);
    dialog.Click(IDC_CONVERT);
    // A selection change after Convert! does not make auditions possible again.
    dialog.SelectListItem(kList, -1);
    dialog.SelectListItem(kList, 0);
    playAfterConvert = dialog.IsItemEnabled(IDC_PLAYFILE);
    convertAfter = dialog.IsItemEnabled(IDC_CONVERT);
    // Until the worker has taken the top file, nothing may leave the list.
    removeAfter = dialog.IsItemEnabled(IDC_REMOVEFILE);
    removeAllAfter = dialog.IsItemEnabled(IDC_REMOVEALL);
    dialog.PressListKey(kList, VK_DELETE);
    countAfterDelete = dialog.ListCount(kList);
    dialog.Click(IDOK);
  });
  EXPECT_FALSE(playAfterConvert);
  EXPECT_FALSE(convertAfter);
  EXPECT_FALSE(removeAfter);
  EXPECT_FALSE(removeAllAfter);
  EXPECT_EQ(countAfterDelete, 2);
  EXPECT_TRUE(std::filesystem::is_directory(temp_.Path() / "wav"));
  EXPECT_EQ(Count(LogLines(), "Message: CONVERT"), 1);
}

TEST_F(MainWindowTest, ClosingDuringABatchStopsTheWorkerFirstAndLeavesNoFileBehind) {
  // Ten minutes of music: the batch is still on its first file when the window closes.
  const std::string song = temp_.File("long.mid");
  dmusic_test::MidiFile midi;
  midi.Tempo(0, 500000);
  for (int i = 0; i < 1200; ++i) midi.Note(0, 0, 60 + i % 12, 100, 768);
  midi.Write(song);
  toolkit_.QueueOpenFiles(std::vector<std::string>{song});
  const std::filesystem::path output = temp_.Path() / "wav";
  std::filesystem::create_directories(output);
  bool playing = false;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.Click(IDC_CONVERT);
    playing = dialog.ServeUntil([&] { return dialog.ItemText(IDC_FILELABEL) == "File: long.mid"; });
    dialog.CloseBox();
  });
  EXPECT_TRUE(playing);
  EXPECT_TRUE(std::filesystem::is_empty(output));
  const char* tmp = std::getenv("TMPDIR");
  for (const auto& entry : std::filesystem::directory_iterator(tmp)) {
    EXPECT_NE(entry.path().filename().string().rfind("ovh", 0), 0u) << entry.path();
  }
  // The worker left the engine before the window let it go; the log ends as usual.
  // (The window's and the worker's lines share one indentation.)
  std::vector<std::string> lines = LogLines();
  for (std::string& line : lines) line.erase(0, line.find_first_not_of(' '));
  const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
  EXPECT_LT(at("Message: CLOSE"), at("Thread - ok"));
  EXPECT_LT(at("Thread - ok"), at("Message: DESTROY"));
  EXPECT_LT(at("Message: DESTROY"), static_cast<std::ptrdiff_t>(lines.size()));
  EXPECT_EQ(Count(lines, "Thread - ok"), 1);
  EXPECT_TRUE(LogHas({"Message: DESTROY", "    RemoveDirectMusic"}));
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

// The first device's SoundFont loads when the window opens and a chosen one's
// when it is chosen: an audition finds it loaded, even with its file gone.
TEST_F(MainWindowTest, TheDevicesSoundFontIsLoadedBeforePlayFile) {
  const std::string second = temp_.File("second.sf2");
  dmusic_test::WriteTestSoundFont(second, 0.05);
  platform::PortInfo other = Port(u"Second");
  other.path = second;
  other.guid = platform::GuidFromName(second);
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{Port(u"First"), other});
  toolkit_.QueueOpenFiles(std::vector<std::string>{MidiFile("song.mid")});
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.SelectListItem(kList, 0);
    dialog.Choose(IDC_DEVICE, 1);
    platform::Synthesizer::FinishPreloads();
    std::filesystem::remove(soundFont_);
    std::filesystem::remove(second);
    dialog.Click(IDC_PLAYFILE);
    dialog.Click(IDC_STOPPLAYING);
    dialog.Choose(IDC_DEVICE, 0);
    dialog.Click(IDC_PLAYFILE);
    dialog.Click(IDC_STOPPLAYING);
    dialog.Click(IDOK);
  });
  EXPECT_TRUE(toolkit_.MessageBoxes().empty());
  EXPECT_EQ(Count(LogLines(), "    ConfigureSynthesizer"), 2);
}

TEST_F(MainWindowTest, ExitStopsAPlayingAuditionBeforeTheEngineGoesAndSkipsTheCloseSteps) {
  toolkit_.QueueOpenFiles(std::vector<std::string>{MidiFile("song.mid")});
  const HBITMAP background = g_hBackgroundBitmap;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.SelectListItem(kList, 0);
    dialog.Click(IDC_PLAYFILE);
    dialog.Click(IDOK);
  });
  EXPECT_EQ(toolkit_.QuitRequests(), 1);
  EXPECT_TRUE(LogHas({"Message: OK", "Message: DESTROY", "    StopMIDI"}));
  EXPECT_TRUE(LogHas({"    RemoveDirectMusic"}));
  EXPECT_EQ(Count(LogLines(), "Message: CLOSE"), 0);
  // The close steps did not run: the background objects still exist.
  EXPECT_NE(ui::BitmapFromHandle(background), nullptr);
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(MainWindowTest, EnterWithoutAFocusedPushButtonExitsAndEscapeDoesNothing) {
  bool endedByEscape = true;
  Run([&](FakeDialog& dialog) {
    dialog.PressEscape();
    endedByEscape = dialog.Ended();
    dialog.FocusItem(IDC_OUTPUTDIR);  // the edit box, not a push button
    dialog.PressEnter();
  });
  EXPECT_FALSE(endedByEscape);
  EXPECT_EQ(toolkit_.QuitRequests(), 1);
  EXPECT_TRUE(LogHas({"Message: OK", "Message: DESTROY"}));
}

TEST_F(MainWindowTest, CloseBoxRunsTheCloseStepsThenTheDestroyStepsAndReleasesTheMutex) {
  const HBITMAP background = g_hBackgroundBitmap;
  const HGDIOBJ fill = g_hFillObject;
  bool ended = false;
  const INT_PTR result = Run([&](FakeDialog& dialog) {
    dialog.CloseBox();
    ended = dialog.Ended();
  });
  EXPECT_TRUE(ended);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(toolkit_.QuitRequests(), 0);
  EXPECT_TRUE(LogHas({"Message: CLOSE", "    StopMIDI"}));
  EXPECT_TRUE(LogHas({"Message: DESTROY", "    RemoveDirectMusic"}));
  EXPECT_EQ(ui::BitmapFromHandle(background), nullptr);
  EXPECT_EQ(ui::BrushFromHandle(fill), nullptr);
  EXPECT_EQ(g_DebugLog.Indent(), 0);
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
    for (int id : {ui::kNoId, IDC_OUTPUTDIR, IDC_CONVERTERGROUP, IDC_OUTPUTGROUP, IDC_PROGRESSGROUP, IDC_TEMPOGROUP,
                   IDC_TEMPO, IDC_SAMEDIRECTORY, IDC_FILELABEL, IDC_TIMELABEL}) {
      RecordingContext dc;
      answers[id] = dialog.Send(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(static_cast<ui::DeviceContext*>(&dc)),
                                reinterpret_cast<LPARAM>(GetDlgItem(dialog.Handle(), id)));
      modes[id] = dc.backgroundMode;
    }
    dialog.Click(IDOK);
  });
  EXPECT_EQ(answers[ui::kNoId], reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH)));
  EXPECT_EQ(modes[ui::kNoId], TRANSPARENT);
  for (int id : {IDC_OUTPUTDIR, IDC_CONVERTERGROUP, IDC_OUTPUTGROUP, IDC_PROGRESSGROUP, IDC_TEMPOGROUP, IDC_TEMPO,
                 IDC_SAMEDIRECTORY, IDC_FILELABEL, IDC_TIMELABEL}) {
    EXPECT_EQ(answers[id], FALSE) << id;
    EXPECT_EQ(modes[id], OPAQUE) << id;
  }
}

}  // namespace
