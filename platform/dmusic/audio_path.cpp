#include "platform/dmusic/audio_path.h"

#include <cmath>

#include "platform/dmusic/performance_core.h"

namespace platform {

CAudioPath::CAudioPath(std::shared_ptr<PerformanceCore> core, DWORD sampleRate, bool active)
    : core_(std::move(core)), buffer_(ComPtr<CSoundBuffer>::Adopt(new CSoundBuffer(sampleRate))) {
  buffer_->SetActive(active);
}

HRESULT CAudioPath::GetObjectInPath(DWORD, DWORD dwStage, DWORD dwBuffer, REFGUID, DWORD dwIndex, REFIID iidInterface,
                                    void** ppObject) {
  if (ppObject == nullptr) return E_POINTER;
  *ppObject = nullptr;
  if (core_->IsShutDown()) return DMUS_E_NOT_INIT;
  switch (dwStage) {
    case DMUS_PATH_BUFFER:
      if (dwBuffer != 0 || dwIndex != 0) return DMUS_E_NOT_FOUND;
      return buffer_->QueryInterface(iidInterface, ppObject);
    case DMUS_PATH_PERFORMANCE_GRAPH: {
      if (dwIndex != 0) return DMUS_E_NOT_FOUND;
      ComPtr<IDirectMusicGraph> graph;
      const HRESULT hr = core_->GetGraph(graph.Put());
      if (FAILED(hr)) return hr;
      return graph->QueryInterface(iidInterface, ppObject);
    }
    case DMUS_PATH_PERFORMANCE:
      if (dwIndex != 0 || core_->Owner() == nullptr) return DMUS_E_NOT_FOUND;
      return core_->Owner()->QueryInterface(iidInterface, ppObject);
    case DMUS_PATH_AUDIOPATH:
      if (dwIndex != 0) return DMUS_E_NOT_FOUND;
      return QueryInterface(iidInterface, ppObject);
    default:
      return DMUS_E_NOT_FOUND;
  }
}

HRESULT CAudioPath::Activate(BOOL fActivate) {
  buffer_->SetActive(fActivate != FALSE);
  return S_OK;
}

HRESULT CAudioPath::SetVolume(LONG lVolume, DWORD) {
  if (lVolume < -9600 || lVolume > 0) return E_INVALIDARG;
  gain_.store(lVolume == 0 ? 1.0f : static_cast<float>(std::pow(10.0, lVolume / 2000.0)));
  return S_OK;
}

CAudioPath* AsAudioPath(IUnknown* unknown) {
  if (unknown == nullptr) return nullptr;
  ComPtr<IDirectMusicAudioPath> path;
  if (FAILED(unknown->QueryInterface(IID_IDirectMusicAudioPath, path.PutVoid())) || !path) return nullptr;
  return dynamic_cast<CAudioPath*>(path.Get());
}

}  // namespace platform
