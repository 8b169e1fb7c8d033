#include "platform/dmusic/synthesizer.h"

#include <fluidsynth.h>

#include <map>
#include <mutex>
#include <vector>

#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/fluid_log.h"

namespace platform {
namespace {

// Settings shared by the loading synthesiser and every playing one.
_fluid_hashtable_t* NewSettings() {
  fluid_settings_t* settings = new_fluid_settings();
  if (settings == nullptr) return nullptr;
  fluid_settings_setnum(settings, "synth.sample-rate", Synthesizer::kSampleRate);
  fluid_settings_setnum(settings, "synth.gain", Synthesizer::kGain);
  fluid_settings_setint(settings, "synth.polyphony", Synthesizer::kPolyphony);
  fluid_settings_setint(settings, "synth.audio-channels", 1);
  fluid_settings_setint(settings, "synth.reverb.active", 1);
  fluid_settings_setint(settings, "synth.chorus.active", 1);
  fluid_settings_setint(settings, "synth.cpu-cores", 1);
  // Every call reaches a synthesiser under its performance's render lock.
  fluid_settings_setint(settings, "synth.threadsafe-api", 0);
  fluid_settings_setint(settings, "synth.verbose", 0);
  return settings;
}

}  // namespace

// A SoundFont loaded once: a synthesiser that never plays holds it, and the
// playing synthesisers borrow it.
class Synthesizer::Bank {
 public:
  ~Bank() {
    if (synth_ != nullptr) delete_fluid_synth(synth_);
    if (settings_ != nullptr) delete_fluid_settings(settings_);
  }

  static HRESULT Load(const std::string& path, std::shared_ptr<Bank>& out) {
    auto bank = std::make_shared<Bank>();
    bank->settings_ = NewSettings();
    if (bank->settings_ == nullptr) return E_OUTOFMEMORY;
    bank->synth_ = new_fluid_synth(bank->settings_);
    if (bank->synth_ == nullptr) return E_OUTOFMEMORY;
    const int id = fluid_synth_sfload(bank->synth_, path.c_str(), 0);
    if (id == FLUID_FAILED) return DMUS_E_CANNOT_OPEN_PORT;
    bank->sfont_ = fluid_synth_get_sfont_by_id(bank->synth_, id);
    if (bank->sfont_ == nullptr) return DMUS_E_CANNOT_OPEN_PORT;
    out = std::move(bank);
    return S_OK;
  }

  // The loaded SoundFonts by path, for the life of the process.
  static HRESULT ForPath(const std::string& path, std::shared_ptr<Bank>& out) {
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<Bank>> loaded;
    std::lock_guard guard(lock);
    auto it = loaded.find(path);
    if (it != loaded.end()) {
      out = it->second;
      return S_OK;
    }
    const HRESULT hr = Load(path, out);
    if (SUCCEEDED(hr)) loaded.emplace(path, out);
    return hr;
  }

  // Lends the SoundFont to a playing synthesiser, and takes it back.
  void Lend(fluid_synth_t* synth) {
    std::lock_guard guard(lendLock_);
    fluid_synth_add_sfont(synth, sfont_);
  }
  void TakeBack(fluid_synth_t* synth) {
    std::lock_guard guard(lendLock_);
    fluid_synth_remove_sfont(synth, sfont_);
  }

 private:
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  fluid_sfont_t* sfont_ = nullptr;
  std::mutex lendLock_;
};

HRESULT Synthesizer::Acquire(const std::string& path, std::shared_ptr<Synthesizer>& out) {
  out.reset();
  SilenceFluidSynthLog();
  std::shared_ptr<Bank> bank;
  if (const HRESULT hr = Bank::ForPath(path, bank); FAILED(hr)) return hr;
  std::shared_ptr<Synthesizer> synth(new Synthesizer());
  synth->path_ = path;
  synth->settings_ = NewSettings();
  if (synth->settings_ == nullptr) return E_OUTOFMEMORY;
  synth->synth_ = new_fluid_synth(synth->settings_);
  if (synth->synth_ == nullptr) return E_OUTOFMEMORY;
  bank->Lend(synth->synth_);
  synth->bank_ = std::move(bank);
  out = std::move(synth);
  return S_OK;
}

Synthesizer::~Synthesizer() {
  if (synth_ != nullptr) {
    // The SoundFont is the bank's: it must not go with this synthesiser.
    if (bank_) bank_->TakeBack(synth_);
    delete_fluid_synth(synth_);
  }
  if (settings_ != nullptr) delete_fluid_settings(settings_);
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
