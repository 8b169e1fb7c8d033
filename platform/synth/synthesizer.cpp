#include "platform/synth/synthesizer.h"

#include <fluidsynth.h>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/core/dmerror.h"
#include "platform/core/error_text.h"
#include "platform/synth/fluid_log.h"
#include "platform/synth/sound_font_check.h"

namespace platform {
namespace {

// Settings shared by the loading synthesiser and every playing one; a half of a
// synthesiser sounds half of its voices.
fluid_settings_t* NewSettings(int polyphony = Synthesizer::kPolyphony) {
  fluid_settings_t* settings = new_fluid_settings();
  if (settings == nullptr) return nullptr;
  fluid_settings_setnum(settings, "synth.sample-rate", Synthesizer::kSampleRate);
  fluid_settings_setnum(settings, "synth.gain", Synthesizer::kGain);
  fluid_settings_setint(settings, "synth.polyphony", polyphony);
  fluid_settings_setint(settings, "synth.audio-channels", 1);
  fluid_settings_setint(settings, "synth.reverb.active", 1);
  fluid_settings_setint(settings, "synth.chorus.active", 1);
  fluid_settings_setint(settings, "synth.cpu-cores", 1);
  // Every call reaches a synthesiser under its performance's render lock.
  fluid_settings_setint(settings, "synth.threadsafe-api", 0);
  fluid_settings_setint(settings, "synth.verbose", 0);
  return settings;
}

// Why the file is no SoundFont (RIFF sfbk) or DLS collection (RIFF DLS), or empty
// when it looks like one.
std::string NotAnInstrumentFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "the file cannot be opened";
  char header[12] = {};
  if (!in.read(header, sizeof(header)) || !IsInstrumentFileHeader(header)) return "not a SoundFont or DLS file";
  return {};
}

void RenderPart(fluid_synth_t* synth, float* interleaved, int frames) {
  // FluidSynth mixes each voice over the whole length asked for: pieces of a
  // few blocks keep its buffers in the processor's cache.
  while (frames > Synthesizer::kPieceFrames) {
    RenderPart(synth, interleaved, Synthesizer::kPieceFrames);
    interleaved += 2 * Synthesizer::kPieceFrames;
    frames -= Synthesizer::kPieceFrames;
  }
#if defined(__SSE__)
  // Numbers too small to be heard (denormals, in decaying reverb and release
  // tails) cost the processor many times the work of normal ones: they count as
  // zero while the synthesiser renders.
  const unsigned int saved = _mm_getcsr();
  _mm_setcsr(saved | 0x8040);  // flush to zero, denormals are zero
  fluid_synth_write_float(synth, frames, interleaved, 0, 2, interleaved, 1, 2);
  _mm_setcsr(saved);
#else
  fluid_synth_write_float(synth, frames, interleaved, 0, 2, interleaved, 1, 2);
#endif
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

  // A SoundFont that cannot be loaded fails with the reason in reason.
  static HRESULT Load(const std::string& path, std::shared_ptr<Bank>& out, std::string& reason) {
    // Only what looks like a SoundFont (RIFF sfbk) or a DLS collection (RIFF
    // DLS) goes to FluidSynth: its DLS reader reports other files on standard
    // error.
    reason = NotAnInstrumentFile(path);
    if (!reason.empty()) return DMUS_E_CANNOT_OPEN_PORT;
    auto bank = std::make_shared<Bank>();
    bank->settings_ = NewSettings();
    if (bank->settings_ == nullptr) return E_OUTOFMEMORY;
    bank->synth_ = new_fluid_synth(bank->settings_);
    if (bank->synth_ == nullptr) return E_OUTOFMEMORY;
    TakeFluidSynthError();
    const int id = fluid_synth_sfload(bank->synth_, path.c_str(), 0);
    bank->sfont_ = id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(bank->synth_, id);
    if (bank->sfont_ == nullptr) {
      reason = TakeFluidSynthError();
      if (reason.empty()) reason = "FluidSynth cannot load it";
      return DMUS_E_CANNOT_OPEN_PORT;
    }
    out = std::move(bank);
    return S_OK;
  }

  // The loaded copies of each SoundFont, for the life of the process: copy 0
  // for a whole synthesiser or its first half, copy 1 for its second half.
  // They load one after the other: FluidSynth keeps the sample data of a file
  // once for every copy of it loaded later, but two copies loading at the same
  // time each read their own (about 150 MB more for a General MIDI SoundFont).
  static HRESULT ForPath(const std::string& path, int copies, std::vector<std::shared_ptr<Bank>>& out) {
    Store& store = TheStore();
    std::lock_guard guard(store.lock);
    out.assign(static_cast<std::size_t>(copies), nullptr);
    for (int copy = 0; copy < copies; ++copy) {
      auto it = store.loaded.find({path, copy});
      if (it != store.loaded.end()) {
        out[copy] = it->second;
        continue;
      }
      std::string reason;
      if (const HRESULT hr = Load(path, out[copy], reason); FAILED(hr)) {
        if (!reason.empty()) SetErrorText("SoundFont " + path + " cannot be loaded: " + reason);
        return hr;
      }
      store.loaded.emplace(std::make_pair(path, copy), out[copy]);
    }
    return S_OK;
  }

  // Loads the copies ForPath would in a thread of its own; a failure is left for
  // the synthesiser that needs the SoundFont to report.
  static void LoadInBackground(const std::string& path, int copies) {
    Store& store = TheStore();
    std::lock_guard guard(store.loadersLock);
    store.loaders.emplace_back([path, copies] {
      std::vector<std::shared_ptr<Bank>> banks;
      (void)ForPath(path, copies, banks);
    });
  }

  // Waits until every background load has ended.
  static void WaitForBackgroundLoads() {
    Store& store = TheStore();
    std::vector<std::jthread> loaders;
    {
      std::lock_guard guard(store.loadersLock);
      loaders.swap(store.loaders);
    }
    // The loaders are joined as the vector goes.
  }

  void Lend(fluid_synth_t* synth) { fluid_synth_add_sfont(synth, sfont_); }
  void TakeBack(fluid_synth_t* synth) { fluid_synth_remove_sfont(synth, sfont_); }

 private:
  // The loaded banks and the threads loading more. The threads are the last
  // member: they end before the banks and the lock they use go.
  struct Store {
    std::mutex lock;
    std::map<std::pair<std::string, int>, std::shared_ptr<Bank>> loaded;
    std::mutex loadersLock;
    std::vector<std::jthread> loaders;
  };
  static Store& TheStore() {
    static Store store;
    return store;
  }

  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  fluid_sfont_t* sfont_ = nullptr;
};

// One FluidSynth synthesiser with the SoundFont it borrows.
struct Synthesizer::Part {
  std::shared_ptr<Bank> bank;
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  std::vector<Pending> pending;
  std::vector<std::uint8_t> sysex;
  // The stretch being rendered: where it goes, and how far its rendering and
  // its events have got.
  float* out = nullptr;
  int done = 0;
  std::size_t played = 0;
};

namespace {

// 1 or 2 as asked; anything else chooses by the number of processors.
int PartsFor(int parts) {
  if (parts == 1 || parts == 2) return parts;
  return std::thread::hardware_concurrency() > 1 ? 2 : 1;
}

}  // namespace

void Synthesizer::Preload(const std::string& path, int parts) {
  SilenceFluidSynthLog();
  Bank::LoadInBackground(path, PartsFor(parts));
}

void Synthesizer::FinishPreloads() { Bank::WaitForBackgroundLoads(); }

HRESULT Synthesizer::Acquire(const std::string& path, std::shared_ptr<Synthesizer>& out, int parts) {
  out.reset();
  SilenceFluidSynthLog();
  parts = PartsFor(parts);
  std::vector<std::shared_ptr<Bank>> banks;
  if (const HRESULT hr = Bank::ForPath(path, parts, banks); FAILED(hr)) return hr;
  std::shared_ptr<Synthesizer> synth(new Synthesizer());
  const int polyphony = parts == 2 ? kPolyphony / 2 : kPolyphony;
  for (std::shared_ptr<Bank>& bank : banks) {
    Part& part = synth->parts_.emplace_back();
    part.settings = NewSettings(polyphony);
    if (part.settings == nullptr) return E_OUTOFMEMORY;
    part.synth = new_fluid_synth(part.settings);
    if (part.synth == nullptr) return E_OUTOFMEMORY;
    bank->Lend(part.synth);
    part.bank = std::move(bank);
  }
  if (synth->parts_.size() == 2) {
    synth->secondBlock_.resize(static_cast<std::size_t>(kMaxRenderFrames) * kChannels);
    synth->sharing_ = std::make_unique<PieceSharing>([raw = synth.get()](int half, int piece) {
      RenderPiece(raw->parts_[static_cast<std::size_t>(half)], piece, raw->stretchFrames_);
    });
  }
  out = std::move(synth);
  return S_OK;
}

Synthesizer::~Synthesizer() {
  sharing_.reset();
  for (Part& part : parts_) {
    if (part.synth != nullptr) {
      // The SoundFont is the bank's: it must not go with this synthesiser.
      if (part.bank) part.bank->TakeBack(part.synth);
      delete_fluid_synth(part.synth);
    }
    if (part.settings != nullptr) delete_fluid_settings(part.settings);
  }
}

namespace {

// The General MIDI drums that stop one another (hi-hats, whistles, guiros,
// cuicas, triangles): a kit gives them one exclusive class, so they must sound
// in one synthesiser.
bool CutsOthersOff(int key) {
  switch (key) {
    case 42:
    case 44:
    case 46:
    case 71:
    case 72:
    case 73:
    case 74:
    case 78:
    case 79:
    case 80:
    case 81:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::size_t Synthesizer::HalfFor(std::uint8_t status, int key, bool noteOn) {
  if (parts_.size() < 2) return 0;
  const int channel = status & 0x0F;
  if (((percussion_ >> channel) & 1) != 0 && CutsOthersOff(key)) return 1;
  const std::size_t index = static_cast<std::size_t>(channel * 128 + (key & 127));
  if (!noteOn) {
    if ((status & 0xF0) != 0xA0 && keyOn_[index] > 0) --keyOn_[index];
    return keyHalf_[index];
  }
  if (keyOn_[index] == 0 && !pedal_[channel]) {
    const int load0 = voicesAtStart_[0] + notesGiven_[0];
    const int load1 = voicesAtStart_[1] + notesGiven_[1];
    std::uint8_t half = load0 < load1 ? 0 : load1 < load0 ? 1 : nextOnTie_;
    if (load0 == load1) nextOnTie_ ^= 1;
    keyHalf_[index] = half;
  }
  ++keyOn_[index];
  ++notesGiven_[keyHalf_[index]];
  return keyHalf_[index];
}

void Synthesizer::AllNotesOff() {
  for (Part& part : parts_) fluid_synth_all_notes_off(part.synth, -1);
  keyOn_.fill(0);
}

void Synthesizer::SetEventOffset(int frames) { eventOffset_ = std::max(eventOffset_, frames); }

void Synthesizer::ChannelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
  const Pending event{eventOffset_, EventKind::Channel, status, data1, data2, 0, 0, 0};
  const int kind = status & 0xF0;
  if (kind == 0x80 || kind == 0x90 || kind == 0xA0) {
    // A note (or its key pressure) sounds in one half only.
    parts_[HalfFor(status, data1, kind == 0x90 && data2 != 0)].pending.push_back(event);
    return;
  }
  if (kind == 0xB0) {
    const int channel = status & 0x0F;
    if (data1 == 64) pedal_[channel] = data2 >= 64;
    // All sound off, reset all controllers (the pedal), all notes off: the
    // channel's notes are off.
    if (data1 == 120 || data1 == 123) std::fill_n(keyOn_.begin() + channel * 128, 128, std::uint16_t{0});
    if (data1 == 121) pedal_[channel] = false;
  }
  for (Part& part : parts_) part.pending.push_back(event);
}

void Synthesizer::Patch(int channel, std::uint8_t bankMsb, std::uint8_t bankLsb, std::uint8_t program) {
  const Pending event{
      eventOffset_, EventKind::Patch, static_cast<std::uint8_t>(channel & 0x0F), bankMsb, bankLsb, program, 0, 0};
  for (Part& part : parts_) part.pending.push_back(event);
}

void Synthesizer::SysEx(const std::uint8_t* data, std::size_t length) {
  // FluidSynth takes the message without its F0 and F7; both halves hear it.
  if (length < 2 || data[0] != 0xF0) return;
  std::size_t end = length;
  if (data[end - 1] == 0xF7) --end;
  if (end <= 1) return;
  for (Part& part : parts_) {
    const auto start = static_cast<std::uint32_t>(part.sysex.size());
    part.sysex.insert(part.sysex.end(), data + 1, data + end);
    part.pending.push_back({eventOffset_, EventKind::SysEx, 0, 0, 0, 0, start, static_cast<std::uint32_t>(end - 1)});
  }
}

void Synthesizer::Play(Part& part, const Pending& event) {
  fluid_synth_t* synth = part.synth;
  if (event.kind == EventKind::SysEx) {
    fluid_synth_sysex(synth, reinterpret_cast<const char*>(part.sysex.data() + event.sysexStart),
                      static_cast<int>(event.sysexLength), nullptr, nullptr, nullptr, 0);
    return;
  }
  const int channel = event.status & 0x0F;
  if (event.kind == EventKind::Patch) {
    fluid_synth_cc(synth, channel, 0, event.data1 & 0x7F);
    fluid_synth_cc(synth, channel, 32, event.data2 & 0x7F);
    fluid_synth_program_change(synth, channel, event.program & 0x7F);
    return;
  }
  switch (event.status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth, channel, event.data1 & 0x7F);
      break;
    case 0x90:
      if (event.data2 == 0)
        fluid_synth_noteoff(synth, channel, event.data1 & 0x7F);
      else
        fluid_synth_noteon(synth, channel, event.data1 & 0x7F, event.data2 & 0x7F);
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth, channel, event.data1 & 0x7F, event.data2 & 0x7F);
      break;
    case 0xB0:
      fluid_synth_cc(synth, channel, event.data1 & 0x7F, event.data2 & 0x7F);
      break;
    case 0xC0:
      fluid_synth_program_change(synth, channel, event.data1 & 0x7F);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth, channel, event.data1 & 0x7F);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth, channel, ((event.data2 & 0x7F) << 7) | (event.data1 & 0x7F));
      break;
    default:
      break;
  }
}

