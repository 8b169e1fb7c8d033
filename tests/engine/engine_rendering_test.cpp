// The engine's operations over the real performance, loader and synthesiser: a
// conversion as the worker runs it, on the recording clock, with a SoundFont and
// MIDI files the test makes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "base/debug_log.h"
#include "engine/engine_state.h"
#include "engine/music_engine.h"
#include "engine/music_tool.h"
#include "engine/segment_playback.h"
#include "ovdmofilter/captured_audio.h"
#include "platform/com/com.h"
#include "platform/core/kernel.h"
#include "platform/dmusic/port_table.h"
#include "tests/dmusic/counting_tool.h"
#include "tests/dmusic/fake_effect.h"
#include "tests/dmusic/test_media.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

namespace {

using dmusic_test::CountingTool;
using dmusic_test::MidiFile;

constexpr std::uint32_t kQuarter = 768;
constexpr std::uint32_t k120Bpm = 500000;

struct Conversion {
  HRESULT hr = E_FAIL;
  std::vector<int> options;  // every notification option taken, in order
  int almostEndMs = -1;      // recording-clock time of option 2 since PlayMIDI
  double recordedSeconds = 0;
  std::vector<std::int16_t> samples;
  DWORD sampleRate = 0;
};

class EngineRenderingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dmusic_test::WriteTestSoundFont(soundFont_, 0.1);
    const std::string real = std::filesystem::canonical(soundFont_).string();
    platform::SetPortTableForTesting(std::vector<platform::PortInfo>{
        {real, platform::GuidFromName(real), u"FluidSynth: test", platform::SoundFontPortFlags(),
         DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH}});
    dmusic_test::RegisterTestEffects();
    CoInitialize(nullptr);
    g_DebugLog.CreateLogFile(dir_.File("log.txt").c_str());
    ASSERT_EQ(InitDirectMusic(nullptr), S_OK);
  }
  void TearDown() override {
    RemoveDirectMusic();
    platform::SetThreadWaitDriver({});
    platform::SetPortTableForTesting(std::nullopt);
  }

  std::string Write(const std::string& name, const MidiFile& file) {
    const std::string path = dir_.File(name);
    file.Write(path);
    return path;
  }

  // Attaches the recording effect to the path's buffer, as the capture effect is.
  HRESULT AttachRecorder() {
    g_EngineState.pAudioPath->Activate(FALSE);
    DSEFFECTDESC effect{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestRecorder, 0, 0};
    DWORD code = 0;
    const HRESULT hr = g_EngineState.pDirectSoundBufferInPath->SetFX(1, &effect, &code);
    g_EngineState.pAudioPath->Activate(TRUE);
    return hr;
  }

  // One file as the conversion worker renders it: configure, load, record, play
  // with notification, poll every 100 ms until option 2, stop. With
  // removeNotifications false the polling goes on for what follows option 2.
  Conversion Convert(const std::string& path, DWORD tempoPosition, CountingTool* tool = nullptr,
                     bool removeNotifications = true) {
    Conversion result;
    if (FAILED(result.hr = ConfigureSynthesizer(0, tempoPosition))) return result;
    if (tool != nullptr) g_EngineState.pGraph->InsertTool(tool, nullptr, 0, 1);
    if (FAILED(result.hr = LoadMIDI(path.c_str()))) return result;
    if (FAILED(result.hr = AttachRecorder())) return result;
    if (FAILED(result.hr = PlayMIDI(TRUE))) return result;
    int ms = 0;
    for (; ms < 60000; ms += 100) {
      const int option = GetNotifyMIDI();
      if (option >= 0) result.options.push_back(option);
      if (option == 2) {
        result.almostEndMs = ms;
        if (removeNotifications) break;
      }
      if (option == 1) break;
      platform::Sleep(100);
    }
    if (removeNotifications) RemoveNotifyMIDI();
    result.hr = StopMIDI();

    WAVEFORMATEX format{};
    g_EngineState.pDirectSoundBufferInPath->GetFormat(&format, sizeof(format), nullptr);
    result.sampleRate = format.nSamplesPerSec;
    const std::vector<std::uint8_t> bytes = dmusic_test::TheEffectRecord().Bytes();
    result.samples.resize(bytes.size() / 2);
    std::memcpy(result.samples.data(), bytes.data(), result.samples.size() * 2);
    result.recordedSeconds = static_cast<double>(bytes.size()) / format.nBlockAlign / format.nSamplesPerSec;
    return result;
  }

  // The loudest sample between two times of a recording (in seconds).
  static int Peak(const Conversion& c, double from, double to) {
    int peak = 0;
    const auto first = static_cast<std::size_t>(from * c.sampleRate) * 2;
    const auto last = std::min(c.samples.size(), static_cast<std::size_t>(to * c.sampleRate) * 2);
    for (std::size_t i = first; i < last; ++i) peak = std::max(peak, std::abs(int{c.samples[i]}));
    return peak;
  }

  testing_support::TempDir dir_;
  std::string soundFont_ = dir_.File("test.sf2");
};

