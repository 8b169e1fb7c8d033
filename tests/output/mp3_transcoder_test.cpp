#include "output/mp3_transcoder.h"

#include <gtest/gtest.h>
#include <mpg123.h>
#include <sys/resource.h>

#include <csignal>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "output/wave_file.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

constexpr double kPi = 3.14159265358979323846;
// LAME's encoder delay (576 samples plus the 529 of its filter bank) at the output
// rate; a decoder without gapless information plays it in front of the audio.
constexpr long kEncoderDelay = 576 + 529;

// Writes a WAV with CWaveFile: a sine of frequency Hz on the left, silence on the right.
void WriteToneWav(const std::string& path, DWORD rate, long frames, double frequency) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 4;
  format.nAvgBytesPerSec = rate * 4;
  std::vector<BYTE> data(static_cast<std::size_t>(frames) * 4);
  for (long i = 0; i < frames; ++i) {
    const auto left = static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * kPi * frequency * i / rate)));
    data[i * 4] = static_cast<BYTE>(left & 0xFF);
    data[i * 4 + 1] = static_cast<BYTE>((left >> 8) & 0xFF);
  }
  CWaveFile file;
  ASSERT_EQ(file.Open(path.c_str(), &format, WAVEFILE_WRITE), S_OK);
  DWORD written = 0;
  const BYTE none = 0;
  ASSERT_EQ(file.Write(static_cast<DWORD>(data.size()), data.empty() ? &none : data.data(), &written), S_OK);
  ASSERT_EQ(file.Close(), S_OK);
}

struct Decoded {
  bool ok = false;
  long rate = 0;
  int channels = 0;
  std::vector<std::int16_t> samples;  // interleaved
  long Frames() const { return channels > 0 ? static_cast<long>(samples.size()) / channels : 0; }
};

// Decodes a whole MP3 file with libmpg123 to 16-bit samples.
Decoded Decode(const std::string& path) {
  Decoded out;
  int error = MPG123_OK;
  mpg123_handle* handle = mpg123_new(nullptr, &error);
  if (handle == nullptr) return out;
  mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  if (mpg123_open(handle, path.c_str()) == MPG123_OK) {
    int encoding = 0;
    if (mpg123_getformat(handle, &out.rate, &out.channels, &encoding) == MPG123_OK &&
        encoding == MPG123_ENC_SIGNED_16) {
      unsigned char buffer[16384];
      std::size_t done = 0;
      for (;;) {
        const int result = mpg123_read(handle, buffer, sizeof buffer, &done);
        const auto* samples = reinterpret_cast<const std::int16_t*>(buffer);
        out.samples.insert(out.samples.end(), samples, samples + done / 2);
        if (result == MPG123_DONE) {
          out.ok = true;
          break;
        }
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT) break;
      }
    }
    mpg123_close(handle);
  }
  mpg123_delete(handle);
  return out;
}

double Rms(const Decoded& decoded, int channel) {
  double sum = 0;
  for (long i = 0; i < decoded.Frames(); ++i) {
    const double v = decoded.samples[i * decoded.channels + channel];
    sum += v * v;
  }
  return decoded.Frames() > 0 ? std::sqrt(sum / decoded.Frames()) : 0;
}

// The pitch of a channel from its rising zero crossings (with hysteresis), away
// from the encoder's delay at the start and the padding at the end.
double Frequency(const Decoded& decoded, int channel) {
  const long first = 4096;
  const long last = decoded.Frames() - 4096;
  long crossings = 0;
  bool low = false;
  for (long i = first; i < last; ++i) {
    const int v = decoded.samples[i * decoded.channels + channel];
    if (v < -2000) low = true;
    if (low && v > 2000) {
      ++crossings;
      low = false;
    }
  }
  return last > first ? static_cast<double>(crossings) * decoded.rate / (last - first) : 0;
}

class Mp3TranscoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logPath_ = dir_.File("log.txt");
    g_DebugLog.CreateLogFile(logPath_.c_str());
  }
  std::string Log() const { return ReadFileBytes(logPath_); }

  TempDir dir_;
  std::string logPath_;
};

TEST_F(Mp3TranscoderTest, ResamplesTwoSecondsToTheChosenRateAndKeepsTheAudio) {
  const std::string wav = dir_.File("in.wav");
  WriteToneWav(wav, 44100, 88200, 440);
  const std::string mp3 = dir_.File("out.mp3");
  EXPECT_EQ(wavtomp3(wav.c_str(), mp3.c_str(), 44100, 22050), 0);
  EXPECT_EQ(Log(), "wavtomp3\r\n    ok");

  const Decoded decoded = Decode(mp3);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, 22050);
  EXPECT_EQ(decoded.channels, 2);
  // 22,050 Hz is MPEG-2: 576 samples a frame.
  const long expected = 44100;
  EXPECT_GE(decoded.Frames(), expected);
  EXPECT_LE(decoded.Frames(), expected + 576 + kEncoderDelay);
  // The tone stays on the left at its pitch; the right stays (almost) silent.
  EXPECT_GT(Rms(decoded, 0), 5000);
  EXPECT_LT(Rms(decoded, 1), 200);
  EXPECT_NEAR(Frequency(decoded, 0), 440, 15);
}

