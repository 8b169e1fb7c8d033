// One FluidSynth synthesiser playing one SoundFont: the sound source of every
// port. Synthesisers are cached per SoundFont for the life of the process, so a
// SoundFont is loaded once, when a port that uses it is first configured.
#pragma once

#include <cstdint>
#include <memory>
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

  // Takes a synthesiser for the SoundFont at path for the caller's exclusive use.
  // The cache keeps one per SoundFont; a second user of the same SoundFont at the
  // same time gets a synthesiser of its own. The synthesiser goes back to the
  // cache when the last copy of the pointer is released. Fails with
  // DMUS_E_CANNOT_OPEN_PORT when the SoundFont cannot be loaded.
  static HRESULT Acquire(const std::string& path, std::shared_ptr<Synthesizer>& out);

  ~Synthesizer();
  Synthesizer(const Synthesizer&) = delete;
  Synthesizer& operator=(const Synthesizer&) = delete;

  const std::string& SoundFontPath() const { return path_; }

  // Back to the state right after loading: no voice sounding, every channel at
  // its defaults, reverb and chorus emptied. Rendering the same events after a
  // reset gives the same samples.
  void Reset();
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
  Synthesizer() = default;
  static HRESULT Load(const std::string& path, std::unique_ptr<Synthesizer>& out);

  std::string path_;
  _fluid_hashtable_t* settings_ = nullptr;  // fluid_settings_t
  _fluid_synth_t* synth_ = nullptr;
};

}  // namespace platform
