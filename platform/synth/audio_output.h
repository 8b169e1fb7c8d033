// Real-time output of a performance: the sound device through one of FluidSynth's
// audio drivers, or, where no device opens, a thread that renders silently at the
// pace of the system clock (said once per process on standard error).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

class RealTimeOutput {
 public:
  // Fills frames of interleaved 16-bit stereo.
  using Source = std::function<void(std::int16_t* samples, std::size_t frames)>;

  // Starts pulling from source at sampleRate. The drivers tried, in order:
  // pulseaudio, alsa, jack, sdl2; HALVANE_AUDIO_DRIVER names a single one to try
  // instead ("none": no device, silent playback).
  static std::unique_ptr<RealTimeOutput> Start(Source source, int sampleRate);
  // Stops pulling; source is not called any more once this returns.
  ~RealTimeOutput();
  RealTimeOutput(const RealTimeOutput&) = delete;
  RealTimeOutput& operator=(const RealTimeOutput&) = delete;

 private:
  RealTimeOutput(Source source, int sampleRate);
  bool OpenDevice();
  void RunSilently();
  static int DeviceCallback(void* data, int len, int nfx, float* fx[], int nout, float* out[]);

  Source source_;
  int sampleRate_;
  // The sound device's audio driver with its settings; none when silent.
  struct Device;
  std::unique_ptr<Device> device_;
  std::vector<std::int16_t> block_;  // the device callback's 16-bit block

  std::mutex lock_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread pacer_;
};

}  // namespace platform