TEST_F(Mp3TranscoderTest, KeepsTheRateWhenInputAndOutputAgree) {
  const std::string wav = dir_.File("in.wav");
  WriteToneWav(wav, 44100, 44100 + 333, 1000);
  const std::string mp3 = dir_.File("out.mp3");
  ASSERT_EQ(wavtomp3(wav.c_str(), mp3.c_str(), 44100, 44100), 0);
  const Decoded decoded = Decode(mp3);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, 44100);
  EXPECT_GE(decoded.Frames(), 44100 + 333);
  EXPECT_LE(decoded.Frames(), 44100 + 333 + 1152 + kEncoderDelay);
  EXPECT_NEAR(Frequency(decoded, 0), 1000, 25);
}

TEST_F(Mp3TranscoderTest, UpsamplingFromALowRateWorks) {
  const std::string wav = dir_.File("in.wav");
  WriteToneWav(wav, 11025, 11025, 300);
  const std::string mp3 = dir_.File("out.mp3");
  ASSERT_EQ(wavtomp3(wav.c_str(), mp3.c_str(), 11025, 48000), 0);
  const Decoded decoded = Decode(mp3);
  ASSERT_TRUE(decoded.ok);
  EXPECT_EQ(decoded.rate, 48000);
  EXPECT_GE(decoded.Frames(), 48000);
  EXPECT_NEAR(Frequency(decoded, 0), 300, 15);
}

TEST_F(Mp3TranscoderTest, AnEmptyRecordingGivesOnlyTheFlushedSilence) {
  const std::string wav = dir_.File("empty.wav");
  WriteToneWav(wav, 44100, 0, 440);
  const std::string mp3 = dir_.File("empty.mp3");
  // The worker's reserved name may hold older bytes; they are replaced.
  WriteFileBytes(mp3, std::string(200000, 'x'));
  ASSERT_EQ(wavtomp3(wav.c_str(), mp3.c_str(), 44100, 44100), 0);
  const auto size = std::filesystem::file_size(mp3);
  EXPECT_GT(size, 0u);
  EXPECT_LT(size, 2000u);
  // One frame (128 kbit/s at 44.1 kHz: 417 bytes) of the encoder's padding, which a
  // decoder plays as nothing: no ID3 tag, no Xing/Info frame.
  const std::string bytes = ReadFileBytes(mp3);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]) & 0xE0, 0xE0);
  EXPECT_EQ(bytes.find("Xing"), std::string::npos);
  EXPECT_EQ(bytes.find("Info"), std::string::npos);
  const Decoded decoded = Decode(mp3);
  EXPECT_LE(decoded.Frames(), 1152);
  EXPECT_EQ(Rms(decoded, 0), 0);
}

TEST_F(Mp3TranscoderTest, InputsThatCannotBeEncodedFailAndLeaveNoMp3) {
  const std::string mp3 = dir_.File("out.mp3");
  testing::internal::CaptureStderr();
  EXPECT_LT(wavtomp3(dir_.File("absent.wav").c_str(), mp3.c_str(), 44100, 44100), 0);
  EXPECT_FALSE(std::filesystem::exists(mp3));

  // Mono, 8-bit, float and cut-off headers are refused before anything is written.
  const std::string good = dir_.File("good.wav");
  WriteToneWav(good, 44100, 1000, 440);
  const std::string header = ReadFileBytes(good);
  const std::vector<std::pair<std::size_t, char>> faults{{22, 1}, {34, 8}, {20, 3}, {36, 'F'}, {48, 'D'}, {8, 'X'}};
  for (const auto& [offset, value] : faults) {
    std::string bad = header;
    bad[offset] = value;
    WriteFileBytes(dir_.File("bad.wav"), bad);
    EXPECT_LT(wavtomp3(dir_.File("bad.wav").c_str(), mp3.c_str(), 44100, 44100), 0) << offset;
    EXPECT_FALSE(std::filesystem::exists(mp3)) << offset;
  }
  WriteFileBytes(dir_.File("cut.wav"), header.substr(0, 40));
  EXPECT_LT(wavtomp3(dir_.File("cut.wav").c_str(), mp3.c_str(), 44100, 44100), 0);
  EXPECT_FALSE(std::filesystem::exists(mp3));

  // A rate the encoder refuses: the MP3 it had started is removed.
  EXPECT_LT(wavtomp3(good.c_str(), mp3.c_str(), 44100, 12345), 0);
  EXPECT_FALSE(std::filesystem::exists(mp3));
  const std::string echoed = testing::internal::GetCapturedStderr();
  EXPECT_NE(echoed.find("FAILED"), std::string::npos);
  EXPECT_EQ(Log().find("    ok"), std::string::npos);
  EXPECT_NE(Log().find("absent.wav\" - FAILED"), std::string::npos);
}

TEST_F(Mp3TranscoderTest, AnUnwritableOutputFailsAndLeavesNoMp3) {
  const std::string wav = dir_.File("in.wav");
  WriteToneWav(wav, 44100, 88200, 440);
  testing::internal::CaptureStderr();
  const std::string missingFolder = dir_.File("no-such-folder/out.mp3");
  EXPECT_LT(wavtomp3(wav.c_str(), missingFolder.c_str(), 44100, 44100), 0);
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "no-such-folder"));
  EXPECT_LT(wavtomp3(wav.c_str(), "/sys/halvane-test.mp3", 44100, 44100), 0);

  // A disk that fills up during the encoding: the partial MP3 is removed.
  const std::string mp3 = dir_.File("full.mp3");
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const HRESULT hr = wavtomp3(wav.c_str(), mp3.c_str(), 44100, 44100);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  testing::internal::GetCapturedStderr();
  EXPECT_LT(hr, 0);
  EXPECT_FALSE(std::filesystem::exists(mp3));
}

}  // namespace
