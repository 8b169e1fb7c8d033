#include "tests/platform/dmusic/render_session.h"

#include "platform/com/com.h"
#include "platform/core/code_page.h"
#include "platform/core/kernel.h"
#include "tests/platform/dmusic/fake_effect.h"

namespace dmusic_test {

HRESULT Session::Configure(float masterTempo) {
  HRESULT hr = S_OK;
  if (!performance) {
    hr = CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, CLSCTX_INPROC, IID_IDirectMusicPerformance8,
                          performance.PutVoid());
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(CLSID_DirectMusicLoader, nullptr, CLSCTX_INPROC, IID_IDirectMusicLoader8, loader.PutVoid());
    if (FAILED(hr)) return hr;
  }
  DMUS_AUDIOPARAMS params{};
  params.dwSize = sizeof(params);
  params.dwValidData = DMUS_AUDIOPARAMS_FEATURES | DMUS_AUDIOPARAMS_DEFAULTSYNTH;
  params.dwFeatures = DMUS_AUDIOF_ALL;
  params.clsidDefaultSynth = port_;
  hr = performance->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 64, DMUS_AUDIOF_ALL, &params);
  if (FAILED(hr)) return hr;
  hr = performance->CreateStandardAudioPath(DMUS_APATH_DYNAMIC_STEREO, 64, TRUE, path.Put());
  if (FAILED(hr)) return hr;
  hr = path->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, GUID_NULL, 0, IID_IDirectSoundBuffer8,
                             buffer.PutVoid());
  if (FAILED(hr)) return hr;
  hr = performance->SetGlobalParam(GUID_PerfMasterTempo, &masterTempo, sizeof(masterTempo));
  if (FAILED(hr)) return hr;
  return path->GetObjectInPath(0, DMUS_PATH_PERFORMANCE_GRAPH, 0, GUID_NULL, 0, IID_IDirectMusicGraph, graph.PutVoid());
}

HRESULT Session::Load(const std::string& file) {
  DMUS_OBJECTDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME;
  desc.guidClass = CLSID_DirectMusicSegment;
  MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, desc.wszFileName, static_cast<int>(DMUS_MAX_FILENAME));
  HRESULT hr = loader->GetObject(&desc, IID_IDirectMusicSegment8, segment.PutVoid());
  if (FAILED(hr)) return hr;
  return segment->SetParam(GUID_StandardMIDIFile, 0xFFFFFFFF, 0, 0, nullptr);
}

Rendering Session::Render(const std::string& midiPath, float masterTempo, IDirectMusicTool* tool, DWORD maxMs) {
  Rendering result;
  if (FAILED(result.hr = Configure(masterTempo))) return result;
  if (tool != nullptr) graph->InsertTool(tool, nullptr, 0, 0);
  if (FAILED(result.hr = Load(midiPath))) return result;
  path->Activate(FALSE);
  DSEFFECTDESC effect{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, CLSID_TestRecorder, 0, 0};
  DWORD code = 0;
  if (FAILED(result.hr = buffer->SetFX(1, &effect, &code))) return result;
  path->Activate(TRUE);
  segment->SetRepeats(0);
  performance->AddNotificationType(GUID_NOTIFICATION_SEGMENT);
  platform::ComPtr<IDirectMusicSegmentState> state;
  result.hr = performance->PlaySegmentEx(segment.Get(), nullptr, nullptr, DMUS_SEGF_SECONDARY | DMUS_SEGF_CONTROL, 0,
                                         state.Put(), nullptr, path.Get());
  if (FAILED(result.hr)) return result;
  performance->GetTime(&result.startTime, nullptr);
  segment->GetLength(&result.length);
  performance->MusicToReferenceTime(result.length, &result.endTime);
  bool almostEnd = false;
  while (!almostEnd && result.sleptMs < maxMs) {
    DMUS_NOTIFICATION_PMSG* msg = nullptr;
    while (performance->GetNotificationPMsg(&msg) == S_OK && msg != nullptr) {
      result.notifications.push_back({msg->dwNotificationOption, result.sleptMs});
      almostEnd = almostEnd || msg->dwNotificationOption == DMUS_NOTIFICATION_SEGALMOSTEND;
      performance->FreePMsg(msg);
    }
    if (almostEnd) break;
    platform::Sleep(100);
    result.sleptMs += 100;
  }
  platform::Sleep(700);
  result.sleptMs += 700;
  performance->Stop(nullptr, nullptr, 0, 0);
  DMUS_NOTIFICATION_PMSG* msg = nullptr;
  while (performance->GetNotificationPMsg(&msg) == S_OK && msg != nullptr) {
    result.notifications.push_back({msg->dwNotificationOption, result.sleptMs});
    performance->FreePMsg(msg);
  }
  performance->CloseDown();
  result.pcm = TheEffectRecord().Bytes();
  return result;
}

}  // namespace dmusic_test
