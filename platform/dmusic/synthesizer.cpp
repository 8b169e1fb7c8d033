#include "platform/dmusic/synthesizer.h"

#include <fluidsynth.h>

#include <map>
#include <mutex>
#include <vector>

#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/fluid_log.h"

namespace platform {
namespace {

// The idle synthesisers of each SoundFont, by real path.
struct SynthCache {
  std::mutex mutex;
  std::map<std::string, std::vector<std::unique_ptr<Synthesizer>>> idle;
};

std::shared_ptr<SynthCache> TheCache() {
  static const auto cache = std::make_shared<SynthCache>();
  return cache;
}

}  // namespace

HRESULT Synthesizer::Acquire(const std::string& path, std::shared_ptr<Synthesizer>& out) {
  out.reset();
  const std::shared_ptr<SynthCache> cache = TheCache();
  std::unique_ptr<Synthesizer> synth;
  {
    std::lock_guard lock(cache->mutex);
    auto it = cache->idle.find(path);
    if (it != cache->idle.end() && !it->second.empty()) {
      synth = std::move(it->second.back());
      it->second.pop_back();
    }
  }
  if (!synth) {
    const HRESULT hr = Load(path, synth);
    if (FAILED(hr)) return hr;
  }
  // The synthesiser returns to the cache with the last reference; should the
  // cache be gone already (process exit), it is simply deleted.
  std::weak_ptr<SynthCache> home = cache;
  out = std::shared_ptr<Synthesizer>(synth.release(), [home](Synthesizer* s) {
    std::unique_ptr<Synthesizer> owned(s);
    if (auto cache = home.lock()) {
      std::lock_guard lock(cache->mutex);
      cache->idle[owned->path_].push_back(std::move(owned));
    }
  });
  return S_OK;
}

HRESULT Synthesizer::Load(const std::string& path, std::unique_ptr<Synthesizer>& out) {
  SilenceFluidSynthLog();
  std::unique_ptr<Synthesizer> synth(new Synthesizer());
  synth->path_ = path;
  synth->settings_ = new_fluid_settings();
  if (synth->settings_ == nullptr) return E_OUTOFMEMORY;
  fluid_settings_setnum(synth->settings_, "synth.sample-rate", kSampleRate);
  fluid_settings_setnum(synth->settings_, "synth.gain", kGain);
  fluid_settings_setint(synth->settings_, "synth.polyphony", kPolyphony);
  fluid_settings_setint(synth->settings_, "synth.audio-channels", 1);
  fluid_settings_setint(synth->settings_, "synth.reverb.active", 1);
  fluid_settings_setint(synth->settings_, "synth.chorus.active", 1);
  fluid_settings_setint(synth->settings_, "synth.cpu-cores", 1);
  // Every call reaches the synthesiser under the performance's render lock.
  fluid_settings_setint(synth->settings_, "synth.threadsafe-api", 0);
  fluid_settings_setint(synth->settings_, "synth.verbose", 0);
  synth->synth_ = new_fluid_synth(synth->settings_);
  if (synth->synth_ == nullptr) return E_OUTOFMEMORY;
  if (fluid_synth_sfload(synth->synth_, path.c_str(), 1) == FLUID_FAILED) return DMUS_E_CANNOT_OPEN_PORT;
  out = std::move(synth);
  return S_OK;
}

Synthesizer::~Synthesizer() {
  if (synth_ != nullptr) delete_fluid_synth(synth_);
  if (settings_ != nullptr) delete_fluid_settings(settings_);
}

void Synthesizer::Reset() {
  fluid_synth_system_reset(synth_);
  // The reset reaches the voices and the effects units with the next block it
  // computes: render one block and drop it, so the effects' delay lines are
  // empty before the first real block.
  float scratch[kBlockFrames * kChannels];
  fluid_synth_write_float(synth_, kBlockFrames, scratch, 0, 2, scratch, 1, 2);
}

void Synthesizer::AllSoundsOff() { fluid_synth_all_sounds_off(synth_, -1); }

void Synthesizer::AllNotesOff() { fluid_synth_all_notes_off(synth_, -1); }

void Synthesizer::ChannelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  const int channel = status & 0x0F;
  switch (status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth_, channel, data1);
      break;
    case 0x90:
      if (data2 == 0)
        fluid_synth_noteoff(synth_, channel, data1);
      else
        fluid_synth_noteon(synth_, channel, data1, data2);
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth_, channel, data1, data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth_, channel, data1 & 0x7F, data2 & 0x7F);
      break;
    case 0xC0:
      fluid_synth_program_change(synth_, channel, data1 & 0x7F);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth_, channel, data1 & 0x7F);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth_, channel, ((data2 & 0x7F) << 7) | (data1 & 0x7F));
      break;
    default:
      break;
  }
}

void Synthesizer::Patch(int channel, std::uint8_t bankMsb, std::uint8_t bankLsb, std::uint8_t program) {
  fluid_synth_cc(synth_, channel, 0, bankMsb & 0x7F);
  fluid_synth_cc(synth_, channel, 32, bankLsb & 0x7F);
  fluid_synth_program_change(synth_, channel, program & 0x7F);
}

void Synthesizer::SysEx(const std::uint8_t* data, std::size_t length) {
  // FluidSynth takes the message without its F0 and F7.
  if (length < 2 || data[0] != 0xF0) return;
  std::size_t end = length;
  if (data[end - 1] == 0xF7) --end;
  if (end <= 1) return;
  fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + 1), static_cast<int>(end - 1), nullptr, nullptr,
                    nullptr, 0);
}

void Synthesizer::Render(float* interleaved, int frames) {
  fluid_synth_write_float(synth_, frames, interleaved, 0, 2, interleaved, 1, 2);
}

int Synthesizer::ActiveVoices() const { return fluid_synth_get_active_voice_count(synth_); }

}  // namespace platform
