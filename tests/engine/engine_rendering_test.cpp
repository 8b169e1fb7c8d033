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
#include "tests/platform/dmusic/counting_tool.h"
#include "tests/platform/dmusic/fake_effect.h"
#include "tests/platform/dmusic/test_media.h"
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
        {real, platform::GuidFromName(real), u"FluidSynth: test", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS,
         DMUS_PORT_USER_MODE_SYNTH}});
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
  EXPECT_EQ(c.options,
            (std::vector<int>{DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGALMOSTEND, DMUS_NOTIFICATION_SEGEND}));
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
  EXPECT_EQ(counter.midiMessages, (std::map<std::uint32_t, int>{{0xB00764, 1}, {0xE00050, 1}, {0xB10A14, 1}}));
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
// segment loaded before, leaves the log's level where it was, and says why: in
// the log, on a line of its own under the failure's two lines, and to the caller.
TEST_F(EngineRenderingTest, MalformedFilesFailLoadCleanlyAndSayWhy) {
  const std::string good = Write("good.mid", TwoSecondNote());
  ASSERT_EQ(LoadMIDI(good.c_str()), S_OK);
  IDirectMusicSegment8* loaded = g_EngineState.pSegment.Get();

  auto bytes = [](std::initializer_list<int> list) { return std::string(list.begin(), list.end()); };
  const std::string header = bytes({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0x00});
  MidiFile endless;
  endless.Track().Note(0, 0, 60, 100, 1).Note(0x0FFFFFFF, 0, 60, 100, 1).Note(0x0FFFFFFF, 0, 60, 100, 1);
  const std::vector<std::uint8_t> endlessBytes = endless.Bytes();
  struct Row {
    const char* name;
    std::string content;
    const char* reason;  // a part of the reason given
  };
  const Row rows[] = {
      {"empty", "", "the file is empty"},
      {"text", "This is not a MIDI file at all, just some words.\n", "not a Standard MIDI file"},
      {"header only", header, "holds no track"},
      {"track past the end", header + bytes({'M', 'T', 'r', 'k', 0, 0, 0x10, 0, 0}), "cut short before any music"},
      {"no music", header + bytes({'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0}), "holds no music"},
      {"long number", header + bytes({'M', 'T', 'r', 'k', 0, 0, 0, 5, 0x81, 0x81, 0x81, 0x81, 0}),
       "a variable-length number runs over 4 bytes"},
      {"lasts for days", std::string(endlessBytes.begin(), endlessBytes.end()), "longer than the"},
      {"cut in the header", std::string("MThd\0\0", 6), "ends inside its header"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir_.File(std::string(row.name) + ".mid");
    testing_support::WriteFileBytes(path, row.content);
    g_DebugLog.CreateLogFile(dir_.File("log.txt").c_str());
    g_DebugLog.IndentUp();
    EXPECT_TRUE(FAILED(LoadMIDI(path.c_str())));
    EXPECT_EQ(g_DebugLog.Indent(), 1);
    g_DebugLog.IndentDown();
    EXPECT_EQ(g_EngineState.pSegment.Get(), loaded);
    const std::string reason = GetLoadFailureMIDI();
    EXPECT_NE(reason.find(row.reason), std::string::npos) << reason;
    const std::vector<std::string> lines = testing_support::ReadLogLines(dir_.File("log.txt"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "        pLoader->GetObject - FAILED");
    EXPECT_EQ(lines[2].rfind("        hr = 0x", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "        " + reason);
  }
  EXPECT_TRUE(FAILED(LoadMIDI(dir_.File("missing.mid").c_str())));
  EXPECT_EQ(GetLoadFailureMIDI(), "there is no such file");
  // A name that is not UTF-8 text is not taken for a missing file.
  const std::string latin1 = dir_.File("fr\xe8re.mid");
  std::filesystem::copy_file(good, latin1);
  EXPECT_TRUE(FAILED(LoadMIDI(latin1.c_str())));
  EXPECT_EQ(GetLoadFailureMIDI(), "the file name is not valid UTF-8 text");
  EXPECT_EQ(g_EngineState.pSegment.Get(), loaded);
  ASSERT_EQ(LoadMIDI(good.c_str()), S_OK);
  EXPECT_EQ(GetLoadFailureMIDI(), "");
}

// Damage that other players forgive plays, and the log says once what was wrong.
TEST_F(EngineRenderingTest, DamagedFilesThatPlayElsewherePlayAndTheLogSaysSo) {
  std::vector<std::uint8_t> bytes = TwoSecondNote().Bytes();
  bytes.resize(bytes.size() - 6);  // the note-off and the end of the track are gone
  const std::string cut = dir_.File("cut.mid");
  testing_support::WriteFileBytes(cut, std::string(bytes.begin(), bytes.end()));
  g_DebugLog.CreateLogFile(dir_.File("log.txt").c_str());
  ASSERT_EQ(LoadMIDI(cut.c_str()), S_OK);
  EXPECT_EQ(testing_support::ReadFileBytes(dir_.File("log.txt")),
            "LoadMIDI\r\n    The file is cut short: what was read will play\r\n"
            "    Repaired: track 1: 1 note(s) without a note-off held to the end of the track\r\n"
            "    Repaired: track 1: the file was cut short inside this track; what was read plays");
  EXPECT_EQ(GetLoadRepairsMIDI().size(), 2u);

  // Controller values of FF (a published song has them): the song plays on.
  MidiFile file;
  file.Track().Tempo(0, k120Bpm).Event(0, {0xB0, 7, 0xFF}).Note(0, 0, 60, 100, kQuarter).Event(0, {0xB0, 10, 0xC0});
  file.Note(0, 0, 62, 100, kQuarter);
  const std::string loud = Write("ff.mid", file);
  g_DebugLog.CreateLogFile(dir_.File("log.txt").c_str());
  ASSERT_EQ(LoadMIDI(loud.c_str()), S_OK);
  MUSIC_TIME length = 0;
  ASSERT_EQ(g_EngineState.pSegment->GetLength(&length), S_OK);
  EXPECT_EQ(length, static_cast<MUSIC_TIME>(2 * kQuarter));
  EXPECT_EQ(testing_support::ReadFileBytes(dir_.File("log.txt")),
            "LoadMIDI\r\n    The file holds data bytes out of range: each is read as 127\r\n"
            "    Repaired: track 1: data bytes above 127 in channel messages read as 127 (2 times)");
}

// A rendering too loud for 16 bits comes out clamped, never wrapped around, and
// the log says how many samples were clipped, once.
TEST_F(EngineRenderingTest, AClippingRenderingIsClampedAndItsCountLogged) {
  MidiFile file;
  file.Track().Tempo(0, k120Bpm);
  for (int channel = 0; channel < 16; ++channel) {
    if (channel == 9) continue;
    file.Event(0, {static_cast<std::uint8_t>(0xB0 | channel), 7, 127});
    file.Event(0, {static_cast<std::uint8_t>(0x90 | channel), 60, 127});
  }
  file.Event(2 * kQuarter, {0x80, 60, 0});
  const Conversion c = Convert(Write("loud.mid", file), 50);
  ASSERT_EQ(c.hr, S_OK);
  std::size_t atTheLimits = 0;
  int jump = 0;
  for (std::size_t i = 0; i < c.samples.size(); ++i) {
    if (c.samples[i] == 32767 || c.samples[i] == -32768) ++atTheLimits;
    if (i >= 2) jump = std::max(jump, std::abs(c.samples[i] - c.samples[i - 2]));
  }
  EXPECT_GT(atTheLimits, 1000u);
  EXPECT_LT(jump, 16384);  // a wrapped sample jumps across the whole range
  std::vector<std::string> clipped;
  for (const std::string& line : testing_support::ReadLogLines(dir_.File("log.txt")))
    if (line.find("samples were clipped") != std::string::npos) clipped.push_back(line);
  ASSERT_EQ(clipped.size(), 1u);
  EXPECT_EQ(clipped[0], "    " + std::to_string(atTheLimits) + " samples were clipped to the 16-bit range");
}

// An aborted conversion stops while the music sounds: the recording fades out
// over its last milliseconds instead of ending in a step.
TEST_F(EngineRenderingTest, AnAbortedRecordingFadesOutAtItsEnd) {
  MidiFile file;
  file.Track().Tempo(0, k120Bpm).Note(0, 0, 60, 100, 16 * kQuarter);
  ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  ASSERT_EQ(LoadMIDI(Write("long.mid", file).c_str()), S_OK);
  ASSERT_EQ(AttachRecorder(), S_OK);
  ASSERT_EQ(PlayMIDI(TRUE), S_OK);
  for (int poll = 0; poll < 10; ++poll) {
    EXPECT_NE(GetNotifyMIDI(), 2);
    platform::Sleep(100);
  }
  ASSERT_EQ(StopMIDI(), S_OK);
  const std::vector<std::uint8_t> bytes = dmusic_test::TheEffectRecord().Bytes();
  ASSERT_EQ(bytes.size(), 44100u * 17 / 10 * 4);
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), bytes.size());
  int before = 0;
  for (std::size_t i = samples.size() - 4410 * 2; i < samples.size() - 441 * 2; ++i)
    before = std::max(before, std::abs(int{samples[i]}));
  EXPECT_GT(before, 1000);
  EXPECT_LE(std::abs(int{samples.back()}), before / 100);
  EXPECT_LE(std::abs(int{samples[samples.size() - 2]}), before / 100);
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
