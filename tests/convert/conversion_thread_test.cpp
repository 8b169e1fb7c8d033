// The conversion worker end to end: generated MIDI files rendered by the real engine
// with a tiny SoundFont through the capture effect into WAV and MP3 files, the
// worker driven through a fake main window whose procedure does what the real one
// does for Convert!, Abort and closing.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/process_state.h"
#include "convert/conversion_thread.h"
#include "convert/main_window_ids.h"
#include "engine/capture_attachment.h"
#include "engine/music_engine.h"
#include "engine/segment_playback.h"
#include "platform/core/part_file.h"
#include "platform/core/sync.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/engine_classes.h"
#include "platform/dmusic/port_table.h"
#include "platform/shell/shell.h"
#include "platform/window/winuser.h"
#include "tests/ovdmofilter/capture_fixture.h"
#include "tests/platform/dmusic/test_media.h"
#include "tests/ui/fake_dialog.h"

namespace {

namespace fs = std::filesystem;
using ui::testing::FakeDialog;
using ui::testing::FakeToolkit;

constexpr int kList = IDC_FILELIST, kConvert = IDC_CONVERT, kAbort = IDC_ABORT, kAddFile = IDC_ADDFILE,
              kChangePath = IDC_CHANGEWAVPATH;
constexpr int kOutputDir = IDC_OUTPUTDIR, kSameDirectory = IDC_SAMEDIRECTORY, kDevice = IDC_DEVICE,
              kFormat = IDC_FORMAT, kMp3Quality = IDC_MP3QUALITY;
constexpr int kTempo = IDC_TEMPO, kTimeLabel = IDC_TIMELABEL, kFileLabel = IDC_FILELABEL;

// The recording holds the music, its release (the test SoundFont's 0.1 s, found by
// 100 ms polls) and the 700 ms tail.
constexpr double kTailSeconds = 0.7;
constexpr double kSlackSeconds = 0.4;

// How long a batch may take in the slowest (sanitizer) builds.
constexpr std::chrono::seconds kBatchLimit(120);

// The seconds of sound in a WAV file; negative when it is not one.
double WavSeconds(const fs::path& path) {
  const std::string bytes = testing_support::ReadFileBytes(path);
  const auto word = [&](std::size_t at) {
    return static_cast<std::uint32_t>(
        static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8 |
        static_cast<unsigned char>(bytes[at + 2]) << 16 | static_cast<unsigned char>(bytes[at + 3]) << 24);
  };
  const std::size_t data = bytes.find("data");
  if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || data == std::string::npos) return -1;
  const std::uint32_t rate = word(24), blockAlign = static_cast<std::uint16_t>(word(32));
  return rate == 0 || blockAlign == 0 ? -1 : static_cast<double>(word(data + 4)) / blockAlign / rate;
}

struct Mp3Sound {
  long rate = 0;
  double seconds = -1;
};

Mp3Sound DecodeMp3(const fs::path& path) {
  Mp3Sound sound;
  int error = MPG123_OK;
  mpg123_handle* handle = mpg123_new(nullptr, &error);
  if (handle == nullptr) return sound;
  mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  int channels = 0, encoding = 0;
  if (mpg123_open(handle, path.c_str()) == MPG123_OK &&
      mpg123_getformat(handle, &sound.rate, &channels, &encoding) == MPG123_OK && channels > 0) {
    unsigned char buffer[16384];
    std::size_t done = 0, bytes = 0;
    int result = MPG123_OK;
    while ((result = mpg123_read(handle, buffer, sizeof buffer, &done)) == MPG123_OK) bytes += done;
    bytes += done;
    if (result == MPG123_DONE)
      sound.seconds =
          static_cast<double>(bytes) / mpg123_encsize(encoding) / channels / static_cast<double>(sound.rate);
    mpg123_close(handle);
  }
  mpg123_delete(handle);
  return sound;
}

std::vector<std::string> FileNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Temporary WAV files the worker left in the temporary folder.
std::vector<std::string> LeftoverTempFiles() {
  std::vector<std::string> left;
  for (const std::string& name : FileNames(std::getenv("TMPDIR")))
    if (name.rfind("ovh", 0) == 0) left.push_back(name);
  return left;
}

