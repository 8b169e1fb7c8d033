#include "platform/synth/audio_output.h"

#include <dlfcn.h>
#include <fluidsynth.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/synth/fluid_log.h"

namespace platform {
namespace {

// ALSA reports a missing card on standard error through its error handler;
// its library is already loaded with FluidSynth's, so the handler is found
// there and replaced by one that says nothing.
void QuietAlsaHandler(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsaOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (void* symbol = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))
      reinterpret_cast<SetHandler>(symbol)(&QuietAlsaHandler);
  });
}

void SayNoSoundDeviceOnce() {
  static std::once_flag once;
  std::call_once(once, [] { std::fputs("No sound device could be opened: playback runs silently.\n", stderr); });
}

}  // namespace

struct RealTimeOutput::Device {
  ~Device() {
    if (driver != nullptr) delete_fluid_audio_driver(driver);
    if (settings != nullptr) delete_fluid_settings(settings);
  }
  fluid_settings_t* settings = nullptr;
  fluid_audio_driver_t* driver = nullptr;
};

RealTimeOutput::RealTimeOutput(Source source, int sampleRate) : source_(std::move(source)), sampleRate_(sampleRate) {}

std::unique_ptr<RealTimeOutput> RealTimeOutput::Start(Source source, int sampleRate) {
  std::unique_ptr<RealTimeOutput> output(new RealTimeOutput(std::move(source), sampleRate));
  if (!output->OpenDevice()) {
    SayNoSoundDeviceOnce();
    output->pacer_ = std::thread([raw = output.get()] { raw->RunSilently(); });
  }
  return output;
}

RealTimeOutput::~RealTimeOutput() {
  device_.reset();
  {
    std::lock_guard lock(lock_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (pacer_.joinable()) pacer_.join();
}

bool RealTimeOutput::OpenDevice() {
  SilenceFluidSynthLog();
  SilenceAlsaOnce();
  std::vector<std::string> drivers{"pulseaudio", "alsa", "jack", "sdl2"};
  if (const char* chosen = std::getenv("HALVANE_AUDIO_DRIVER"); chosen != nullptr && *chosen != '\0')
    drivers = {chosen};
  // A JACK client must not start a JACK server of its own just to be tried.
  setenv("JACK_NO_START_SERVER", "1", 0);
  for (const std::string& name : drivers) {
    if (name == "none") return false;
    auto device = std::make_unique<Device>();
    device->settings = new_fluid_settings();
    if (device->settings == nullptr) return false;
    fluid_settings_setstr(device->settings, "audio.driver", name.c_str());
    fluid_settings_setnum(device->settings, "synth.sample-rate", sampleRate_);
    fluid_settings_setint(device->settings, "audio.period-size", 1024);
    fluid_settings_setint(device->settings, "audio.periods", 4);
    device->driver = new_fluid_audio_driver2(device->settings, &RealTimeOutput::DeviceCallback, this);
    if (device->driver != nullptr) {
      device_ = std::move(device);
      return true;
    }
  }
  return false;
}

int RealTimeOutput::DeviceCallback(void* data, int len, int, float*[], int nout, float* out[]) {
  auto* self = static_cast<RealTimeOutput*>(data);
  if (len <= 0 || nout < 1) return FLUID_OK;
  const auto frames = static_cast<std::size_t>(len);
  if (self->block_.size() < frames * 2) self->block_.resize(frames * 2);
  std::int16_t* block = self->block_.data();
  self->source_(block, frames);
  constexpr float kScale = 1.0f / 32768.0f;
  if (nout >= 2) {
    float* left = out[0];
    float* right = out[1];
    for (std::size_t i = 0; i < frames; ++i) {
      left[i] = block[2 * i] * kScale;
      right[i] = block[2 * i + 1] * kScale;
    }
  } else {
    for (std::size_t i = 0; i < frames; ++i) out[0][i] = (block[2 * i] + block[2 * i + 1]) * (0.5f * kScale);
  }
  return FLUID_OK;
}

void RealTimeOutput::RunSilently() {
  using Clock = std::chrono::steady_clock;
  constexpr std::size_t kChunkFrames = 1024;
  std::vector<std::int16_t> block(kChunkFrames * 2);
  const Clock::time_point start = Clock::now();
  std::uint64_t rendered = 0;
  std::unique_lock lock(lock_);
  while (!stopping_) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    const auto due = static_cast<std::uint64_t>(elapsed) * static_cast<std::uint64_t>(sampleRate_) / 1000000u;
    lock.unlock();
    while (rendered < due) {
      const std::size_t frames = static_cast<std::size_t>(std::min<std::uint64_t>(due - rendered, kChunkFrames));
      source_(block.data(), frames);
      rendered += frames;
    }
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stopping_; });
  }
}

}  // namespace platform
