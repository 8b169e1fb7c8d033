#include "platform/dmusic/performance.h"

#include <cstring>

#include "platform/com/com.h"
#include "platform/dmusic/audio_path.h"
#include "platform/dmusic/loader.h"
#include "platform/dmusic/performance_core.h"
#include "platform/dmusic/pmsg_pool.h"
#include "platform/dmusic/port_table.h"
#include "platform/dmusic/segment.h"
#include "platform/synth/synthesizer.h"

namespace platform {
namespace {

std::array<std::uint8_t, sizeof(GUID)> GuidBytes(const GUID& guid) {
  std::array<std::uint8_t, sizeof(GUID)> bytes{};
  std::memcpy(bytes.data(), &guid, sizeof(GUID));
  return bytes;
}

constexpr float kMinMasterTempo = 0.01f;
constexpr float kMaxMasterTempo = 100.0f;
constexpr LONG kMinMasterVolume = -20000;
constexpr LONG kMaxMasterVolume = 2000;

}  // namespace

CPerformance::CPerformance() : pool_(std::make_shared<PMsgPool>()) {}

CPerformance::~CPerformance() { CloseDown(); }

std::shared_ptr<PerformanceCore> CPerformance::Core() const {
  std::lock_guard lock(lock_);
  return core_;
}

HRESULT CPerformance::InitAudio(IDirectMusic8** ppDirectMusic, IDirectSound** ppDirectSound, HWND,
                                DWORD dwDefaultPathType, DWORD, DWORD, DMUS_AUDIOPARAMS* pParams) {
  std::lock_guard lock(lock_);
  if (core_) return DMUS_E_ALREADY_INITED;

  ComPtr<IDirectMusic8> directMusic;
  if (ppDirectMusic != nullptr && *ppDirectMusic != nullptr) {
    directMusic = ComPtr<IDirectMusic8>::Share(*ppDirectMusic);
  } else {
    const HRESULT hr =
        CoCreateInstance(CLSID_DirectMusic, nullptr, CLSCTX_INPROC, IID_IDirectMusic8, directMusic.PutVoid());
    if (FAILED(hr)) return hr;
    if (ppDirectMusic != nullptr) {
      directMusic->AddRef();
      *ppDirectMusic = directMusic.Get();
    }
  }
  // No DirectSound object is made: the audio paths' buffers play on their own.
  (void)ppDirectSound;

  GUID port = GUID_NULL;
  if (pParams != nullptr && (pParams->dwValidData & DMUS_AUDIOPARAMS_DEFAULTSYNTH) != 0)
    port = pParams->clsidDefaultSynth;
  const std::optional<std::string> soundFont = SoundFontPathForPort(port);
  if (!soundFont) return DMUS_E_CANNOT_OPEN_PORT;
  std::shared_ptr<Synthesizer> synth;
  if (const HRESULT hr = Synthesizer::Acquire(*soundFont, synth); FAILED(hr)) return hr;

  auto core = std::make_shared<PerformanceCore>(this, std::move(synth), pool_, clockEnd_);
  if (const HRESULT hr = core->Init(); FAILED(hr)) return hr;
  core->SetMasterTempo(masterTempo_);
  core->SetMasterVolume(masterVolume_);
  if (dwDefaultPathType != 0)
    defaultPath_ = ComPtr<CAudioPath>::Adopt(new CAudioPath(core, Synthesizer::kSampleRate, true));
  directMusic_ = std::move(directMusic);
  core_ = std::move(core);

  if (pParams != nullptr) {
    // What the synthesiser actually runs with.
    pParams->dwSampleRate = Synthesizer::kSampleRate;
    pParams->dwVoices = Synthesizer::kPolyphony;
  }
  return S_OK;
}

HRESULT CPerformance::CreateStandardAudioPath(DWORD dwType, DWORD, BOOL fActivate, IDirectMusicAudioPath** ppNewPath) {
  if (ppNewPath == nullptr) return E_POINTER;
  *ppNewPath = nullptr;
  if (dwType != DMUS_APATH_DYNAMIC_STEREO && dwType != DMUS_APATH_SHARED_STEREOPLUSREVERB &&
      dwType != DMUS_APATH_DYNAMIC_MONO && dwType != DMUS_APATH_DYNAMIC_3D)
    return E_INVALIDARG;
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  *ppNewPath = new CAudioPath(core, Synthesizer::kSampleRate, fActivate != FALSE);
  return S_OK;
}

HRESULT CPerformance::PlaySegmentEx(IUnknown* pSource, WCHAR*, IUnknown*, DWORD dwFlags, LONGLONG,
                                    IDirectMusicSegmentState** ppSegmentState, IUnknown*, IUnknown* pAudioPath) {
  if (ppSegmentState != nullptr) *ppSegmentState = nullptr;
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  CSegment* segment = AsSegment(pSource);
  if (segment == nullptr) return E_INVALIDARG;
  ComPtr<CAudioPath> path;
  if (pAudioPath != nullptr) {
    path = ComPtr<CAudioPath>::Share(AsAudioPath(pAudioPath));
    if (!path || !path->BelongsTo(core.get())) return E_INVALIDARG;
  } else {
    std::lock_guard lock(lock_);
    path = defaultPath_;
    if (!path) return DMUS_E_NO_AUDIOPATH;
  }
  // A primary segment, or a secondary one that controls, sets the time line.
  const bool control = (dwFlags & DMUS_SEGF_SECONDARY) == 0 || (dwFlags & DMUS_SEGF_CONTROL) != 0;
  return core->Play(segment, path.Get(), control, ppSegmentState);
}

HRESULT CPerformance::Stop(IDirectMusicSegment* pSegment, IDirectMusicSegmentState*, MUSIC_TIME, DWORD) {
  if (const std::shared_ptr<PerformanceCore> core = Core()) core->Stop(pSegment);
  return S_OK;
}

HRESULT CPerformance::CloseDown() {
  std::shared_ptr<PerformanceCore> core;
  ComPtr<CAudioPath> defaultPath;
  ComPtr<IDirectMusic8> directMusic;
  {
    std::lock_guard lock(lock_);
    core.swap(core_);
    defaultPath = std::move(defaultPath_);
    directMusic = std::move(directMusic_);
  }
  if (core) {
    core->Shutdown();
    std::lock_guard lock(lock_);
    clockEnd_ = core->Now();
  }
  return S_OK;
}

HRESULT CPerformance::GetTime(REFERENCE_TIME* prtNow, MUSIC_TIME* pmtNow) {
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  const REFERENCE_TIME now = core->Now();
  if (prtNow != nullptr) *prtNow = now;
  if (pmtNow != nullptr) *pmtNow = core->ReferenceToMusic(now);
  return S_OK;
}

HRESULT CPerformance::AllocPMsg(ULONG cb, DMUS_PMSG** ppPMSG) {
  if (ppPMSG == nullptr) return E_POINTER;
  *ppPMSG = pool_->Alloc(cb);
  if (*ppPMSG != nullptr) return S_OK;
  return cb < sizeof(DMUS_PMSG) ? E_INVALIDARG : E_OUTOFMEMORY;
}

HRESULT CPerformance::SendPMsg(DMUS_PMSG* pPMSG) {
  if (pPMSG == nullptr) return E_POINTER;
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  return core->Send(pPMSG);
}

HRESULT CPerformance::FreePMsg(DMUS_PMSG* pPMSG) { return pool_->Free(pPMSG); }

HRESULT CPerformance::MusicToReferenceTime(MUSIC_TIME mtTime, REFERENCE_TIME* prtTime) {
  if (prtTime == nullptr) return E_POINTER;
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  *prtTime = core->MusicToReference(mtTime);
  return S_OK;
}

HRESULT CPerformance::ReferenceToMusicTime(REFERENCE_TIME rtTime, MUSIC_TIME* pmtTime) {
  if (pmtTime == nullptr) return E_POINTER;
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  *pmtTime = core->ReferenceToMusic(rtTime);
  return S_OK;
}

HRESULT CPerformance::GetGraph(IDirectMusicGraph** ppGraph) {
  if (ppGraph == nullptr) return E_POINTER;
  *ppGraph = nullptr;
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  return core->GetGraph(ppGraph);
}

HRESULT CPerformance::AddNotificationType(REFGUID rguidNotificationType) {
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  return core->AddNotificationType(rguidNotificationType);
}

HRESULT CPerformance::RemoveNotificationType(REFGUID rguidNotificationType) {
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return DMUS_E_NOT_INIT;
  return core->RemoveNotificationType(rguidNotificationType);
}

HRESULT CPerformance::GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** ppNotificationPMsg) {
  if (ppNotificationPMsg == nullptr) return E_POINTER;
  *ppNotificationPMsg = nullptr;
  const std::shared_ptr<PerformanceCore> core = Core();
  if (!core) return S_FALSE;
  return core->GetNotification(ppNotificationPMsg);
}