class ConversionThreadTest : public CaptureFixture {
 protected:
  // What the loader says of the file at path.
  static std::string LoadFailureOf(const std::string& path) {
    EXPECT_TRUE(FAILED(LoadMIDI(path.c_str())));
    return GetLoadFailureMIDI();
  }

  static void SetUpTestSuite() { ::setenv("HALVANE_AUDIO_DRIVER", "none", 1); }

  void SetUp() override {
    CaptureFixture::SetUp();
    const std::string soundFont = dir_.File("sine.sf2");
    dmusic_test::WriteTestSoundFont(soundFont, 0.1);
    platform::SetPortTableForTesting(std::vector<platform::PortInfo>{{soundFont, platform::GuidFromName(soundFont),
                                                                      u"Sine", platform::SoundFontPortFlags(),
                                                                      DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH}});
    platform::RegisterMusicEngineClasses();
    ASSERT_EQ(capture_test::RunProgram(kRegistrationProgram, {"/s", "OVDMOFilter.dll"}), 0);
    ASSERT_EQ(InitDirectMusic(nullptr), S_OK);
    ASSERT_EQ(FindFilter(), S_OK);

    AllocateProcessBuffers();
    g_nPortIndex[0] = 0;
    g_nPortCount = 1;
    g_bSameDirectory = 0;
    bIsAborting = 0;
    bIsConverting = 0;
    out_ = dir_.Path() / "out";
    fs::create_directories(out_);
    outputDir_ = out_.string();
    hConvertEvent = CreateEventA(nullptr, FALSE, FALSE, "ConvertMIDI");
    fixture_ = this;
  }

  void TearDown() override {
    fixture_ = nullptr;
    platform::SetPartFileHookForTesting(nullptr);
    CloseHandle(hConvertEvent);
    hConvertEvent = nullptr;
    RemoveDirectMusic();
    platform::SetPortTableForTesting(std::nullopt);
    CaptureFixture::TearDown();
  }

  std::string Midi(const fs::path& path, double seconds) { return dmusic_test::WriteQuarterNotes(path, seconds); }

  // Runs the fake main window; script plays the user once the list holds files.
  void RunWindow(const std::vector<std::string>& files, const std::function<void(FakeDialog&)>& script) {
    toolkit_.SetScript(ui::IDD_MAIN, [&](FakeDialog& d) {
      for (const std::string& file : files) AddFile(d, file);
      script(d);
    });
    ui::testing::ScopedToolkit scoped(toolkit_);
    DialogBoxParamA(nullptr, ui::IDD_MAIN, nullptr, &WindowProc, 0);
  }

  static void AddFile(FakeDialog& d, const std::string& path) {
    const int at = d.ListInsertItem(kList, d.ListCount(kList), fs::path(path).filename().string());
    d.ListSetItemText(kList, at, 1, path);
  }

  // Presses Convert! and serves the worker until the batch has ended and it waits again.
  static void ConvertAndWait(FakeDialog& d) {
    const std::size_t ends = Count(d, "SetTitle Halvane");
    d.EnableItem(kConvert, true);
    d.Click(kConvert);
    ASSERT_TRUE(d.ServeUntil([&] { return Count(d, "SetTitle Halvane") > ends && !WorkerBusy(); }, kBatchLimit));
  }

  // Serves the window for a while, so that a worker that wrongly went on shows.
  static void ServeAWhile(FakeDialog& d, int ms) {
    d.ServeUntil([] { return false; }, std::chrono::milliseconds(ms));
  }

  static std::size_t Count(const FakeDialog& d, const std::string& call) {
    const std::vector<std::string> calls = d.Calls();
    return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
  }
  static bool Called(const FakeDialog& d, const std::string& call) { return Count(d, call) > 0; }

  std::vector<std::string> ListPaths(const FakeDialog& d) const {
    std::vector<std::string> paths;
    for (int i = 0; i < d.ListCount(kList); ++i) paths.push_back(d.ListItemText(kList, i, 1));
    return paths;
  }

