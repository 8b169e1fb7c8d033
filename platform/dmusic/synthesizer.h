// One FluidSynth synthesiser playing one SoundFont: the sound source of every
// port. A SoundFont is loaded once per process, when a port that uses it is first
// configured, and kept. Each configuration then gets a new synthesiser that
// shares the loaded SoundFont (made in well under a millisecond): every rendering
// starts from exactly the same state. A reset synthesiser would not do: its
// voices keep traces of earlier notes (the last gain of each voice) that change
// the first samples of the next ones.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

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

  // Makes a new synthesiser for the SoundFont at path, loading the SoundFont
  // the first time. Fails with DMUS_E_CANNOT_OPEN_PORT when it cannot be loaded.
  static HRESULT Acquire(const std::string& path, std::shared_ptr<Synthesizer>& out);

  ~Synthesizer();
  Synthesizer(const Synthesizer&) = delete;
  Synthesizer& operator=(const Synthesizer&) = delete;

  const std::string& SoundFontPath() const { return path_; }

  // Silences every voice at once (no release).
  void AllSoundsOff();
  // Releases every sounding note (the release phase plays).
  void AllNotesOff();

  // One channel message: status 0x80-0xEF with its data bytes.
  void ChannelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  // A program change with the bank it belongs to.
  void Patch(int channel, std::uint8_t bankMsb, std::uint8_t bankLsb, std::uint8_t program);
  // A system exclusive message, F0 ... F7 included.
  void SysEx(const std::uint8_t* data, std::size_t length);

  // Renders frames of interleaved stereo float; frames is a multiple of kBlockFrames.
  void Render(float* interleaved, int frames);
  // The voices still sounding (releasing voices included).
  int ActiveVoices() const;

 private:
  class Bank;
  Synthesizer() = default;

  std::shared_ptr<Bank> bank_;  // the loaded SoundFont, kept while this synthesiser plays it
  std::string path_;
  _fluid_hashtable_t* settings_ = nullptr;  // fluid_settings_t
  _fluid_synth_t* synth_ = nullptr;
};

}  // namespace platform
