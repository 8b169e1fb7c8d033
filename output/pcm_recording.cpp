#include "output/pcm_recording.h"

#include <new>

#include "engine/engine_state.h"
#include "ovdmofilter/captured_audio.h"

std::string ReadCapturedRecording(PcmRecording& recording) {
  ICapturedAudio* capture = g_EngineState.pFilterCapture.Get();
  if (capture == nullptr) return "nothing was recorded";
  CaptureRecord record{};
  DWORD size = 0;
  if (FAILED(capture->GetFormat(&record)) || FAILED(capture->GetDataSize(&size))) return "the recording cannot be read";
  if (record.wfx.wBitsPerSample != 16 || record.wfx.nChannels == 0 || record.wfx.nSamplesPerSec == 0)
    return "the recording is not 16-bit PCM";
  try {
    recording.samples.resize((size + 1) / sizeof(std::int16_t));
  } catch (const std::bad_alloc&) {
    return "there is not enough memory for the recording";
  }
  if (FAILED(capture->CopyData(reinterpret_cast<BYTE*>(recording.samples.data()), size)))
    return "the recording cannot be read";
  recording.channels = record.wfx.nChannels;
  recording.rate = static_cast<int>(record.wfx.nSamplesPerSec);
  // Whole frames only.
  recording.samples.resize(size / sizeof(std::int16_t) / recording.channels * recording.channels);
  return {};
}