  bool Logged(const std::string& line) const {
    const std::vector<std::string> lines = LogLines();
    for (const std::string& l : lines)
      if (l.find(line) != std::string::npos) return true;
    return false;
  }

  std::string SharedOutputDir() const {
    std::lock_guard lock(g_OutputDirLock);
    return g_szOutputDir;
  }

  // The fake main window's procedure: the option controls as the real window sets
  // them up, the worker started with it and ended when it goes, Convert!, Abort,
  // and the close box asking the worker to stop and serving it until it has.
  static INT_PTR WindowProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
    ui::Dialog& d = ui::Dlg(hDlg);
    switch (msg) {
      case WM_INITDIALOG:
        d.ComboAddString(kFormat, "Wav");
        d.ComboAddString(kFormat, "Mp3");
        d.ComboSetSel(kFormat, 0);
        for (const char* rate : {"11025 Hz", "22050 Hz", "44100 Hz", "48000 Hz"}) d.ComboAddString(kMp3Quality, rate);
        d.ComboSetSel(kMp3Quality, 2);
        d.ComboAddString(IDC_WAVQUALITY, "Origin");
        d.ComboSetSel(IDC_WAVQUALITY, 0);
        d.ComboAddString(kDevice, "Sine");
        d.ComboSetSel(kDevice, 0);
        d.SliderSetRange(kTempo, 0, 100);
        d.SliderSetPos(kTempo, 50);
        d.SetItemText(kOutputDir, fixture_->outputDir_);
        d.ListInsertColumn(kList, 0, "MIDI File", 120);
        d.ListInsertColumn(kList, 1, "Path", 240);
        d.EnableItem(kAbort, false);
        fixture_->worker_ = std::thread(ConversionThread, hDlg);
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wParam) == kConvert) {
          d.EnableItem(kConvert, false);
          SetEvent(hConvertEvent);
          return TRUE;
        }
        if (LOWORD(wParam) == kAbort) {
          d.EnableItem(kAbort, false);
          bIsAborting = 1;
          return TRUE;
        }
        return FALSE;
      case WM_CLOSE:
        RequestWorkerStop();
        d.ServeWhile(WorkerBusy);
        fixture_->closedWhileBusy_ = WorkerBusy();
        EndDialog(hDlg, 0);
        return TRUE;
      case WM_DESTROY:
        // Served until it has left any batch, the worker then returns.
        EndConversionThreadForTesting();
        d.ServeWhile(WorkerBusy);
        fixture_->worker_.join();
        return TRUE;
      default:
        return FALSE;
    }
  }

  static inline ConversionThreadTest* fixture_ = nullptr;
  FakeToolkit toolkit_;
  std::thread worker_;
  fs::path out_;
  std::string outputDir_;
  bool closedWhileBusy_ = true;
};

TEST(FormatMinSecTest, DropsHoursAndPadsToTwoDigits) {
  char text[6];
  for (const auto& [seconds, shown] : std::vector<std::pair<DWORD, std::string>>{
           {0, "00:00"}, {65, "01:05"}, {605, "10:05"}, {3599, "59:59"}, {3725, "02:05"}, {0xFFFFFFFF, "28:15"}}) {
    FormatMinSec(seconds, text);
    EXPECT_EQ(text, shown) << seconds;
  }
}