HRESULT CPerformance::GetGlobalParam(REFGUID rguidType, void* pParam, DWORD dwSize) {
  if (pParam == nullptr) return E_POINTER;
  std::lock_guard lock(lock_);
  if (rguidType == GUID_PerfMasterTempo) {
    if (dwSize != sizeof(float)) return E_INVALIDARG;
    std::memcpy(pParam, &masterTempo_, sizeof(float));
    return S_OK;
  }
  if (rguidType == GUID_PerfMasterVolume) {
    if (dwSize != sizeof(LONG)) return E_INVALIDARG;
    std::memcpy(pParam, &masterVolume_, sizeof(LONG));
    return S_OK;
  }
  auto it = params_.find(GuidBytes(rguidType));
  if (it == params_.end()) return DMUS_E_NOT_FOUND;
  if (dwSize != it->second.size()) return E_INVALIDARG;
  std::memcpy(pParam, it->second.data(), dwSize);
  return S_OK;
}

HRESULT CPerformance::SetGlobalParam(REFGUID rguidType, void* pParam, DWORD dwSize) {
  if (pParam == nullptr) return E_POINTER;
  std::shared_ptr<PerformanceCore> core;
  {
    std::lock_guard lock(lock_);
    core = core_;
    if (rguidType == GUID_PerfMasterTempo) {
      float tempo = 0;
      if (dwSize != sizeof(float)) return E_INVALIDARG;
      std::memcpy(&tempo, pParam, sizeof(float));
      if (!(tempo >= kMinMasterTempo && tempo <= kMaxMasterTempo)) return E_INVALIDARG;
      masterTempo_ = tempo;
      if (core) core->SetMasterTempo(tempo);
      return S_OK;
    }
    if (rguidType == GUID_PerfMasterVolume) {
      LONG volume = 0;
      if (dwSize != sizeof(LONG)) return E_INVALIDARG;
      std::memcpy(&volume, pParam, sizeof(LONG));
      if (volume < kMinMasterVolume || volume > kMaxMasterVolume) return E_INVALIDARG;
      masterVolume_ = volume;
      if (core) core->SetMasterVolume(volume);
      return S_OK;
    }
    if (rguidType == GUID_PerfAutoDownload && dwSize != sizeof(BOOL)) return E_INVALIDARG;
    // Automatic download and everything else is kept as given: every instrument
    // of the SoundFont is always at the synthesiser's disposal.
    const auto* bytes = static_cast<const std::uint8_t*>(pParam);
    params_[GuidBytes(rguidType)].assign(bytes, bytes + dwSize);
  }
  return S_OK;
}

