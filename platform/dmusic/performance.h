// The performance: plays segments on audio paths through the synthesiser of the
// port chosen at InitAudio. Registered as the built-in class
// CLSID_DirectMusicPerformance (RegisterPerformanceClasses, below).
//
// A performance may be initialised again after CloseDown: each InitAudio starts
// from a reset synthesiser, a new tool graph and new audio paths; paths of an
// earlier initialisation stay valid objects but lead nowhere.
#pragma once

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dmusic/dmusic.h"
#include "platform/synth/piece_sharing.h"

namespace platform {

class CAudioPath;
class PMsgPool;
class PerformanceCore;

// Result of InitAudio on a performance that is initialised already.
constexpr HRESULT DMUS_E_ALREADY_INITED = MakeResult(0x88781151);

class CPerformance final
    : public ComObject<IDirectMusicPerformance8, IID_IDirectMusicPerformance, IID_IDirectMusicPerformance8> {
 public:
  CPerformance();

  // IDirectMusicPerformance
  //
  // Stops every segment (pSegment and pSegmentState null) or one, at once.
  HRESULT Stop(IDirectMusicSegment* pSegment, IDirectMusicSegmentState* pSegmentState, MUSIC_TIME mtTime,
               DWORD dwFlags) override;
  // The performance's clock (100 ns units) and the music time it maps to.
  HRESULT GetTime(REFERENCE_TIME* prtNow, MUSIC_TIME* pmtNow) override;
  HRESULT AllocPMsg(ULONG cb, DMUS_PMSG** ppPMSG) override;
  HRESULT SendPMsg(DMUS_PMSG* pPMSG) override;
  HRESULT FreePMsg(DMUS_PMSG* pPMSG) override;
  // Music time is counted from the start of the controlling segment; its tempo
  // map and the master tempo give the reference time.
  HRESULT MusicToReferenceTime(MUSIC_TIME mtTime, REFERENCE_TIME* prtTime) override;
  HRESULT ReferenceToMusicTime(REFERENCE_TIME rtTime, MUSIC_TIME* pmtTime) override;
  HRESULT GetGraph(IDirectMusicGraph** ppGraph) override;
  HRESULT AddNotificationType(REFGUID rguidNotificationType) override;
  HRESULT RemoveNotificationType(REFGUID rguidNotificationType) override;
  // S_FALSE (and null) when no notification is waiting.
  HRESULT GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** ppNotificationPMsg) override;
  HRESULT GetGlobalParam(REFGUID rguidType, void* pParam, DWORD dwSize) override;
  // GUID_PerfMasterTempo (float, 0.01-100: every tempo is multiplied by it),
  // GUID_PerfMasterVolume (long, hundredths of a decibel, -20000 to 2000),
  // GUID_PerfAutoDownload (BOOL); other parameters are kept as given.
  HRESULT SetGlobalParam(REFGUID rguidType, void* pParam, DWORD dwSize) override;
  HRESULT CloseDown() override;

  // IDirectMusicPerformance8
  //
  // Takes the given DirectMusic object (or creates one), opens the synthesiser
  // of the port pParams->clsidDefaultSynth names (GUID_NULL or no parameters: the
  // first port) and makes the default audio path. DMUS_E_CANNOT_OPEN_PORT when no
  // port has that identity or its SoundFont cannot be loaded.
  HRESULT InitAudio(IDirectMusic8** ppDirectMusic, IDirectSound** ppDirectSound, HWND hWnd, DWORD dwDefaultPathType,
                    DWORD dwPChannelCount, DWORD dwFlags, DMUS_AUDIOPARAMS* pParams) override;
  // Plays a segment of ours at once on pAudioPath (null: the default path).
  HRESULT PlaySegmentEx(IUnknown* pSource, WCHAR* pwzSegmentName, IUnknown* pTransition, DWORD dwFlags,
                        LONGLONG i64StartTime, IDirectMusicSegmentState** ppSegmentState, IUnknown* pFrom,
                        IUnknown* pAudioPath) override;
  HRESULT CreateStandardAudioPath(DWORD dwType, DWORD dwPChannelCount, BOOL fActivate,
                                  IDirectMusicAudioPath** ppNewPath) override;

  // ---- For the platform's users ----
  // Ends the output ms from now, its last few milliseconds fading to silence,
  // and keeps it silent until a segment plays again: for a recording that must
  // stop while sound remains, so that it does not end in a step.
  void FadeOutIn(DWORD ms);
  // True from InitAudio to CloseDown: only then can anything sound.
  bool IsSetUp() const;
  // Gives the synthesiser's helper thread owner's job for its spare time, as
  // encoding the recording being made (see PieceSharing::SetSpareWork); an empty
  // one removes owner's job. False when the job is not taken: nothing is set up,
  // or the synthesiser renders on one thread.
  bool SetSpareWork(PieceSharing::SpareWork work, const void* owner);
  // Samples clamped to 16 bits since the last InitAudio.
  std::uint64_t ClippedSamples() const;
  // Messages allocated and not yet freed.
  std::size_t OutstandingMessages() const;

 private:
  ~CPerformance() override;
  std::shared_ptr<PerformanceCore> Core() const;

  const std::shared_ptr<PMsgPool> pool_;
  mutable std::mutex lock_;
  std::shared_ptr<PerformanceCore> core_;
  ComPtr<IDirectMusic8> directMusic_;
  ComPtr<CAudioPath> defaultPath_;
  REFERENCE_TIME clockEnd_ = 0;  // the clock where the last initialisation left it
  float masterTempo_ = 1.0f;
  LONG masterVolume_ = 0;
  std::map<std::array<std::uint8_t, sizeof(GUID)>, std::vector<std::uint8_t>>
      params_;  // other global parameters by GUID bytes
};

// The performance behind an interface of ours; null for anyone else's.
CPerformance* AsPerformance(IUnknown* unknown);

// Enters the performance and the loader in the class table
// (CLSID_DirectMusicPerformance, CLSID_DirectMusicLoader).
void RegisterPerformanceClasses();

}  // namespace platform