TEST_F(ConversionThreadTest, ThreeFilesBecomeThreeWavFilesAndTheListEmpties) {
  const std::string longName = "a file name longer than the label.mid";  // 37 characters
  const std::vector<std::string> files = {Midi(dir_.Path() / "in" / "short.mid", 2),
                                          Midi(dir_.Path() / "in" / "my.song.mid", 3),
                                          Midi(dir_.Path() / "in" / longName, 1)};
  RunWindow(files, [&](FakeDialog& d) {
    ConvertAndWait(d);
    EXPECT_EQ(d.ListCount(kList), 0);
    EXPECT_EQ(d.Title(), "Halvane");
    EXPECT_TRUE(Called(d, "SetTitle Halvane -- my.song.mid"));
    EXPECT_TRUE(Called(d, "SetItemText 2016 File: a file name longer than the label.mi..."));
    EXPECT_TRUE(Called(d, "SetTitle Halvane -- " + longName));
    EXPECT_TRUE(Called(d, "SetItemText 2015 Time elapsed: 00:01 / 00:02"));
    EXPECT_TRUE(Called(d, "ProgressSetPos 2010 50"));
    // The list was emptied: Convert! stays off, Abort goes off, the rest comes back.
    EXPECT_FALSE(d.IsItemEnabled(kConvert));
    EXPECT_FALSE(d.IsItemEnabled(kAbort));
    EXPECT_TRUE(d.IsItemEnabled(kAddFile));
    EXPECT_TRUE(d.IsItemEnabled(kChangePath));
    EXPECT_EQ(d.FocusedItem(), kConvert);
  });
  ASSERT_EQ(FileNames(out_),
            (std::vector<std::string>{"a file name longer than the label.wav", "my.song.wav", "short.wav"}));
  for (const auto& [name, music] : std::vector<std::pair<std::string, double>>{
           {"short.wav", 2}, {"my.song.wav", 3}, {"a file name longer than the label.wav", 1}}) {
    const double seconds = WavSeconds(out_ / name);
    EXPECT_GE(seconds, music + kTailSeconds) << name;
    EXPECT_LE(seconds, music + kTailSeconds + kSlackSeconds) << name;
  }
  const auto boxes = toolkit_.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "3 MIDI-file(s) was converted!");
  EXPECT_EQ(boxes[0].caption, "Halvane");
  EXPECT_TRUE(Logged("Thread - ok"));
  EXPECT_EQ(g_DebugLog.Indent(), 0);
  EXPECT_EQ(SharedOutputDir(), out_.string());
  EXPECT_EQ(bIsConverting.load(), 0);
}

TEST_F(ConversionThreadTest, Mp3At22050HzDecodesAtThatRateAsLongAsTheMusic) {
  const std::string file = Midi(dir_.Path() / "in" / "song.mid", 2);
  RunWindow({file}, [&](FakeDialog& d) {
    d.Choose(kFormat, 1);
    d.Choose(kMp3Quality, 1);
    ConvertAndWait(d);
  });
  ASSERT_EQ(FileNames(out_), std::vector<std::string>{"song.mp3"});
  const Mp3Sound sound = DecodeMp3(out_ / "song.mp3");
  EXPECT_EQ(sound.rate, 22050);
  // The encoder adds up to about two frames of padding.
  EXPECT_GE(sound.seconds, 2 + kTailSeconds);
  EXPECT_LE(sound.seconds, 2 + kTailSeconds + kSlackSeconds + 0.1);
  EXPECT_TRUE(Logged("Quality: 22050"));
  EXPECT_TRUE(Logged("temp file: " + std::string(std::getenv("TMPDIR")) + "/ovh"));
  EXPECT_TRUE(LeftoverTempFiles().empty());
  EXPECT_EQ(toolkit_.MessageBoxes().at(0).text, "1 MIDI-file(s) was converted!");
}

TEST_F(ConversionThreadTest, CollidingNamesGetCountersAndTempoZeroDoublesTheLength) {
  testing_support::WriteFileBytes(out_ / "a.wav", "kept");
  const std::string first = Midi(dir_.Path() / "one" / "a.mid", 2);
  const std::string second = Midi(dir_.Path() / "two" / "a.mid", 2);
  RunWindow({first, second}, [&](FakeDialog& d) {
    d.MoveSlider(kTempo, 0);
    ConvertAndWait(d);
    AddFile(d, first);
    ConvertAndWait(d);
  });
  EXPECT_EQ(FileNames(out_), (std::vector<std::string>{"a(1).wav", "a(2).wav", "a(3).wav", "a.wav"}));
  EXPECT_EQ(testing_support::ReadFileBytes(out_ / "a.wav"), "kept");
  const double seconds = WavSeconds(out_ / "a(1).wav");
  EXPECT_GE(seconds, 4 + kTailSeconds);
  EXPECT_LE(seconds, 4 + kTailSeconds + kSlackSeconds);
  EXPECT_TRUE(Logged("Tempo: 0"));
}