// Two seconds of music at 120 beats a minute: one note four beats long.
MidiFile TwoSecondNote() {
  MidiFile file;
  file.Track().Tempo(0, k120Bpm).Note(0, 0, 60, 100, 4 * kQuarter);
  return file;
}

TEST_F(EngineRenderingTest, TheTempoSettingScalesTheRenderingAndTheNotificationComesAfterTheLastNote) {
  const std::string path = Write("two.mid", TwoSecondNote());
  for (const auto& [position, factor] : {std::pair{0u, 0.5}, std::pair{50u, 1.0}, std::pair{100u, 1.5}}) {
    SCOPED_TRACE(position);
    const Conversion c = Convert(path, position);
    ASSERT_EQ(c.hr, S_OK);
    const double musicSeconds = 2.0 / factor;
    // Option 2 comes once the note has ended and faded (release 0.1 s), at the
    // poll after it.
    EXPECT_GE(c.almostEndMs, static_cast<int>(musicSeconds * 1000));
    EXPECT_LE(c.almostEndMs, static_cast<int>(musicSeconds * 1000) + 600);
    // The recording holds the music up to the notification and StopMIDI's 700 ms.
    EXPECT_NEAR(c.recordedSeconds, c.almostEndMs / 1000.0 + 0.7, 0.25);
    // The note sounds until its end.
    EXPECT_GT(Peak(c, musicSeconds - 0.2, musicSeconds - 0.05), 1000);
  }
}

TEST_F(EngineRenderingTest, NotificationsArriveInOrderAndOnlyAlmostEndEndsTheRendering) {
  const std::string path = Write("two.mid", TwoSecondNote());
  const Conversion c = Convert(path, 50, nullptr, false);
  ASSERT_EQ(c.hr, S_OK);
  EXPECT_EQ(c.options, (std::vector<int>{DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGALMOSTEND,
                                         DMUS_NOTIFICATION_SEGEND}));
  EXPECT_GE(c.almostEndMs, 2000);
}

TEST_F(EngineRenderingTest, TheMusicToolStandsFirstAndSeesEveryNotePatchAndMidiMessage) {
  MidiFile file;
  file.Track().Tempo(0, k120Bpm);
  file.Track()
      .Event(0, {0xC0, 5})
      .Event(0, {0xB0, 7, 100})
      .Note(0, 0, 60, 100, kQuarter / 2)
      .Note(0, 0, 62, 90, kQuarter / 2)
      .Event(0, {0xE0, 0x00, 0x50});
  file.Track()
      .Event(0, {0xC1, 12})
      .Event(0, {0xB1, 10, 20})
      .Note(kQuarter / 4, 1, 64, 80, kQuarter)
      .Note(0, 1, 67, 80, kQuarter / 2)
      .Note(0, 1, 69, 70, kQuarter / 4);
  const std::string path = Write("mixed.mid", file);

  CountingTool counter;
  ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  platform::ComPtr<IDirectMusicTool> first;
  ASSERT_EQ(g_EngineState.pGraph->GetTool(0, first.Put()), S_OK);
  EXPECT_EQ(first.Get(), static_cast<IDirectMusicTool*>(g_EngineState.pMusicTool.Get()));
  ASSERT_EQ(StopMIDI(), S_OK);

  // The counter stands right behind the music tool: it sees what the tool passed on.
  const Conversion c = Convert(path, 50, &counter);
  ASSERT_EQ(c.hr, S_OK);
  EXPECT_EQ(counter.notes.load(), 5);
  EXPECT_EQ(counter.patches.load(), 2);
  EXPECT_EQ(counter.midiMessages,
            (std::map<std::uint32_t, int>{{0xB00764, 1}, {0xE00050, 1}, {0xB10A14, 1}}));
}

