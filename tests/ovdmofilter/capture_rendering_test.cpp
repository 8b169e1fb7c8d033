// A real rendering with the capture effect attached, read back through the
// capture interface of the instance FindFilter created (not the one in the buffer).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/capture_attachment.h"
#include "engine/music_engine.h"
#include "engine/segment_playback.h"
#include "engine/engine_state.h"
#include "output/mp3_transcoder.h"
#include "output/recording_mp3_encoder.h"
#include "output/save_file_wav.h"
#include "platform/core/kernel.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/engine_classes.h"
#include "platform/dmusic/port_table.h"
#include "platform/synth/synthesizer.h"
#include "platform/shell/shell.h"
#include "tests/ovdmofilter/capture_fixture.h"
#include "tests/platform/dmusic/test_media.h"
#include "tests/support/temp_dir.h"

namespace {

using capture_test::RunProgram;

constexpr double kReleaseSeconds = 0.1;

struct Recording {
  HRESULT hr = S_OK;
  DWORD polledMs = 0;  // the worker-style waits before the end of the music
  WAVEFORMATEX format{};
  std::vector<BYTE> bytes;
};

class CaptureRenderingTest : public CaptureFixture {
 protected:
  static void SetUpTestSuite() { ::setenv("HALVANE_AUDIO_DRIVER", "none", 1); }

  void SetUp() override {
    CaptureFixture::SetUp();
    soundFont_ = dir_.File("sine.sf2");
    dmusic_test::WriteTestSoundFont(soundFont_, kReleaseSeconds);
    platform::SetPortTableForTesting(std::vector<platform::PortInfo>{{soundFont_, platform::GuidFromName(soundFont_),
                                                                      u"Sine", platform::SoundFontPortFlags(),
                                                                      DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH}});
    platform::RegisterMusicEngineClasses();
    ASSERT_EQ(RunProgram(kRegistrationProgram, {"/s", "OVDMOFilter.dll"}), 0);
    ASSERT_EQ(InitDirectMusic(nullptr), S_OK);
    ASSERT_EQ(FindFilter(), S_OK);
  }
  void TearDown() override {
    RemoveDirectMusic();
    platform::SetPortTableForTesting(std::nullopt);
    CaptureFixture::TearDown();
  }

  // Two seconds of music at 120 beats a minute: four quarter notes, the last one
  // ending with the music.
  std::string FourQuarters() {
    const std::string file = dir_.File("four.mid");
    dmusic_test::MidiFile midi;
    midi.Tempo(0, 500000);
    for (int i = 0; i < 4; ++i) midi.Note(0, 0, 60 + 2 * i, 110, 768);
    midi.Write(file);
    return file;
  }

  // Configures, loads, attaches and plays file; false on a failure.
  static bool Play(const std::string& file) {
    return ConfigureSynthesizer(0, 50) == S_OK && LoadMIDI(file.c_str()) == S_OK && RemoveFilter() == S_OK &&
           SetFilter() == S_OK && PlayMIDI(TRUE) == S_OK;
  }
  // Renders until the music is almost at its end, then stops it with its tail.
  static void RenderToTheEnd() {
    for (int ms = 0; GetNotifyMIDI() != 2 && ms < 60000; ms += 100) platform::Sleep(100);
    RemoveNotifyMIDI();
    StopMIDI();
  }

  // Converts as the worker does and reads the recording back as saving does.
  static Recording Convert(const std::string& file, DWORD tempoPosition) {
    Recording r;
    if (FAILED(r.hr = ConfigureSynthesizer(0, tempoPosition))) return r;
    if (FAILED(r.hr = LoadMIDI(file.c_str()))) return r;
    if (FAILED(r.hr = RemoveFilter())) return r;
    if (FAILED(r.hr = SetFilter())) return r;
    if (FAILED(r.hr = PlayMIDI(TRUE))) return r;
    while (GetNotifyMIDI() != 2 && r.polledMs < 60000) {
      platform::Sleep(100);
      r.polledMs += 100;
    }
    RemoveNotifyMIDI();
    if (FAILED(r.hr = StopMIDI())) return r;
    ICapturedAudio* capture = g_EngineState.pFilterCapture.Get();
    DWORD size = 0;
    capture->GetDataSize(&size);
    capture->GetFormat(&g_CaptureRecord);
    r.format = g_CaptureRecord.wfx;
    r.bytes.resize(size);
    capture->CopyData(r.bytes.data(), size);
    return r;
  }

  static int Peak(const std::vector<BYTE>& pcm) {
    int peak = 0;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
      peak = std::max(peak, std::abs(static_cast<int>(static_cast<std::int16_t>(pcm[i] | pcm[i + 1] << 8))));
    return peak;
  }