TEST_F(ConversionThreadTest, SameDirectoryWritesNextToTheInputAndKeepsThatFolder) {
  const fs::path folder = dir_.Path() / "music";
  const std::string file = Midi(folder / "x.mid", 1);
  g_bSameDirectory = 1;
  {
    std::lock_guard lock(g_OutputDirLock);
    std::snprintf(g_szOutputDir, kTextBufferSize, "%s", outputDir_.c_str());
  }
  RunWindow({file}, [&](FakeDialog& d) {
    d.SetCheck(kSameDirectory, BST_CHECKED);
    d.EnableItem(kChangePath, false);
    ConvertAndWait(d);
    EXPECT_FALSE(d.IsItemEnabled(kChangePath));
  });
  EXPECT_TRUE(fs::exists(folder / "x.wav"));
  EXPECT_TRUE(FileNames(out_).empty());
  // The input's folder was the worker's own; the folder the user chose is kept.
  EXPECT_EQ(SharedOutputDir(), outputDir_);
}

// Whatever happens to the list while a file plays, the worker saves the music it
// rendered under that file's name and removes only that file.
TEST_F(ConversionThreadTest, TheFileTakenIsTheFileSavedWhenTheListChangesWhileItPlays) {
  const std::string first = Midi(dir_.Path() / "in" / "first.mid", 20);
  const std::string second = Midi(dir_.Path() / "in" / "second.mid", 1);
  RunWindow({first, second}, [&](FakeDialog& d) {
    const std::size_t ends = Count(d, "SetTitle Halvane");
    d.Click(kConvert);
    ASSERT_TRUE(d.ServeUntil([&] { return d.IsItemEnabled(kAbort); }, kBatchLimit));
    d.ListDeleteItem(kList, 0);
    ASSERT_TRUE(d.ServeUntil([&] { return Count(d, "SetTitle Halvane") > ends && !WorkerBusy(); }, kBatchLimit));
    EXPECT_EQ(d.ListCount(kList), 0);
  });
  EXPECT_EQ(FileNames(out_), (std::vector<std::string>{"first.wav", "second.wav"}));
  EXPECT_GE(WavSeconds(out_ / "first.wav"), 20 + kTailSeconds);
  EXPECT_EQ(toolkit_.MessageBoxes().at(0).text, "2 MIDI-file(s) was converted!");
}

// The total comes from the exact span, not from two whole-second readings, so where
// the clock stands within its second (it goes on from the file before) changes
// nothing; the elapsed time stops at the total while the last notes ring on.
TEST_F(ConversionThreadTest, TimeElapsedStopsAtItsTotalAndTheTotalIsTheSameAfterAnyFile) {
  const std::string song = Midi(dir_.Path() / "in" / "song.mid", 3.5);
  std::vector<std::string> before;
  for (double seconds : {1.0, 1.5, 2.0, 2.5}) {
    before.push_back(Midi(dir_.Path() / "in" / ("before" + std::to_string(before.size()) + ".mid"), seconds));
  }
  std::vector<std::string> totals;
  RunWindow({}, [&](FakeDialog& d) {
    for (const std::string& file : before) {
      AddFile(d, file);
      AddFile(d, song);
      const std::size_t calls = d.Calls().size();
      ConvertAndWait(d);
      const std::vector<std::string> all = d.Calls();
      std::string last;
      for (std::size_t i = calls; i < all.size(); ++i) {
        const std::string prefix = "SetItemText 2015 Time elapsed: ";
        if (all[i].rfind(prefix, 0) != 0) continue;
        const std::string elapsed = all[i].substr(prefix.size(), 5), total = all[i].substr(prefix.size() + 8);
        EXPECT_LE(elapsed, total) << all[i];
        last = total;
      }
      totals.push_back(last);  // the song's, which comes second
    }
  });
  EXPECT_EQ(totals, std::vector<std::string>(before.size(), "00:02"));
}