TEST_F(EngineRenderingTest, AnAuditionPlaysPacedByTheClockWithoutNotifications) {
  MidiFile file;
  file.Track().Tempo(0, k120Bpm).Note(0, 0, 60, 100, 8 * kQuarter);
  const std::string path = Write("four.mid", file);
  ASSERT_EQ(StopMIDI(), S_OK);
  ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  ASSERT_EQ(LoadMIDI(path.c_str()), S_OK);
  ASSERT_EQ(PlayMIDI(FALSE), S_OK);

  REFERENCE_TIME before = 0, after = 0;
  g_EngineState.pPerformance->GetTime(&before, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  g_EngineState.pPerformance->GetTime(&after, nullptr);
  // The clock runs (with the sound device or paced without one), and not ahead
  // of the music the way an off-line rendering would.
  EXPECT_GT(after - before, 0);
  EXPECT_LT(after - before, 30'000'000);
  EXPECT_EQ(GetNotifyMIDI(), -1);
  EXPECT_EQ(StopMIDI(), S_OK);
}

// A file the loader cannot play fails LoadMIDI with the loader's code, keeps the
// segment loaded before and leaves the log's level where it was.
TEST_F(EngineRenderingTest, MalformedFilesFailLoadCleanly) {
  const std::string good = Write("good.mid", TwoSecondNote());
  ASSERT_EQ(LoadMIDI(good.c_str()), S_OK);
  IDirectMusicSegment8* loaded = g_EngineState.pSegment.Get();

  auto bytes = [](std::initializer_list<int> list) { return std::string(list.begin(), list.end()); };
  const std::string header = bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0x00});
  MidiFile endless;
  endless.Track().Note(0, 0, 60, 100, 1).Note(0x0FFFFFFF, 0, 60, 100, 1).Note(0x0FFFFFFF, 0, 60, 100, 1);
  const std::vector<std::uint8_t> endlessBytes = endless.Bytes();
  const std::pair<const char*, std::string> rows[] = {
      {"empty", ""},
      {"text", "This is not a MIDI file at all, just some words.\n"},
      {"header only", header},
      {"track past the end", header + bytes({'M', 'T', 'r', 'k', 0, 0, 0x10, 0, 0})},
      {"no music", header + bytes({'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0})},
      {"lasts for days", std::string(endlessBytes.begin(), endlessBytes.end())},
      {"cut in the header", "MThd\0\0"},
  };
  for (const auto& [name, content] : rows) {
    SCOPED_TRACE(name);
    const std::string path = dir_.File(std::string(name) + ".mid");
    testing_support::WriteFileBytes(path, content);
    g_DebugLog.IndentUp();
    EXPECT_TRUE(FAILED(LoadMIDI(path.c_str())));
    EXPECT_EQ(g_DebugLog.Indent(), 1);
    g_DebugLog.IndentDown();
    EXPECT_EQ(g_EngineState.pSegment.Get(), loaded);
  }
  EXPECT_TRUE(FAILED(LoadMIDI(dir_.File("missing.mid").c_str())));
  EXPECT_EQ(g_EngineState.pSegment.Get(), loaded);

  const std::string log = testing_support::ReadFileBytes(dir_.File("log.txt"));
  std::size_t failures = 0;
  for (std::size_t at = 0; (at = log.find("    pLoader->GetObject - FAILED\r\n        hr = 0x", at)) != std::string::npos;
       ++at)
    ++failures;
  EXPECT_EQ(failures, std::size(rows));
}

TEST_F(EngineRenderingTest, AFileCutShortPlaysWhatWasReadAndTheLogSaysSo) {
  std::vector<std::uint8_t> bytes = TwoSecondNote().Bytes();
  bytes.resize(bytes.size() - 6);  // the note-off and the end of the track are gone
  const std::string path = dir_.File("cut.mid");
  testing_support::WriteFileBytes(path, std::string(bytes.begin(), bytes.end()));
  g_DebugLog.CreateLogFile(dir_.File("log.txt").c_str());
  ASSERT_EQ(LoadMIDI(path.c_str()), S_OK);
  EXPECT_EQ(testing_support::ReadFileBytes(dir_.File("log.txt")),
            "LoadMIDI\r\n    The file is cut short: what was read will play");
}

TEST_F(EngineRenderingTest, ASoundFontThatCannotBeLoadedIsNamedWithTheReason) {
  // A SoundFont cut short: its header promises more than the file holds.
  const std::string whole = testing_support::ReadFileBytes(soundFont_);
  const std::string broken = std::filesystem::canonical(dir_.Path()).string() + "/broken.sf2";
  testing_support::WriteFileBytes(broken, whole.substr(0, whole.size() / 2));
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{
      {broken, platform::GuidFromName(broken), u"FluidSynth: broken", platform::SoundFontPortFlags(),
       DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH}});
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ConfigureSynthesizer(0, 50), E_FAIL);
  const std::string echo = ::testing::internal::GetCapturedStderr();

  const std::string named = "SoundFont " + broken + " cannot be loaded: ";
  const std::vector<std::string> lines = testing_support::ReadLogLines(dir_.File("log.txt"));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "    pPerformance->InitAudio - FAILED");
  EXPECT_EQ(lines.back().rfind("    " + named, 0), 0u) << lines.back();
  EXPECT_GT(lines.back().size(), named.size() + 4) << "no reason given";
  EXPECT_NE(echo.find(named), std::string::npos) << echo;
}

}  // namespace
