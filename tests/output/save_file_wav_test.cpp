#include "output/save_file_wav.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "engine/engine_state.h"
#include "platform/com/unknown.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;

// A capture effect that hands out a prepared recording and notes the calls' order.
class FakeCapture final : public ICapturedAudio {
 public:
  FakeCapture(WAVEFORMATEX format, std::vector<BYTE> data, DWORD reportedSize)
      : format_(format), data_(std::move(data)), reportedSize_(reportedSize) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_ICapturedAudio) {
      AddRef();
      *ppv = static_cast<ICapturedAudio*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ref_.Increment(); }
  ULONG Release() override { return ref_.Decrement(); }  // lives on the test's stack

  HRESULT Setup(CaptureRecord*) override { return S_OK; }
  HRESULT GetFormat(CaptureRecord* record) override {
    calls += "GetFormat ";
    record->wfx = format_;
    return S_OK;
  }
  HRESULT GetDataSize(DWORD* size) override {
    calls += "GetDataSize ";
    *size = reportedSize_;
    return S_OK;
  }
  HRESULT CopyData(BYTE* dest, DWORD size) override {
    calls += "CopyData ";
    EXPECT_EQ(size, reportedSize_);
    if (size > 0) std::memcpy(dest, data_.data(), size);
    return S_OK;
  }

  std::string calls;

 private:
  platform::RefCount ref_;
  WAVEFORMATEX format_;
  std::vector<BYTE> data_;
  DWORD reportedSize_;
};

WAVEFORMATEX CdFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = 3;  // the effect's own tag (float) must not reach the file
  format.nChannels = 2;
  format.nSamplesPerSec = 44100;
  format.nAvgBytesPerSec = 176400;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  format.cbSize = 22;
  return format;
}

std::uint32_t Le32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes.at(offset + i));
  return value;
}

class SaveFileWavTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logPath_ = dir_.File("log.txt");
    g_DebugLog.CreateLogFile(logPath_.c_str());
    indent_ = g_DebugLog.Indent();
  }
  // The log is one level deeper only between "SaveFileWAV" and the return.
  void TearDown() override { EXPECT_EQ(g_DebugLog.Indent(), indent_); }

  std::vector<std::string> Log() const { return testing_support::ReadLogLines(logPath_); }

  TempDir dir_;
  std::string logPath_;
  int indent_ = 0;
};

TEST_F(SaveFileWavTest, WritesOneSecondAndLogsEveryStepInOrder) {
  std::vector<BYTE> data(176400);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<BYTE>(i * 13);
  FakeCapture capture(CdFormat(), data, static_cast<DWORD>(data.size()));
  DWORD rate = 0;
  const std::string path = dir_.File("out.wav");
  EXPECT_EQ(SaveCaptureToWav(&capture, path.c_str(), &rate), S_OK);
  EXPECT_EQ(rate, 44100u);
  EXPECT_EQ(capture.calls, "GetDataSize GetFormat CopyData ");

  const auto log = Log();
  ASSERT_EQ(log.size(), 14u);
  EXPECT_EQ(log[0], "SaveFileWAV");
  EXPECT_EQ(log[1], "    FileSize: 176400");
  EXPECT_EQ(log[2].rfind("    pWavMemory: 0x", 0), 0u) << log[2];
  const std::vector<std::string> rest{
      "    SamplesPerSec: 44100",   "    BitsPerSample: 16", "    Channels: 2",         "    BlockAlign: 4",
      "    AvgBytesPerSec: 176400", "    new CWaveFile",     "    CWaveFile.Open - ok", "    CWaveFile.Write - ok",
      "    CWaveFile.Close - ok",   "    Heap Free",         "    delete CWaveFile"};
  EXPECT_EQ(std::vector<std::string>(log.begin() + 3, log.end()), rest);

  const std::string bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 176456u);
  EXPECT_EQ(bytes[20], 1);  // format tag PCM, not the effect's
  EXPECT_EQ(bytes[21], 0);
  EXPECT_EQ(bytes[22], 2);
  EXPECT_EQ(Le32(bytes, 24), 44100u);
  EXPECT_EQ(Le32(bytes, 28), 176400u);
  EXPECT_EQ(bytes[32], 4);
  EXPECT_EQ(bytes[34], 16);
  EXPECT_EQ(Le32(bytes, 52), 176400u);
  EXPECT_EQ(bytes.substr(56), std::string(data.begin(), data.end()));
}

