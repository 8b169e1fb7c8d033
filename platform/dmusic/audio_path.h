// An audio path: the performance's output to one sound buffer, with a volume.
// It reaches the buffer and the performance's tool graph through GetObjectInPath.
#pragma once

#include <atomic>
#include <memory>

#include "platform/com/com_object.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dsound/sound_buffer.h"

namespace platform {

class PerformanceCore;

class CAudioPath final : public ComObject<IDirectMusicAudioPath, IID_IDirectMusicAudioPath> {
 public:
  // Starts with one reference, owned by whoever created it.
  CAudioPath(std::shared_ptr<PerformanceCore> core, DWORD sampleRate, bool active);

  // IDirectMusicAudioPath
  //
  // Stages: DMUS_PATH_BUFFER (buffer 0, index 0: the path's sound buffer),
  // DMUS_PATH_PERFORMANCE_GRAPH (the performance's tool graph),
  // DMUS_PATH_PERFORMANCE (the performance), DMUS_PATH_AUDIOPATH (the path);
  // anything else DMUS_E_NOT_FOUND. DMUS_E_NOT_INIT once the performance has
  // closed down.
  HRESULT GetObjectInPath(DWORD dwPChannel, DWORD dwStage, DWORD dwBuffer, REFGUID guidObject, DWORD dwIndex,
                          REFIID iidInterface, void** ppObject) override;
  // An inactive path's buffer may change its effects; it plays nothing.
  HRESULT Activate(BOOL fActivate) override;
  // Attenuation in hundredths of a decibel, -9600 to 0; applies at once.
  HRESULT SetVolume(LONG lVolume, DWORD dwDuration) override;

  // ---- The performance's side ----
  CSoundBuffer* Buffer() const { return buffer_.Get(); }
  bool IsActive() const { return buffer_->IsActive(); }
  // The path's and its buffer's volume together, as a linear factor.
  float Gain() const { return gain_.load() * buffer_->Gain(); }
  bool BelongsTo(const PerformanceCore* core) const { return core_.get() == core; }

 private:
  ~CAudioPath() override = default;

  std::shared_ptr<PerformanceCore> core_;
  ComPtr<CSoundBuffer> buffer_;
  std::atomic<float> gain_{1.0f};
};

// The audio path behind an interface of ours; null for anyone else's.
CAudioPath* AsAudioPath(IUnknown* unknown);

}  // namespace platform
