// The sound buffer of an audio path: 16-bit stereo PCM at the synthesiser's rate,
// a volume, and a chain of in-place effects (media objects) that every rendered
// block passes through. An effect that declares itself a recording sink makes the
// buffer a recording buffer: it leaves the speakers and the performance drives it
// off-line.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dmo/dmo.h"
#include "platform/dsound/dsound.h"

namespace platform {

class CSoundBuffer final : public ComObject<IDirectSoundBuffer8, IID_IDirectSoundBuffer, IID_IDirectSoundBuffer8> {
 public:
  // Starts with one reference, owned by whoever created it.
  explicit CSoundBuffer(DWORD sampleRate);

  // IDirectSoundBuffer8
  //
  // The buffer's format; with pwfx null only the size needed is written.
  // DSERR_INVALIDPARAM when dwSizeAllocated is too small for it.
  HRESULT GetFormat(WAVEFORMATEX* pwfx, DWORD dwSizeAllocated, DWORD* pdwSizeWritten) override;
  HRESULT GetVolume(LONG* plVolume) override;
  // Attenuation in hundredths of a decibel, DSBVOLUME_MIN (-10000) to
  // DSBVOLUME_MAX (0, unity); applied to every sample. DSERR_INVALIDPARAM outside.
  HRESULT SetVolume(LONG lVolume) override;
  // Replaces the effects with dwEffectsCount new ones; 0 removes them all. Only
  // while the buffer is inactive (DSERR_INVALIDCALL otherwise). Each effect is
  // created by its class for IMediaObject, given the buffer's format on its input
  // and output, and must offer IMediaObjectInPlace; its result code is
  // DSFXR_LOCSOFTWARE, or DSFXR_UNKNOWN (class not registered) / DSFXR_FAILED for
  // the one that failed (the others DSFXR_UNALLOCATED), in which case no effect
  // stays attached and the failing call's result is returned. Once all are in
  // place, an effect offering IRecordingSink is told to begin a new recording.
  HRESULT SetFX(DWORD dwEffectsCount, DSEFFECTDESC* pDSFXDesc, DWORD* pdwResultCodes) override;

  // ---- The performance's side ----
  // The audio path switches the buffer on and off.
  void SetActive(bool active) { active_.store(active); }
  bool IsActive() const { return active_.load(); }
  // True while an attached effect is a recording sink.
  bool IsRecording() const { return recording_.load(); }
  // The buffer's volume as a linear factor (1 at DSBVOLUME_MAX).
  float Gain() const { return gain_.load(); }
  const WAVEFORMATEX& Format() const { return format_; }
  // Runs frames of interleaved 16-bit stereo through the effects, in place;
  // start is the block's reference time.
  void Process(std::int16_t* samples, std::size_t frames, REFERENCE_TIME start);
  // Tells every effect that the stream starts afresh (at the start of playback).
  void Discontinuity();

 private:
  struct Effect {
    ComPtr<IMediaObject> object;
    ComPtr<IMediaObjectInPlace> inPlace;
  };

  ~CSoundBuffer() override;
  HRESULT CreateEffect(const DSEFFECTDESC& desc, Effect& effect, DWORD& resultCode) const;
  static void FreeEffects(std::vector<Effect>& effects);

  WAVEFORMATEX format_{};
  std::atomic<bool> active_{false};
  std::atomic<bool> recording_{false};
  std::atomic<LONG> volume_{DSBVOLUME_MAX};
  std::atomic<float> gain_{1.0f};
  // Guards the effect chain: SetFX on a caller's thread, Process on the render thread.
  mutable std::mutex effectsLock_;
  std::vector<Effect> effects_;
};

}  // namespace platform
