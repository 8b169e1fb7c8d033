// One FluidSynth synthesiser playing one SoundFont: the sound source of every
// port. A SoundFont is loaded once per process, when a port that uses it is first
// configured, and kept. Each configuration then gets a new synthesiser that
// shares the loaded SoundFont (made in well under a millisecond): every rendering
// starts from exactly the same state. A reset synthesiser would not do: its
// voices keep traces of earlier notes (the last gain of each voice) that change
// the first samples of the next ones.
//
// Events are queued with the frame they take effect at within the next Render
// call, so one call renders a long stretch of music with its events in place;
// the two halves below then meet once per call, not once per event.
//
// On a machine with more than one processor the synthesiser is two FluidSynth
// synthesisers playing half of the notes each; their outputs are added. A Render
// call's stretch is cut into pieces of kPieceFrames for each half, and the
// calling thread and a helper thread share them out (PieceSharing): each half's
// pieces in order, whichever thread is free taking the next one. When the helper
// has no processor to run on, the calling thread renders the second half too
// rather than waiting for it. Every half receives the same events at the same
// frames whoever renders it, and the halves are added in the same order, so the
// samples never depend on which thread rendered what. Every channel message other than a note's reaches
// both halves, so each knows the state of every channel. A new note of a
// melodic channel goes to the half with fewer voices sounding (counted at the
// start of the stretch being rendered, plus the notes given to it since), so
// the halves carry about the same work whatever the music. A key's notes stay
// in the half of its sounding note (and while the sustain pedal holds it), so
// a repeated key still stops its previous note. Percussion is shared the same
// way, except the drums that cut one another off (an open and a closed hi-hat):
// they always sound in the second half, so they still do. Reverb and chorus respond linearly, so the sum
// sounds as one synthesiser would. The choice depends only on the events and
// the stretches rendered, so the same rendering gives the same samples on
// every run; the halves are added in the same order.
// The halves share the polyphony: each sounds at most half of kPolyphony
// voices, so together they never sound more than one synthesiser would. As the
// notes are shared out by the voices each half has sounding, the halves fill
// up together, and a new note beyond the polyphony takes the place of the voice
// its half gives up first by FluidSynth's own choice (released, quiet and old
// before held, loud and new), much as a whole synthesiser chooses among all of
// its voices. A half may fill a little before the whole would (its share is
// fixed, and some notes must sound in a given half), so in music that comes
// near the polyphony a voice can be taken a little earlier than by one
// synthesiser; below half the polyphony in each half nothing changes.
// Each half has its own copy of the SoundFont's instruments: FluidSynth counts
// the users of a sample without synchronisation, so two halves rendering at once
// must not share one. The copies share one block of sample data, the bulk of a
// SoundFont's memory.
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
#include "platform/synth/piece_sharing.h"

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
  // The most frames handed to FluidSynth at once.
  static constexpr int kPieceFrames = 8 * kBlockFrames;

  // Makes a new synthesiser for the SoundFont at path, loading the SoundFont
  // the first time. Fails with DMUS_E_CANNOT_OPEN_PORT when it cannot be loaded.
  // parts: 1 or 2 (see above); 0 chooses by the number of processors.
  static HRESULT Acquire(const std::string& path, std::shared_ptr<Synthesizer>& out, int parts = 0);
  // Starts loading the SoundFont at path in a thread of its own, as Acquire with
  // the same parts would, so that a later Acquire finds it loaded. A SoundFont
  // that cannot be loaded is left for Acquire to report.
  static void Preload(const std::string& path, int parts = 0);
  // Waits until the loads Preload started have ended.
  static void FinishPreloads();

  ~Synthesizer();
  Synthesizer(const Synthesizer&) = delete;
  Synthesizer& operator=(const Synthesizer&) = delete;

  // Releases every sounding note (the release phase plays).
  void AllNotesOff();

  // The channels that play percussion (bit n for channel n). Call before the
  // first event.
  void SetPercussionChannels(std::uint16_t channels) { percussion_ = channels; }

  // Where the events that follow take effect: frames from the start of the next
  // Render call, a multiple of kBlockFrames, never decreasing until that call.
  void SetEventOffset(int frames);

  // One channel message: status 0x80-0xEF with its data bytes.
  void ChannelMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2);
  // A program change with the bank it belongs to.
  void Patch(int channel, std::uint8_t bankMsb, std::uint8_t bankLsb, std::uint8_t program);
  // A system exclusive message, F0 ... F7 included.
  void SysEx(const std::uint8_t* data, std::size_t length);

  // Renders frames of interleaved stereo float, playing the queued events where
  // they fall; frames is a multiple of kBlockFrames, at most kMaxRenderFrames.
  void Render(float* interleaved, int frames);
  // The voices still sounding (releasing voices included).
  int ActiveVoices() const;

  // Gives the helper thread that renders the halves a job for its spare time
  // (see PieceSharing::SetSpareWork); empty removes it. False, and the job is not
  // taken, when there is no helper (a synthesiser of one half).
  bool SetSpareWork(PieceSharing::SpareWork work, const void* owner);

  // Which thread may render which pieces of the halves; for tests, which must
  // get the same samples whoever renders them.
  void SetSharingForTest(PieceSharing::Who who) {
    if (sharing_) sharing_->SetWhoForTest(who);
  }

 private:
  class Bank;
  // An event waiting for its frame in the next Render call. A SysEx message's
  // bytes (without F0 and F7) are kept in its part's sysex store.
  enum class EventKind : std::uint8_t { Channel, Patch, SysEx };
  struct Pending {
    int offset;
    EventKind kind;
    std::uint8_t status;  // Channel: the status byte; Patch: the channel
    std::uint8_t data1;   // Patch: bank MSB
    std::uint8_t data2;   // Patch: bank LSB
    std::uint8_t program;
    std::uint32_t sysexStart;
    std::uint32_t sysexLength;
  };

  // One FluidSynth synthesiser with the SoundFont it borrows.
  struct Part;

  Synthesizer() = default;
  // The half that plays a note (or key pressure) of this channel and key;
  // noteOn: a new note starts there.
  std::size_t HalfFor(std::uint8_t status, int key, bool noteOn);
  // Renders piece number piece of one part's stretch of frames with the queued
  // events that fall in it; the last piece plays the events left.
  static void RenderPiece(Part& part, int piece, int frames);
  static void Play(Part& part, const Pending& event);

  std::vector<Part> parts_;
  // Sharing the notes out (see above); all touched only by the calling thread.
  std::uint16_t percussion_ = 1u << 9;
  std::array<std::uint8_t, 16 * 128> keyHalf_{};  // the half of each channel's key
  std::array<std::uint16_t, 16 * 128> keyOn_{};   // its notes sounding (not yet off)
  std::array<bool, 16> pedal_{};                  // sustain pedal down
  std::array<int, 2> voicesAtStart_{};            // voices at the start of the stretch
  std::array<int, 2> notesGiven_{};               // notes given since then
  std::uint8_t nextOnTie_ = 0;
  int eventOffset_ = 0;

  // The second half renders here; the pieces of the halves are shared out
  // between the calling thread and a helper.
  std::vector<float> secondBlock_;
  int stretchFrames_ = 0;
  std::unique_ptr<PieceSharing> sharing_;
};

}  // namespace platform