TEST_F(SaveFileWavTest, AnEmptyRecordingGivesAValid56ByteFile) {
  FakeCapture capture(CdFormat(), {}, 0);
  DWORD rate = 0;
  const std::string path = dir_.File("empty.wav");
  EXPECT_EQ(SaveCaptureToWav(&capture, path.c_str(), &rate), S_OK);
  const std::string bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 56u);
  EXPECT_EQ(Le32(bytes, 4), 48u);
  EXPECT_EQ(Le32(bytes, 52), 0u);
  EXPECT_EQ(Log().back(), "    delete CWaveFile");
}

TEST_F(SaveFileWavTest, AMissingFolderFailsButDeliversTheSampleRate) {
  FakeCapture capture(CdFormat(), std::vector<BYTE>(400, 1), 400);
  DWORD rate = 0;
  const std::string path = dir_.File("no-such-folder/out.wav");
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveCaptureToWav(&capture, path.c_str(), &rate), E_FAIL);
  const std::string echoed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rate, 44100u);
  EXPECT_NE(echoed.find("g_pWaveFile->Open - FAILED"), std::string::npos);
  const auto log = Log();
  EXPECT_EQ(log.back(), "    g_pWaveFile->Open - FAILED");
  EXPECT_EQ(log[log.size() - 2], "    new CWaveFile");
  EXPECT_FALSE(std::filesystem::exists(dir_.Path() / "no-such-folder"));
}

TEST_F(SaveFileWavTest, AFullDiskFailsTheSave) {
  FakeCapture capture(CdFormat(), std::vector<BYTE>(100000, 1), 100000);
  DWORD rate = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveCaptureToWav(&capture, "/dev/full", &rate), E_FAIL);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("g_pWaveFile->Write - FAILED"), std::string::npos);
  EXPECT_EQ(Log().back(), "    g_pWaveFile->Write - FAILED");

  // A recording small enough to stay in the I/O buffer fails when the file is closed.
  FakeCapture small(CdFormat(), std::vector<BYTE>(40, 1), 40);
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveCaptureToWav(&small, "/dev/full", &rate), E_FAIL);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Log().back(), "    g_pWaveFile->Close - FAILED");
}

TEST_F(SaveFileWavTest, NoCaptureInterfaceFails) {
  DWORD rate = 7;
  testing::internal::CaptureStderr();
  EXPECT_EQ(SaveCaptureToWav(nullptr, dir_.File("x.wav").c_str(), &rate), E_FAIL);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(Log().back(), "    pFilterCapture - FAILED");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("x.wav")));
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(SaveFileWavTest, ARecordingTooLargeForMemoryFailsCleanly) {
  // With the address space limited, a 4 GB recording cannot be held.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_AS, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = rlim_t{3} << 30;
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < limited.rlim_cur) limited.rlim_cur = saved.rlim_max;
  ASSERT_EQ(::setrlimit(RLIMIT_AS, &limited), 0);
  FakeCapture capture(CdFormat(), {}, 0xFFFFFFF0u);
  DWORD rate = 0;
  testing::internal::CaptureStderr();
  const HRESULT hr = SaveCaptureToWav(&capture, dir_.File("huge.wav").c_str(), &rate);
  ::setrlimit(RLIMIT_AS, &saved);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(capture.calls, "GetDataSize GetFormat ");
  EXPECT_EQ(Log().back(), "    HeapAlloc pWavMemory - FAILED");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("huge.wav")));
}
#endif

TEST_F(SaveFileWavTest, ReadsThroughTheEngineCaptureInterface) {
  FakeCapture capture(CdFormat(), std::vector<BYTE>(8, 3), 8);
  g_EngineState.pFilterCapture = platform::ComPtr<ICapturedAudio>::Share(&capture);
  DWORD rate = 0;
  const std::string path = dir_.File("engine.wav");
  EXPECT_EQ(SaveFileWAV(path.c_str(), &rate), S_OK);
  g_EngineState.pFilterCapture.Reset();
  EXPECT_EQ(capture.calls, "GetDataSize GetFormat CopyData ");
  EXPECT_EQ(ReadFileBytes(path).size(), 64u);
}

}  // namespace