TEST_F(ConversionThreadTest, MusicShorterThanTwoSecondsShowsNoTotalAndNoProgress) {
  dmusic_test::MidiFile midi;
  midi.Tempo(0, 500000).Note(0, 0, 60, 110, 384);  // a quarter of a second
  const std::string file = dir_.File("blip.mid");
  midi.Write(file);
  RunWindow({file}, [&](FakeDialog& d) {
    ConvertAndWait(d);
    for (const std::string& call : d.Calls()) {
      if (call.rfind("ProgressSetPos", 0) == 0) {
        EXPECT_EQ(call, "ProgressSetPos 2010 0");
      }
      if (call.rfind("SetItemText 2015", 0) == 0) {
        EXPECT_EQ(call, "SetItemText 2015 Time elapsed: 00:00 / 00:00");
      }
    }
  });
  EXPECT_EQ(FileNames(out_), std::vector<std::string>{"blip.wav"});
}

TEST_F(ConversionThreadTest, AbortMidFileLeavesNothingAndKeepsTheFileFirst) {
  const std::string longFile = Midi(dir_.Path() / "in" / "long.mid", 600);
  const std::string next = Midi(dir_.Path() / "in" / "next.mid", 1);
  RunWindow({longFile, next}, [&](FakeDialog& d) {
    d.Choose(kFormat, 1);
    const std::size_t ends = Count(d, "SetTitle Halvane");
    d.Click(kConvert);
    ASSERT_TRUE(d.ServeUntil([&] { return d.IsItemEnabled(kAbort); }, kBatchLimit));
    d.Click(kAbort);
    ASSERT_TRUE(d.ServeUntil([&] { return Count(d, "SetTitle Halvane") > ends && !WorkerBusy(); }, kBatchLimit));
    EXPECT_EQ(ListPaths(d), (std::vector<std::string>{longFile, next}));
    EXPECT_TRUE(d.IsItemEnabled(kConvert));
    EXPECT_FALSE(d.IsItemEnabled(kAbort));
  });
  EXPECT_TRUE(Logged("bIsAborting: 1"));
  EXPECT_TRUE(FileNames(out_).empty());
  EXPECT_TRUE(LeftoverTempFiles().empty());
  EXPECT_TRUE(toolkit_.MessageBoxes().empty());
  EXPECT_EQ(bIsAborting.load(), 0);
}

TEST_F(ConversionThreadTest, ErrorsEndTheBatchAndKeepTheRest) {
  const std::string good = Midi(dir_.Path() / "in" / "good.mid", 1);
  const std::string broken = dir_.File("broken.mid");
  testing_support::WriteFileBytes(broken, "not a MIDI file");
  const std::string last = Midi(dir_.Path() / "in" / "last.mid", 1);
  RunWindow({good, broken, last}, [&](FakeDialog& d) {
    ConvertAndWait(d);
    EXPECT_EQ(ListPaths(d), (std::vector<std::string>{broken, last}));
    EXPECT_TRUE(d.IsItemEnabled(kConvert));
    EXPECT_EQ(d.Title(), "Halvane");
    // No Device selection: nothing to configure, and the list stays.
    d.ComboSetSel(kDevice, -1);
    ConvertAndWait(d);
    // A selection past the ports that exist.
    d.ComboSetSel(kDevice, 0);
    g_nPortCount = 0;
    ConvertAndWait(d);
    EXPECT_EQ(ListPaths(d), (std::vector<std::string>{broken, last}));
  });
  const auto boxes = toolkit_.MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  // The step's text, then the file and the loader's reason, in the box and the log.
  const std::string loadFailed = "Can't load MIDI File\nbroken.mid: " + LoadFailureOf(broken);
  EXPECT_EQ(boxes[0].text, loadFailed);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_TRUE(Logged(loadFailed.substr(loadFailed.find('\n') + 1)));
  EXPECT_EQ(boxes[1].text, "Configure Synthesizer Failed\nbroken.mid: no synthesizer device is selected");
  EXPECT_EQ(boxes[2].text, boxes[1].text);
  EXPECT_EQ(FileNames(out_), std::vector<std::string>{"good.wav"});
  EXPECT_FALSE(Logged("Thread - ok"));
  EXPECT_EQ(g_DebugLog.Indent(), 0);
  EXPECT_EQ(bIsConverting.load(), 0);
}

