// One FluidSynth synthesiser playing one SoundFont: the sound source of every
// port. A SoundFont is loaded once per process, when a port that uses it is first
// configured, and kept. Each configuration then gets a new synthesiser that
// shares the loaded SoundFont (made in well under a millisecond): every rendering
// starts from exactly the same state. A reset synthesiser would not do: its
// voices keep traces of earlier notes (the last gain of each voice) that change
// the first samples of the next ones.
//
// On a machine with more than one processor the synthesiser is two FluidSynth
// synthesisers, each playing half of the channels (chosen from the music so the
// halves carry about the same number of notes) on a processor of its own; their
// outputs are added. Reverb and chorus respond linearly, so the sum sounds as
// one synthesiser would, and the result is the same on every run: each channel
// always plays in the same half and the halves are added in the same order.
// Each half has its own copy of the SoundFont: FluidSynth counts the users of a
// sample without synchronisation, so two halves rendering at once must not share
// one.
#pragma once

#include <cstdint>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/core/wintypes.h"

struct _fluid_hashtable_t;
struct _fluid_synth_t;

namespace platform {

class Synthesizer {
 public:
  // Settings every synthesiser uses. They are FluidSynth's own defaults except
  // the sample rate, which is fixed at 44100 Hz: reverb and chorus on with their
  // default parameters, 256 voices, fourth-order interpolation, gain 0.2 (the
  // level at which typical General MIDI files render without clipping; the
  // fluidsynth program uses the same by default, so its renderings compare).
  static constexpr int kSampleRate = 44100;
  static constexpr int kChannels = 2;
  static constexpr double kGain = 0.2;
  static constexpr int kPolyphony = 256;
  // FluidSynth computes audio in blocks of this many frames; events take effect
  // at block boundaries. Render() is always called with whole blocks, so the
  // synthesiser never holds half a block across a reset.
  static constexpr int kBlockFrames = 64;
  // The most frames one Render call may ask for.
  static constexpr int kMaxRenderFrames = 64 * kBlockFrames;

  // Makes a new synthesiser for the SoundFont at path, loading the SoundFont
  // the first time. Fails with DMUS_E_CANNOT_OPEN_PORT when it cannot be loaded.
  // parts: 1 or 2 (see above); 0 chooses by the number of processors.
  static HRESULT Acquire(const std::string& path, std::shared_ptr<Synthesizer>& out, int parts = 0);

  ~Synthesizer();
  Synthesizer(const Synthesizer&) = delete;
  Synthesizer& operator=(const Synthesizer&) = delete;

  const std::string& SoundFontPath() const { return path_; }

  // Silences every voice at once (no release).
  void AllSoundsOff();
  // Releases every sounding note (the release phase plays).
  void AllNotesOff();

  // Shares the channels out between the two halves so that each carries about
  // half of the weight (the music each channel has to play). Call before the
  // first event.
  void BalanceChannels(const std::array<std::uint64_t, 16>& weightPerChannel);

  // One channel message: status 0x80-0xEF with its data bytes.
  void ChannelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  // A program change with the bank it belongs to.
  void Patch(int channel, std::uint8_t bankMsb, std::uint8_t bankLsb, std::uint8_t program);
  // A system exclusive message, F0 ... F7 included.
  void SysEx(const std::uint8_t* data, std::size_t length);

  // Renders frames of interleaved stereo float; frames is a multiple of
  // kBlockFrames, at most kMaxRenderFrames.
  void Render(float* interleaved, int frames);
  // The voices still sounding (releasing voices included).
  int ActiveVoices() const;

 private:
  class Bank;
  // One FluidSynth synthesiser with the SoundFont it borrows.
  struct Part {
    std::shared_ptr<Bank> bank;
    _fluid_hashtable_t* settings = nullptr;  // fluid_settings_t
    _fluid_synth_t* synth = nullptr;
  };

  Synthesizer() = default;
  _fluid_synth_t* SynthFor(int channel) const { return parts_[half_[channel & 15]].synth; }
  static void RenderPart(_fluid_synth_t* synth, float* interleaved, int frames);
  void RunSecondHalf();

  std::string path_;
  std::vector<Part> parts_;
  std::array<std::uint8_t, 16> half_{};  // the part each channel plays in

  // The second half's thread: it renders when job_ is set to a frame count and
  // sets it back to 0 when done; -1 ends it.
  std::vector<float> secondBlock_;
  std::atomic<int> job_{0};
  std::thread worker_;
};

}  // namespace platform