void CPerformance::FadeOutIn(DWORD ms) {
  if (const std::shared_ptr<PerformanceCore> core = Core()) core->FadeOutIn(ms);
}

bool CPerformance::IsSetUp() const { return Core() != nullptr; }

bool CPerformance::SetSpareWork(PieceSharing::SpareWork work, const void* owner) {
  const std::shared_ptr<PerformanceCore> core = Core();
  return core ? core->SetSpareWork(std::move(work), owner) : work == nullptr;
}

std::uint64_t CPerformance::ClippedSamples() const {
  const std::shared_ptr<PerformanceCore> core = Core();
  return core ? core->ClippedSamples() : 0;
}

std::size_t CPerformance::OutstandingMessages() const { return pool_->Outstanding(); }

CPerformance* AsPerformance(IUnknown* unknown) {
  if (unknown == nullptr) return nullptr;
  ComPtr<IDirectMusicPerformance> performance;
  if (FAILED(unknown->QueryInterface(IID_IDirectMusicPerformance, performance.PutVoid())) || !performance)
    return nullptr;
  return dynamic_cast<CPerformance*>(performance.Get());
}

namespace {

HRESULT CreatePerformance(REFIID riid, void** ppv) {
  auto* performance = new CPerformance();
  const HRESULT hr = performance->QueryInterface(riid, ppv);
  performance->Release();
  return hr;
}

HRESULT CreateLoader(REFIID riid, void** ppv) {
  auto* loader = new CLoader();
  const HRESULT hr = loader->QueryInterface(riid, ppv);
  loader->Release();
  return hr;
}

}  // namespace

void RegisterPerformanceClasses() {
  RegisterBuiltinClass(CLSID_DirectMusicPerformance, &CreatePerformance);
  RegisterBuiltinClass(CLSID_DirectMusicLoader, &CreateLoader);
}

}  // namespace platform