// Tests run as root, to whom permission bits mean nothing: the output "folder" is a
// regular file, so no file can be made in it. That is known before the song renders.
TEST_F(ConversionThreadTest, OutputThatCannotBeWrittenIsAnErrorBeforeRenderingAndNothingCounts) {
  testing_support::WriteFileBytes(out_ / "not a folder", "");
  outputDir_ = (out_ / "not a folder").string();
  const std::string file = Midi(dir_.Path() / "in" / "song.mid", 1);
  RunWindow({file}, [&](FakeDialog& d) {
    ConvertAndWait(d);
    d.Choose(kFormat, 1);
    ConvertAndWait(d);
    EXPECT_EQ(ListPaths(d), std::vector<std::string>{file});
    EXPECT_TRUE(d.IsItemEnabled(kConvert));
  });
  const auto boxes = toolkit_.MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.text, "Can't Save Output File\n" + outputDir_ + ": Not a directory");
    EXPECT_EQ(box.caption, "Error");
  }
  EXPECT_EQ(FileNames(out_), std::vector<std::string>{"not a folder"});
  EXPECT_TRUE(LeftoverTempFiles().empty());
  EXPECT_TRUE(Logged(outputDir_ + ": Not a directory"));
  EXPECT_FALSE(Logged("LoadMIDI"));
  EXPECT_FALSE(Logged("done"));
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

// Someone who can write the output folder swaps the freshly reserved name for a link
// to a file of the user's, between the reservation and the writing: the link is
// replaced by the whole output, and the file it pointed to is untouched.
TEST_F(ConversionThreadTest, AReservedNameSwappedForALinkIsReplacedNotWrittenThrough) {
  const fs::path victim = dir_.Path() / "victim.txt";
  testing_support::WriteFileBytes(victim, "precious");
  platform::SetPartFileHookForTesting([&](bool created, const std::string& finalPath) {
    if (!created) return;
    fs::remove(finalPath);
    fs::create_symlink(victim, finalPath);
  });
  const std::string wav = Midi(dir_.Path() / "in" / "a.mid", 1), mp3 = Midi(dir_.Path() / "in" / "b.mid", 1);
  RunWindow({wav}, [&](FakeDialog& d) {
    ConvertAndWait(d);
    AddFile(d, mp3);
    d.Choose(kFormat, 1);
    ConvertAndWait(d);
  });
  EXPECT_TRUE(testing_support::ReadFileBytes(victim) == "precious");
  ASSERT_EQ(FileNames(out_), (std::vector<std::string>{"a.wav", "b.mp3"}));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out_ / "a.wav")));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out_ / "b.mp3")));
  EXPECT_GE(WavSeconds(out_ / "a.wav"), 1 + kTailSeconds);
  EXPECT_GE(DecodeMp3(out_ / "b.mp3").seconds, 1.0);
  // Written as 0600 while it had its temporary name, the output ends with the usual mode.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(fs::status(out_ / "a.wav").permissions(), static_cast<fs::perms>(0666 & ~mask));
  EXPECT_TRUE(LeftoverTempFiles().empty());
}

