#include "output/save_file_wav.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "base/debug_log.h"
#include "engine/engine_state.h"
#include "output/wave_file.h"

namespace {

// Logs the failed step one level deeper, returns the log to its level and echoes it.
HRESULT Fail(const char* text) {
  g_DebugLog.Print("%s", text);
  g_DebugLog.IndentDown();
  DebugWindowPrint(text);
  return E_FAIL;
}

}  // namespace

HRESULT SaveFileWAV(const char* fileName, DWORD* sampleRate) {
  return SaveCaptureToWav(g_EngineState.pFilterCapture.Get(), fileName, sampleRate);
}

HRESULT SaveCaptureToWav(ICapturedAudio* capture, const char* fileName, DWORD* sampleRate) {
  g_DebugLog.Print("SaveFileWAV");
  g_DebugLog.IndentUp();
  if (capture == nullptr) return Fail("pFilterCapture - FAILED");

  // The results of the capture calls are not examined.
  DWORD size = 0;
  capture->GetDataSize(&size);
  g_DebugLog.Print("FileSize: %d", static_cast<int>(size));

  capture->GetFormat(&g_CaptureRecord);
  const WAVEFORMATEX& captured = g_CaptureRecord.wfx;
  if (sampleRate != nullptr) *sampleRate = captured.nSamplesPerSec;

  // The recording can be tens of megabytes; running out of memory fails the save.
  std::unique_ptr<BYTE[]> pWavMemory;
  try {
    pWavMemory = std::make_unique_for_overwrite<BYTE[]>(size);
  } catch (const std::bad_alloc&) {
    return Fail("HeapAlloc pWavMemory - FAILED");
  }
  capture->CopyData(pWavMemory.get(), size);
  g_DebugLog.Print("pWavMemory: 0x%x", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(pWavMemory.get())));

  // The format handed to the writer is plain PCM, whatever the effect's own tag.
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nSamplesPerSec = captured.nSamplesPerSec;
  g_DebugLog.Print("SamplesPerSec: %d", static_cast<int>(format.nSamplesPerSec));
  format.wBitsPerSample = captured.wBitsPerSample;
  g_DebugLog.Print("BitsPerSample: %d", format.wBitsPerSample);
  format.nChannels = captured.nChannels;
  g_DebugLog.Print("Channels: %d", format.nChannels);
  format.nBlockAlign = captured.nBlockAlign;
  g_DebugLog.Print("BlockAlign: %d", format.nBlockAlign);
  format.nAvgBytesPerSec = captured.nAvgBytesPerSec;
  g_DebugLog.Print("AvgBytesPerSec: %d", static_cast<int>(format.nAvgBytesPerSec));

  std::unique_ptr<CWaveFile> waveFile(new (std::nothrow) CWaveFile);
  if (!waveFile) return Fail("new CWaveFile - FAILED");
  g_DebugLog.Print("new CWaveFile");

  if (FAILED(waveFile->Open(fileName, &format, WAVEFILE_WRITE))) {
    waveFile->Close();
    return Fail("g_pWaveFile->Open - FAILED");
  }
  g_DebugLog.Print("CWaveFile.Open - ok");

  DWORD written = 0;
  const HRESULT hr = waveFile->Write(size, pWavMemory.get(), &written);
  if (FAILED(hr)) {
    Fail("g_pWaveFile->Write - FAILED");
    waveFile->Close();  // keeps what was written up to the failure
    return E_FAIL;
  }
  g_DebugLog.Print("CWaveFile.Write - ok");

  // The last buffered bytes and the sizes reach the disk in Close: a failure there
  // leaves an incomplete file, which must not count as saved.
  if (FAILED(waveFile->Close())) return Fail("g_pWaveFile->Close - FAILED");
  g_DebugLog.Print("CWaveFile.Close - ok");

  pWavMemory.reset();
  g_DebugLog.Print("Heap Free");
  waveFile.reset();
  g_DebugLog.Print("delete CWaveFile");

  g_DebugLog.IndentDown();
  return hr;
}

HRESULT SaveRecordingWav(const char* fileName, const PcmRecording& recording) {
  const std::size_t bytes = recording.samples.size() * sizeof(std::int16_t);
  if (recording.channels <= 0 || recording.rate <= 0 || bytes > kMaxWavDataBytes) return E_FAIL;
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(recording.channels);
  format.nSamplesPerSec = static_cast<DWORD>(recording.rate);
  format.wBitsPerSample = 16;
  format.nBlockAlign = static_cast<WORD>(recording.channels * 2);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  CWaveFile waveFile;
  if (FAILED(waveFile.Open(fileName, &format, WAVEFILE_WRITE))) {
    waveFile.Close();
    return E_FAIL;
  }
  DWORD written = 0;
  const HRESULT hr =
      waveFile.Write(static_cast<DWORD>(bytes), reinterpret_cast<const BYTE*>(recording.samples.data()), &written);
  // Close brings the last bytes and the sizes to the disk: both must succeed.
  const HRESULT closed = waveFile.Close();
  return FAILED(hr) || FAILED(closed) ? E_FAIL : S_OK;
}

namespace {

// Seconds as h:mm:ss.
std::string HoursMinutesSeconds(unsigned long long seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

// The most the recording can outlast the music's whole seconds: the rest of the last
// second, the synthesiser's release (at most 2 s), StopMIDI's 700 ms and a poll.
constexpr unsigned long long kTailSeconds = 4;

}  // namespace

std::string WavTooLongReason(const std::string& input, int seconds) {
  ICapturedAudio* capture = g_EngineState.pFilterCapture.Get();
  if (capture == nullptr || seconds < 0) return {};
  CaptureRecord record{};
  if (FAILED(capture->GetFormat(&record)) || record.wfx.nAvgBytesPerSec == 0) return {};
  const unsigned long long rate = record.wfx.nAvgBytesPerSec;
  const unsigned long long longest = static_cast<unsigned long long>(seconds) + kTailSeconds;
  if (longest * rate <= kMaxWavDataBytes) return {};
  return input + ": the recording would last up to " + HoursMinutesSeconds(longest) + " (" +
         std::to_string(longest * rate) + " bytes); a WAV file holds at most " +
         HoursMinutesSeconds(kMaxWavDataBytes / rate) + " (" + std::to_string(kMaxWavDataBytes) + " bytes)";
}