  std::string soundFont_;
};

TEST_F(CaptureRenderingTest, RecordingHoldsTheMusicAtTheMasterTempoWithReleaseAndTail) {
  const std::string file = FourQuarters();
  for (DWORD position : {50u, 100u, 0u}) {
    SCOPED_TRACE(position);
    const Recording r = Convert(file, position);
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_EQ(r.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(r.format.nSamplesPerSec, static_cast<DWORD>(platform::Synthesizer::kSampleRate));
    EXPECT_EQ(r.format.wBitsPerSample, 16);
    EXPECT_EQ(r.format.nChannels, 2);
    EXPECT_EQ(r.format.nBlockAlign, 4);
    EXPECT_GT(Peak(r.bytes), 1000);

    // The waits drive the clock: every millisecond waited is in the recording,
    // from the polls up to the end of the music and its release, then the tail.
    const double musicMs = 2000.0 / (position / 100.0 + 0.5);
    EXPECT_GE(r.polledMs, musicMs);
    EXPECT_LE(r.polledMs, musicMs + kReleaseSeconds * 1000 + 300);
    const std::size_t frames = static_cast<std::size_t>(r.polledMs + kStopTailMs) * r.format.nSamplesPerSec / 1000;
    EXPECT_EQ(r.bytes.size(), frames * 4);
  }
}

TEST_F(CaptureRenderingTest, SecondRunGivesTheSameBytesAndReattachingStartsEmpty) {
  const std::string file = FourQuarters();
  const Recording first = Convert(file, 50);
  const Recording second = Convert(file, 50);
  ASSERT_EQ(first.hr, S_OK);
  ASSERT_EQ(second.hr, S_OK);
  ASSERT_FALSE(first.bytes.empty());
  EXPECT_EQ(first.bytes.size(), second.bytes.size());
  EXPECT_TRUE(first.bytes == second.bytes);
  // Where they part, to tell a reset problem (early) from a timing one (late).
  for (std::size_t i = 0; i < first.bytes.size(); ++i)
    if (first.bytes[i] != second.bytes[i]) {
      ADD_FAILURE() << "first difference at frame " << i / 4 << " of " << first.bytes.size() / 4;
      break;
    }

  // A new configuration with the effect attached again: nothing recorded yet.
  ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  ASSERT_EQ(RemoveFilter(), S_OK);
  ASSERT_EQ(SetFilter(), S_OK);
  DWORD size = 1;
  g_EngineState.pFilterCapture->GetDataSize(&size);
  EXPECT_EQ(size, 0u);
  StopMIDI();
}

TEST_F(CaptureRenderingTest, Mp3EncodedWhileRecordingIsByteForByteTheSavedWavsEncoding) {
  using testing_support::ReadFileBytes;
  // Eight seconds of music: many of the encoder's waits, the last one short.
  const std::string file = dmusic_test::WriteQuarterNotes(dir_.File("eight.mid"), 8);
  ASSERT_TRUE(Play(file));
  std::unique_ptr<RecordingMp3Encoder> encoder = RecordingMp3Encoder::Start(22050);
  ASSERT_NE(encoder, nullptr);
  RenderToTheEnd();
  encoder->RecordingEnded();
  const std::string wav = dir_.File("song.wav"), after = dir_.File("after.mp3"),
                    overlapped = dir_.File("overlapped.mp3");
  DWORD rate = 0;
  ASSERT_EQ(SaveFileWAV(wav.c_str(), &rate), S_OK);
  ASSERT_EQ(wavtomp3(wav.c_str(), after.c_str(), static_cast<int>(rate), 22050), S_OK);
  const EncodedMp3& encoded = encoder->Result();
  ASSERT_TRUE(encoded.complete);
  EXPECT_EQ(encoded.soundBytes + 56, std::filesystem::file_size(wav));
  const std::string expected = ReadFileBytes(after);
  ASSERT_GT(expected.size(), 10000u);
  EXPECT_TRUE(std::string(encoded.mp3.begin(), encoded.mp3.end()) == expected);
  ASSERT_EQ(wavtomp3(wav.c_str(), overlapped.c_str(), static_cast<int>(rate), 22050, &encoded), S_OK);
  EXPECT_TRUE(ReadFileBytes(overlapped) == expected);

  // A WAV that is not the sound encoded (one sample changed, or another rate asked
  // for) is encoded itself.
  std::string changed = ReadFileBytes(wav);
  changed[changed.size() / 2] ^= 0x40;
  testing_support::WriteFileBytes(wav, changed);
  ASSERT_EQ(wavtomp3(wav.c_str(), after.c_str(), static_cast<int>(rate), 22050), S_OK);
  ASSERT_EQ(wavtomp3(wav.c_str(), overlapped.c_str(), static_cast<int>(rate), 22050, &encoded), S_OK);
  EXPECT_TRUE(ReadFileBytes(overlapped) == ReadFileBytes(after));
  EXPECT_FALSE(ReadFileBytes(overlapped) == expected);
  ASSERT_EQ(wavtomp3(wav.c_str(), after.c_str(), static_cast<int>(rate), 44100), S_OK);
  ASSERT_EQ(wavtomp3(wav.c_str(), overlapped.c_str(), static_cast<int>(rate), 44100, &encoded), S_OK);
  EXPECT_TRUE(ReadFileBytes(overlapped) == ReadFileBytes(after));
}

TEST_F(CaptureRenderingTest, AnEncoderLeftMidSongOrOverARecordingRestartedStopsWithNothingComplete) {
  const std::string file = FourQuarters();
  // Left while it waits for more of a song that is still playing (Abort).
  ASSERT_TRUE(Play(file));
  auto encoder = RecordingMp3Encoder::Start(44100);
  ASSERT_NE(encoder, nullptr);
  platform::Sleep(500);
  encoder.reset();  // returns: the encoder does not wait for the music's end
  StopMIDI();

  // The effect attached again starts a new recording: the old one's reader stops.
  ASSERT_TRUE(Play(file));
  encoder = RecordingMp3Encoder::Start(44100);
  ASSERT_NE(encoder, nullptr);
  platform::Sleep(300);
  StopMIDI();
  ASSERT_TRUE(Play(file));
  RenderToTheEnd();
  EXPECT_FALSE(encoder->Result().complete);
}

}  // namespace