// A run killed while saving left its part file and the empty name it had reserved: the
// next save into that folder clears both and takes the name again. A part file whose
// writer lives (it holds its lock) stays.
TEST_F(ConversionThreadTest, ASaveClearsWhatAKilledSaveLeftInItsFolder) {
  testing_support::WriteFileBytes(out_ / "song.wav", "");
  testing_support::WriteFileBytes(out_ / ".song.wav.Ab12Cd.halvane-part", "RIFF");
  testing_support::WriteFileBytes(out_ / "other.wav", "");
  std::string reason;
  const auto living = platform::PartFile::Create((out_ / "other.wav").string(), reason);
  ASSERT_TRUE(living) << reason;
  const std::string song = Midi(dir_.Path() / "in" / "song.mid", 1);
  RunWindow({song}, [&](FakeDialog& d) { ConvertAndWait(d); });
  const std::vector<std::string> names = FileNames(out_);
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[0].rfind(".other.wav.", 0), 0u) << names[0];
  EXPECT_EQ(names[1], "other.wav");
  EXPECT_EQ(names[2], "song.wav");
  EXPECT_GE(WavSeconds(out_ / "song.wav"), 1 + kTailSeconds);
}

// 1 h 43 min of music at half tempo records for 3 h 26 min, more than a WAV file can
// hold: refused before it renders (the test would take minutes otherwise), with the
// length and the limit, and nothing written.
TEST_F(ConversionThreadTest, ASongTooLongForAWavFileIsRefusedBeforeItRenders) {
  const std::string file = Midi(dir_.Path() / "in" / "long.mid", 6200);
  RunWindow({file}, [&](FakeDialog& d) {
    d.MoveSlider(kTempo, 0);
    ConvertAndWait(d);
    EXPECT_EQ(ListPaths(d), std::vector<std::string>{file});
  });
  const auto boxes = toolkit_.MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  const std::string reason = file +
                             ": the recording would last up to 3:26:44 (2188065600 bytes); a WAV file holds at "
                             "most 3:22:53 (2147483590 bytes)";
  EXPECT_EQ(boxes[0].text, "Can't Save Output File\n" + reason);
  EXPECT_TRUE(Logged(reason));
  EXPECT_TRUE(FileNames(out_).empty());
}

TEST_F(ConversionThreadTest, ClosingTheWindowMidFileStopsTheWorkerForGood) {
  const std::string longFile = Midi(dir_.Path() / "in" / "long.mid", 600);
  RunWindow({longFile}, [&](FakeDialog& d) {
    d.Choose(kFormat, 1);  // the MP3 encoder runs along with the music
    d.Click(kConvert);
    ASSERT_TRUE(d.ServeUntil([&] { return d.IsItemEnabled(kAbort); }, kBatchLimit));
    d.CloseBox();
    EXPECT_FALSE(closedWhileBusy_);
    EXPECT_EQ(ListPaths(d), std::vector<std::string>{longFile});
    // A Convert! that comes after the stop starts nothing.
    const std::size_t calls = d.Calls().size();
    SetEvent(hConvertEvent);
    ServeAWhile(d, 50);
    EXPECT_FALSE(WorkerBusy());
    EXPECT_EQ(d.Calls().size(), calls);
  });
  EXPECT_TRUE(Logged("bIsAborting: 1"));
  EXPECT_TRUE(FileNames(out_).empty());
  EXPECT_TRUE(LeftoverTempFiles().empty());
  EXPECT_TRUE(toolkit_.MessageBoxes().empty());
}

// The window may close just after Convert!, before the worker has woken: whichever
// comes first, once the window has served the worker until it is idle, the worker
// stays idle and leaves the window alone.
TEST_F(ConversionThreadTest, StopRightAfterConvertLeavesNoBatchBehind) {
  const std::string file = Midi(dir_.Path() / "in" / "song.mid", 1);
  RunWindow({file}, [&](FakeDialog& d) {
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(round);
      if (round > 0) worker_ = std::thread(ConversionThread, d.Handle());
      SetEvent(hConvertEvent);
      RequestWorkerStop();
      d.ServeWhile(WorkerBusy);
      const std::size_t calls = d.Calls().size();
      ServeAWhile(d, 5);
      EXPECT_FALSE(WorkerBusy());
      EXPECT_EQ(d.Calls().size(), calls);
      EndConversionThreadForTesting();
      worker_.join();
      if (d.ListCount(kList) == 0) AddFile(d, file);
    }
    worker_ = std::thread(ConversionThread, d.Handle());
  });
}

}  // namespace
