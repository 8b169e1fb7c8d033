#include "app/convert_cli/recording_levels.h"

#include <algorithm>
#include <new>

#include "engine/engine_state.h"
#include "ovdmofilter/captured_audio.h"

namespace convert_cli {

RecordingLevels LevelsOf(const std::vector<std::int16_t>& samples, int channels, int rate) {
  RecordingLevels levels;
  if (channels > 0 && rate > 0)
    levels.seconds = static_cast<double>(samples.size() / static_cast<std::size_t>(channels)) / rate;
  int peak = 0;
  for (const std::int16_t sample : samples) {
    const int size = sample < 0 ? -static_cast<int>(sample) : sample;
    peak = std::max(peak, size);
    if (sample == 32767 || sample == -32768) ++levels.clipped;
  }
  if (peak > 0) levels.peakDbfs = 20.0 * std::log10(peak / 32768.0);
  return levels;
}

RecordingLevels MeasureRecording() {
  ICapturedAudio* capture = g_EngineState.pFilterCapture.Get();
  if (capture == nullptr) return {};
  CaptureRecord record{};
  DWORD size = 0;
  if (FAILED(capture->GetFormat(&record)) || FAILED(capture->GetDataSize(&size))) return {};
  if (record.wfx.wBitsPerSample != 16) return {};
  std::vector<std::int16_t> samples;
  try {
    samples.resize((size + 1) / sizeof(std::int16_t));
  } catch (const std::bad_alloc&) {
    return {};
  }
  if (FAILED(capture->CopyData(reinterpret_cast<BYTE*>(samples.data()), size))) return {};
  samples.resize(size / sizeof(std::int16_t));
  return LevelsOf(samples, record.wfx.nChannels, static_cast<int>(record.wfx.nSamplesPerSec));
}

}  // namespace convert_cli
