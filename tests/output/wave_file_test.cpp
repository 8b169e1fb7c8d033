#include "output/wave_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = bits;
  format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  return format;
}

std::uint32_t Le32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes.at(offset + i));
  return value;
}

std::uint16_t Le16(const std::string& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes.at(offset)) |
                                    (static_cast<std::uint8_t>(bytes.at(offset + 1)) << 8));
}

std::vector<BYTE> Pattern(std::size_t size) {
  std::vector<BYTE> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<BYTE>((i * 7 + i / 251) & 0xFF);
  return data;
}

// Writes data in one call and closes; checks each step.
void WriteWave(const std::string& path, const WAVEFORMATEX& format, const std::vector<BYTE>& data) {
  CWaveFile file;
  ASSERT_EQ(file.Open(path.c_str(), &format, WAVEFILE_WRITE), S_OK);
  DWORD written = 0;
  const BYTE empty = 0;
  ASSERT_EQ(file.Write(static_cast<DWORD>(data.size()), data.empty() ? &empty : data.data(), &written), S_OK);
  EXPECT_EQ(written, data.size());
  ASSERT_EQ(file.Close(), S_OK);
}

// The header fields every written file has, for a data chunk of n bytes.
void ExpectHeader(const std::string& bytes, const WAVEFORMATEX& format, std::uint32_t n) {
  ASSERT_GE(bytes.size(), 56u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(Le32(bytes, 16), 16u);
  EXPECT_EQ(Le16(bytes, 20), 1);
  EXPECT_EQ(Le16(bytes, 22), format.nChannels);
  EXPECT_EQ(Le32(bytes, 24), format.nSamplesPerSec);
  EXPECT_EQ(Le32(bytes, 28), format.nAvgBytesPerSec);
  EXPECT_EQ(Le16(bytes, 32), format.nBlockAlign);
  EXPECT_EQ(Le16(bytes, 34), format.wBitsPerSample);
  EXPECT_EQ(bytes.substr(36, 4), "fact");
  EXPECT_EQ(Le32(bytes, 40), 4u);
  EXPECT_EQ(Le32(bytes, 44), 0u);
  EXPECT_EQ(bytes.substr(48, 4), "data");
  EXPECT_EQ(Le32(bytes, 52), n);
  EXPECT_EQ(bytes.size(), 56u + n + (n & 1));
}

TEST(WaveFileWriter, EmptyRecordingGivesTheBare56ByteHeader) {
  TempDir dir;
  const auto format = Pcm(44100, 2, 16);
  WriteWave(dir.File("empty.wav"), format, {});
  const std::string bytes = ReadFileBytes(dir.File("empty.wav"));
  ASSERT_EQ(bytes.size(), 56u);
  EXPECT_EQ(Le32(bytes, 4), 48u);
  ExpectHeader(bytes, format, 0);
}

TEST(WaveFileWriter, OneSecondOfCdAudioHasTheExpectedSizesAndBytes) {
  TempDir dir;
  const auto format = Pcm(44100, 2, 16);
  const auto data = Pattern(176400);
  WriteWave(dir.File("second.wav"), format, data);
  const std::string bytes = ReadFileBytes(dir.File("second.wav"));
  ASSERT_EQ(bytes.size(), 176456u);
  EXPECT_EQ(Le32(bytes, 4), 176448u);
  ExpectHeader(bytes, format, 176400);
  EXPECT_EQ(bytes.substr(56), std::string(data.begin(), data.end()));
}

TEST(WaveFileWriter, OddDataGetsOneZeroPadByteCountedOnlyByRiff) {
  TempDir dir;
  const auto format = Pcm(22050, 1, 8);
  const auto data = Pattern(8193);  // ends one byte into a second I/O buffer
  WriteWave(dir.File("odd.wav"), format, data);
  const std::string bytes = ReadFileBytes(dir.File("odd.wav"));
  ExpectHeader(bytes, format, 8193);
  EXPECT_EQ(bytes.size(), 56u + 8194u);
  EXPECT_EQ(Le32(bytes, 4), 48u + 8194u);
  EXPECT_EQ(bytes.back(), '\0');
  EXPECT_EQ(bytes.substr(56, 8193), std::string(data.begin(), data.end()));
}

TEST(WaveFileWriter, ReplacesAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("old.wav");
  WriteFileBytes(path, std::string(300000, 'x'));
  const auto format = Pcm(48000, 2, 16);
  WriteWave(path, format, Pattern(1000));
  const std::string bytes = ReadFileBytes(path);
  ExpectHeader(bytes, format, 1000);
  EXPECT_EQ(bytes.size(), 1056u);
}

TEST(WaveFileWriter, ManyMegabytesInOneWriteReadBackEqual) {
  TempDir dir;
  const std::string path = dir.File("big.wav");
  const auto format = Pcm(44100, 2, 16);
  const auto data = Pattern(12 * 1024 * 1024 + 4);
  WriteWave(path, format, data);
  EXPECT_EQ(std::filesystem::file_size(path), 56u + data.size());

  CWaveFile reader;
  ASSERT_EQ(reader.Open(path.c_str(), nullptr, WAVEFILE_READ), S_OK);
  ASSERT_NE(reader.GetFormat(), nullptr);
  EXPECT_EQ(reader.GetFormat()->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(reader.GetFormat()->nSamplesPerSec, 44100u);
  EXPECT_EQ(reader.GetFormat()->nChannels, 2);
  EXPECT_EQ(reader.GetFormat()->wBitsPerSample, 16);
  EXPECT_EQ(reader.GetFormat()->nAvgBytesPerSec, 176400u);
  EXPECT_EQ(reader.GetFormat()->cbSize, 0);
  ASSERT_EQ(reader.GetDataChunkSize(), data.size());
  // Read in uneven pieces, then past the end: only the chunk's bytes come back.
  std::vector<BYTE> back(data.size() + 100);
  DWORD total = 0;
  while (total < back.size()) {
    DWORD read = 0;
    ASSERT_EQ(reader.ReadData(back.data() + total, 100003, &read), S_OK);
    if (read == 0) break;
    total += read;
  }
  ASSERT_EQ(total, data.size());
  back.resize(total);
  EXPECT_TRUE(back == data);
  EXPECT_EQ(reader.Close(), S_OK);
}

TEST(WaveFileWriter, FailedOpenLeavesNothingOpenAndCloseTouchesNothing) {
  TempDir dir;
  const auto format = Pcm(44100, 2, 16);
  CWaveFile file;
  const std::string path = dir.File("missing-folder/out.wav");
  EXPECT_EQ(file.Open(path.c_str(), &format, WAVEFILE_WRITE), E_FAIL);
  EXPECT_EQ(file.Close(), CO_E_NOTINITIALIZED);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing-folder"));
  DWORD written = 7;
  const BYTE byte = 1;
  EXPECT_EQ(file.Write(1, &byte, &written), CO_E_NOTINITIALIZED);

  // A location nobody may create files in (read-only even for the superuser).
  EXPECT_EQ(file.Open("/sys/halvane-test.wav", &format, WAVEFILE_WRITE), E_FAIL);
  EXPECT_EQ(file.Close(), CO_E_NOTINITIALIZED);
}

TEST(WaveFileWriter, AFullDiskFailsTheWriteAndTheClose) {
  const auto format = Pcm(44100, 2, 16);
  CWaveFile file;
  // The header fits the I/O buffer, so only the data meets the full disk.
  ASSERT_EQ(file.Open("/dev/full", &format, WAVEFILE_WRITE), S_OK);
  const auto data = Pattern(100000);
  DWORD written = 0;
  EXPECT_EQ(file.Write(static_cast<DWORD>(data.size()), data.data(), &written), E_FAIL);
  EXPECT_LT(written, data.size());
  EXPECT_EQ(file.Close(), E_FAIL);

  // Even bytes that stay in the buffer until Close do not pass silently.
  CWaveFile small;
  ASSERT_EQ(small.Open("/dev/full", &format, WAVEFILE_WRITE), S_OK);
  ASSERT_EQ(small.Write(16, data.data(), &written), S_OK);
  EXPECT_EQ(small.Close(), E_FAIL);
}

TEST(WaveFileReader, AMemoryReaderHandsOutTheBlockAndCannotWrite) {
  const auto format = Pcm(44100, 2, 16);
  BYTE block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  WAVEFORMATEX memoryFormat = format;
  CWaveFile reader;
  EXPECT_EQ(reader.OpenInMemory(block, 8, &memoryFormat, WAVEFILE_WRITE), E_NOTIMPL);
  ASSERT_EQ(reader.OpenInMemory(block, 8, &memoryFormat, WAVEFILE_READ), S_OK);
  DWORD count = 0;
  const BYTE byte = 1;
  EXPECT_EQ(reader.Write(1, &byte, &count), E_NOTIMPL);
  BYTE buffer[6];
  EXPECT_EQ(reader.ReadData(buffer, 6, &count), S_OK);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(reader.ReadData(buffer, 6, &count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(buffer[1], 8);
}

TEST(WaveFileReader, RejectsFilesThatAreNotWaveOrAreCut) {
  TempDir dir;
  const auto format = Pcm(44100, 2, 16);
  WriteWave(dir.File("good.wav"), format, Pattern(4000));
  const std::string good = ReadFileBytes(dir.File("good.wav"));

  CWaveFile reader;
  std::string notWave = good;
  notWave.replace(8, 4, "AVI ");
  WriteFileBytes(dir.File("avi.wav"), notWave);
  EXPECT_EQ(reader.Open(dir.File("avi.wav").c_str(), nullptr, WAVEFILE_READ), E_FAIL);

  std::string shortFmt = good;
  shortFmt[16] = 12;  // "fmt " of 12 bytes
  WriteFileBytes(dir.File("fmt.wav"), shortFmt);
  EXPECT_EQ(reader.Open(dir.File("fmt.wav").c_str(), nullptr, WAVEFILE_READ), E_FAIL);

  WriteFileBytes(dir.File("header.wav"), good.substr(0, 30));
  EXPECT_EQ(reader.Open(dir.File("header.wav").c_str(), nullptr, WAVEFILE_READ), E_FAIL);

  // The data chunk says 4000 bytes but the file stops after 1000 of them.
  WriteFileBytes(dir.File("cut.wav"), good.substr(0, 1056));
  ASSERT_EQ(reader.Open(dir.File("cut.wav").c_str(), nullptr, WAVEFILE_READ), S_OK);
  std::vector<BYTE> buffer(4000);
  DWORD read = 0;
  EXPECT_EQ(reader.ReadData(buffer.data(), 4000, &read), E_FAIL);
  EXPECT_EQ(read, 1000u);
}

}  // namespace
