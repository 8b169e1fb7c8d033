#include "platform/dsound/sound_buffer.h"

#include <cmath>
#include <cstring>

#include "platform/com/com.h"
#include "platform/dsound/recording_sink.h"

namespace platform {

CSoundBuffer::CSoundBuffer(DWORD sampleRate) {
  format_.wFormatTag = WAVE_FORMAT_PCM;
  format_.nChannels = 2;
  format_.nSamplesPerSec = sampleRate;
  format_.wBitsPerSample = 16;
  format_.nBlockAlign = 4;
  format_.nAvgBytesPerSec = sampleRate * 4;
  format_.cbSize = 0;
}

CSoundBuffer::~CSoundBuffer() { FreeEffects(effects_); }

HRESULT CSoundBuffer::GetFormat(WAVEFORMATEX* pwfx, DWORD dwSizeAllocated, DWORD* pdwSizeWritten) {
  if (pwfx == nullptr && pdwSizeWritten == nullptr) return DSERR_INVALIDPARAM;
  if (pwfx != nullptr) {
    if (dwSizeAllocated < sizeof(WAVEFORMATEX)) return DSERR_INVALIDPARAM;
    std::memcpy(pwfx, &format_, sizeof(WAVEFORMATEX));
  }
  if (pdwSizeWritten != nullptr) *pdwSizeWritten = sizeof(WAVEFORMATEX);
  return S_OK;
}

HRESULT CSoundBuffer::GetVolume(LONG* plVolume) {
  if (plVolume == nullptr) return DSERR_INVALIDPARAM;
  *plVolume = volume_.load();
  return S_OK;
}

HRESULT CSoundBuffer::SetVolume(LONG lVolume) {
  if (lVolume < DSBVOLUME_MIN || lVolume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
  volume_.store(lVolume);
  gain_.store(lVolume == DSBVOLUME_MAX ? 1.0f : static_cast<float>(std::pow(10.0, lVolume / 2000.0)));
  return S_OK;
}

HRESULT CSoundBuffer::CreateEffect(const DSEFFECTDESC& desc, Effect& effect, DWORD& resultCode) const {
  resultCode = DSFXR_FAILED;
  HRESULT hr =
      CoCreateInstance(desc.guidDSFXClass, nullptr, CLSCTX_INPROC_SERVER, IID_IMediaObject, effect.object.PutVoid());
  if (FAILED(hr)) {
    if (hr == REGDB_E_CLASSNOTREG) resultCode = DSFXR_UNKNOWN;
    return hr;
  }
  // The effect runs on the buffer's own format, the same on both sides.
  DMO_MEDIA_TYPE type{};
  type.majortype = MEDIATYPE_Audio;
  type.subtype = MEDIASUBTYPE_PCM;
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = format_.nBlockAlign;
  type.formattype = FORMAT_WaveFormatEx;
  type.cbFormat = sizeof(WAVEFORMATEX);
  WAVEFORMATEX format = format_;
  type.pbFormat = reinterpret_cast<BYTE*>(&format);
  hr = effect.object->SetInputType(0, &type, 0);
  if (FAILED(hr)) return hr;
  hr = effect.object->SetOutputType(0, &type, 0);
  if (FAILED(hr)) return hr;
  hr = effect.object->QueryInterface(IID_IMediaObjectInPlace, effect.inPlace.PutVoid());
  if (FAILED(hr)) return hr;
  hr = effect.object->AllocateStreamingResources();
  if (FAILED(hr)) return hr;
  resultCode = DSFXR_LOCSOFTWARE;
  return S_OK;
}

void CSoundBuffer::FreeEffects(std::vector<Effect>& effects) {
  for (Effect& effect : effects)
    if (effect.object) effect.object->FreeStreamingResources();
  effects.clear();
}

HRESULT CSoundBuffer::SetFX(DWORD dwEffectsCount, DSEFFECTDESC* pDSFXDesc, DWORD* pdwResultCodes) {
  if (dwEffectsCount > 0 && pDSFXDesc == nullptr) return DSERR_INVALIDPARAM;
  if (IsActive()) return DSERR_INVALIDCALL;

  // The old chain goes first, whatever becomes of the new one.
  std::vector<Effect> old;
  {
    std::lock_guard lock(effectsLock_);
    old.swap(effects_);
    recording_.store(false);
  }
  FreeEffects(old);
  if (dwEffectsCount == 0) return S_OK;

  std::vector<Effect> chain(dwEffectsCount);
  for (DWORD i = 0; i < dwEffectsCount; ++i) {
    DWORD code = DSFXR_FAILED;
    const HRESULT hr = CreateEffect(pDSFXDesc[i], chain[i], code);
    if (FAILED(hr)) {
      if (pdwResultCodes != nullptr)
        for (DWORD j = 0; j < dwEffectsCount; ++j) pdwResultCodes[j] = j == i ? code : DSFXR_UNALLOCATED;
      FreeEffects(chain);
      return hr;
    }
    if (pdwResultCodes != nullptr) pdwResultCodes[i] = code;
  }

  bool recording = false;
  for (Effect& effect : chain) {
    ComPtr<IRecordingSink> sink;
    if (SUCCEEDED(effect.object->QueryInterface(IID_IRecordingSink, sink.PutVoid())) && sink) {
      sink->BeginRecording();
      recording = true;
    }
  }
  std::lock_guard lock(effectsLock_);
  effects_.swap(chain);
  recording_.store(recording);
  return S_OK;
}

void CSoundBuffer::Process(std::int16_t* samples, std::size_t frames, REFERENCE_TIME start) {
  std::lock_guard lock(effectsLock_);
  const auto bytes = static_cast<ULONG>(frames * format_.nBlockAlign);
  for (Effect& effect : effects_)
    effect.inPlace->Process(bytes, reinterpret_cast<BYTE*>(samples), start, DMO_INPLACE_NORMAL);
}

void CSoundBuffer::Discontinuity() {
  std::lock_guard lock(effectsLock_);
  for (Effect& effect : effects_) effect.object->Discontinuity(0);
}

}  // namespace platform