static_assert(Synthesizer::kMaxRenderFrames / Synthesizer::kPieceFrames <= PieceSharing::kMaxPieces);

void Synthesizer::RenderPiece(Part& part, int piece, int frames) {
  const int end = std::min(frames, (piece + 1) * kPieceFrames);
  const bool last = end == frames;
  // Events beyond the stretch take effect at its end, before the next one.
  for (; part.played < part.pending.size(); ++part.played) {
    const Pending& event = part.pending[part.played];
    const int at = std::min(event.offset, frames);
    if (at >= end && !last) break;
    if (at > part.done) {
      RenderPart(part.synth, part.out + 2 * part.done, at - part.done);
      part.done = at;
    }
    Play(part, event);
  }
  if (end > part.done) {
    RenderPart(part.synth, part.out + 2 * part.done, end - part.done);
    part.done = end;
  }
}

void Synthesizer::Render(float* interleaved, int frames) {
  eventOffset_ = 0;
  const int pieces = std::max(1, (frames + kPieceFrames - 1) / kPieceFrames);
  for (std::size_t half = 0; half < parts_.size(); ++half) {
    parts_[half].out = half == 0 ? interleaved : secondBlock_.data();
    parts_[half].done = 0;
    parts_[half].played = 0;
  }
  if (parts_.size() == 1 || frames == 0) {
    for (Part& part : parts_)
      for (int piece = 0; piece < pieces; ++piece) RenderPiece(part, piece, frames);
  } else {
    stretchFrames_ = frames;
    sharing_->Run(pieces);
    // The halves are added in the same order whoever rendered them.
    const float* second = secondBlock_.data();
    const std::size_t count = static_cast<std::size_t>(frames) * kChannels;
    for (std::size_t i = 0; i < count; ++i) interleaved[i] += second[i];
  }
  for (Part& part : parts_) {
    part.pending.clear();
    part.sysex.clear();
  }
  if (parts_.size() == 2) {
    for (std::size_t half = 0; half < 2; ++half) {
      voicesAtStart_[half] = fluid_synth_get_active_voice_count(parts_[half].synth);
      notesGiven_[half] = 0;
    }
  }
}

bool Synthesizer::SetSpareWork(PieceSharing::SpareWork work, const void* owner) {
  if (!sharing_) return false;
  sharing_->SetSpareWork(std::move(work), owner);
  return true;
}

int Synthesizer::ActiveVoices() const {
  int voices = 0;
  for (const Part& part : parts_) voices += fluid_synth_get_active_voice_count(part.synth);
  return voices;
}

}  // namespace platform
