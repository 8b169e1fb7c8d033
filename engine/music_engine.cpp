#include "engine/music_engine.h"

#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "base/debug_log.h"
#include "engine/engine_failure.h"
#include "engine/engine_state.h"
#include "engine/music_tool.h"
#include "engine/result_descriptions.h"
#include "ovdmofilter/captured_audio.h"
#include "platform/com/com.h"
#include "platform/core/code_page.h"
#include "platform/core/error_text.h"
#include "platform/dmusic/engine_classes.h"
#include "platform/dmusic/port_table.h"
#include "platform/synth/synthesizer.h"
#include "platform/synth/synthesizer_version.h"

namespace {

constexpr DWORD kClassContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD kPerformanceChannels = 64;

DMUS_PORTCAPS ClearedPortCaps() {
  DMUS_PORTCAPS caps;
  std::memset(&caps, 0, sizeof(caps));
  caps.dwSize = sizeof(DMUS_PORTCAPS);
  return caps;
}

// A port is offered when it takes instruments (either DLS level), plays
// (output class) and can render through an audio path.
bool IsOfferedPort(const DMUS_PORTCAPS& caps) {
  return (caps.dwFlags & (DMUS_PC_DLS | DMUS_PC_DLS2)) != 0 && caps.dwClass == DMUS_PC_OUTPUTCLASS &&
         (caps.dwFlags & DMUS_PC_AUDIOPATH) != 0;
}

// Writes the port's description into name as 8-bit text of at most
// kPortNameSize - 1 bytes, cut before a character that would not fit.
void CopyPortName(const DMUS_PORTCAPS& caps, char* name) {
  const WCHAR* wide = caps.wszDescription;
  int units = 0;
  while (units < static_cast<int>(std::size(caps.wszDescription)) && wide[units] != 0) ++units;
  name[0] = '\0';
  // Drop characters from the end until the text and its terminator fit.
  while (units > 0) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, units, nullptr, 0, nullptr, nullptr);
    if (bytes > 0 && bytes < kPortNameSize) {
      WideCharToMultiByte(CP_ACP, 0, wide, units, name, bytes, nullptr, nullptr);
      name[bytes] = '\0';
      return;
    }
    --units;
    if (units > 0 && wide[units - 1] >= 0xD800 && wide[units - 1] <= 0xDBFF) --units;
  }
}

}  // namespace

float MasterTempoFactor(DWORD tempoPosition) { return static_cast<float>(tempoPosition / 100.0 + 0.5); }

HRESULT InitDirectMusic(HWND hWnd) {
  platform::RegisterMusicEngineClasses();
  EngineState& state = g_EngineState;
  g_DebugLog.Print("InitDirectMusic");
  LogLevel level;

  HRESULT hr =
      CoCreateInstance(CLSID_DirectMusic, nullptr, kClassContext, IID_IDirectMusic8, state.pDirectMusic.PutVoid());
  if (FAILED(hr)) {
    LogFailure("IDirectMusic8", {.hr = hr, .level = &level});
    return hr;
  }
  // No DirectSound object of our own: one is made when needed, for this window.
  hr = state.pDirectMusic->SetDirectSound(nullptr, hWnd);
  if (FAILED(hr)) {
    LogFailure("pDirectMusic->SetDirectSound", {.hr = hr, .level = &level});
    return hr;
  }
  hr = CoCreateInstance(CLSID_DirectMusicPerformance, nullptr, kClassContext, IID_IDirectMusicPerformance8,
                        state.pPerformance.PutVoid());
  if (FAILED(hr)) {
    LogFailure("IID_IDirectMusicPerformance8", {.hr = hr, .level = &level});
    return hr;
  }
  hr = CoCreateInstance(CLSID_DirectMusicLoader, nullptr, kClassContext, IID_IDirectMusicLoader8,
                        state.pLoader.PutVoid());
  if (FAILED(hr)) {
    LogFailure("IID_IDirectMusicLoader8", {.hr = hr, .level = &level});
    return hr;
  }
  g_DebugLog.Print("ok");
  return S_OK;
}

HRESULT RemoveDirectMusic() {
  EngineState& state = g_EngineState;
  g_DebugLog.Print("RemoveDirectMusic");
  LogLevel level;

  state.pFilterCapture.Reset();
  state.pFilterObject.Reset();
  if (state.pAudioPath) state.pAudioPath->Activate(FALSE);
  // Deactivates every port.
  if (state.pDirectMusic) state.pDirectMusic->Activate(FALSE);
  state.pGraph.Reset();
  state.pAudioPath.Reset();
  state.pSegment.Reset();
  if (state.pPerformance) {
    state.pPerformance->Stop(nullptr, nullptr, 0, 0);
    state.pPerformance->CloseDown();
  }
  state.pLoader.Reset();
  state.pDirectMusic.Reset();
  state.pDirectSoundBufferInPath.Reset();
  state.pMusicTool.Reset();
  state.pSegmentState.Reset();
  state.pPerformance.Reset();
  platform::Synthesizer::FinishPreloads();
  // Balances the start-up's initialisation of the component runtime.
  CoUninitialize();

  g_DebugLog.Print("ok");
  return S_OK;
}

int EnumerateAllPorts(DWORD index, char* name) {
  EngineState& state = g_EngineState;
  g_DebugLog.Print("EnumerateAllPorts");
  LogLevel level;

  DMUS_PORTCAPS caps = ClearedPortCaps();
  const HRESULT hr = state.pDirectMusic ? state.pDirectMusic->EnumPort(index, &caps) : S_FALSE;
  if (hr == S_FALSE) {
    return 0;
  }
  // A port that could not be read is not offered, whatever the call left behind.
  if (FAILED(hr)) caps = ClearedPortCaps();
  name[0] = '\0';
  if (IsOfferedPort(caps)) CopyPortName(caps, name);
  return 1;
}

void PrepareSynthesizer(DWORD portIndex) {
  EngineState& state = g_EngineState;
  DMUS_PORTCAPS caps = ClearedPortCaps();
  if (!state.pDirectMusic || state.pDirectMusic->EnumPort(portIndex, &caps) != S_OK) return;
  if (const std::optional<std::string> soundFont = platform::SoundFontPathForPort(caps.guidPort))
    platform::Synthesizer::Preload(*soundFont);
}

std::vector<std::string> SoundFontFolders() { return platform::SoundFontSearchFolders(); }

const char* SynthesizerVersion() { return platform::FluidSynthVersion(); }

HRESULT ConfigureSynthesizer(DWORD portIndex, DWORD tempoPosition) {
  EngineState& state = g_EngineState;
  g_DebugLog.Print("ConfigureSynthesizer");
  LogLevel level;

  // The chosen port's identity; a port that no longer exists leaves GUID_NULL,
  // the default synthesiser.
  DMUS_PORTCAPS caps = ClearedPortCaps();
  HRESULT hr = state.pDirectMusic ? state.pDirectMusic->EnumPort(portIndex, &caps) : E_POINTER;
  if (FAILED(hr)) {
    LogFailure("pDirectMusic->EnumPort", {.hr = hr, .level = &level});
    return E_FAIL;
  }
  if (hr == S_FALSE) caps = ClearedPortCaps();

  DMUS_AUDIOPARAMS params;
  std::memset(&params, 0, sizeof(params));
  params.dwSize = sizeof(DMUS_AUDIOPARAMS);
  params.fInitNow = FALSE;
  params.dwValidData = DMUS_AUDIOPARAMS_FEATURES | DMUS_AUDIOPARAMS_DEFAULTSYNTH;
  params.dwFeatures = DMUS_AUDIOF_ALL;
  params.clsidDefaultSynth = caps.guidPort;

  // The performance uses our DirectMusic object rather than making another.
  IDirectMusic8* directMusic = state.pDirectMusic.Get();
  platform::TakeErrorText();  // only what this call leaves is its reason (a SoundFont that cannot be loaded)
  hr = state.pPerformance ? state.pPerformance->InitAudio(&directMusic, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO,
                                                          kPerformanceChannels, DMUS_AUDIOF_ALL, &params)
                          : E_POINTER;
  if (FAILED(hr)) {
    LogFailure("pPerformance->InitAudio", {.hr = hr, .reason = platform::TakeErrorText(), .level = &level});
    return E_FAIL;
  }

  hr = state.pPerformance->CreateStandardAudioPath(DMUS_APATH_DYNAMIC_STEREO, kPerformanceChannels, TRUE,
                                                   state.pAudioPath.Put());
  if (FAILED(hr)) {
    LogFailure("pPerformance->CreateStandardAudioPath", {.hr = hr, .level = &level});
    return E_FAIL;
  }

  // The path's first sound buffer: the capture effect is attached to it later.
  hr = state.pAudioPath->GetObjectInPath(DMUS_PCHANNEL_ALL, DMUS_PATH_BUFFER, 0, GUID_NULL, 0, IID_IDirectSoundBuffer8,
                                         state.pDirectSoundBufferInPath.PutVoid());
  if (FAILED(hr)) {
    LogFailure("pAudioPath->GetObjectInPath", {.hr = hr, .level = &level});
    return hr;
  }

  // Instruments reach the synthesiser when a segment plays.
  BOOL autoDownload = TRUE;
  hr = state.pPerformance->SetGlobalParam(GUID_PerfAutoDownload, &autoDownload, sizeof(autoDownload));
  if (FAILED(hr)) {
    LogFailure("pPerformance->SetGlobalParam(GUID_PerfAutoDownload)", {.hr = hr, .level = &level});
    return E_FAIL;
  }

  // The only way the tempo setting reaches playback: every tempo of every segment
  // is scaled by this factor.
  float masterTempo = MasterTempoFactor(tempoPosition);
  hr = state.pPerformance->SetGlobalParam(GUID_PerfMasterTempo, &masterTempo, sizeof(masterTempo));
  if (FAILED(hr)) {
    LogFailure("pPerformance->SetGlobalParam(GUID_PerfMasterTempo)", {.hr = hr, .level = &level});
    return E_FAIL;
  }

  // The performance's own tool graph, reached through the audio path.
  hr = state.pAudioPath->GetObjectInPath(0, DMUS_PATH_PERFORMANCE_GRAPH, 0, GUID_NULL, 0, IID_IDirectMusicGraph,
                                         state.pGraph.PutVoid());
  if (FAILED(hr)) {
    LogFailure("pAudioPath->GetObjectInPath(IID_IDirectMusicGraph)", {.hr = hr, .echo = false, .level = &level});
    return E_FAIL;
  }

  CMusicTool* tool = new (std::nothrow) CMusicTool();
  if (tool == nullptr) {
    LogFailure("new CMusicTool", {.echo = false, .level = &level});
    return E_OUTOFMEMORY;
  }
  state.pMusicTool = platform::ComPtr<CMusicTool>::Adopt(tool);

  // First in the graph, for the messages of every performance channel. Without it
  // the music still plays, so the configuration goes on.
  hr = state.pGraph->InsertTool(state.pMusicTool.Get(), nullptr, 0, 0);
  if (FAILED(hr)) {
    g_DebugLog.Print("InsertTool - FAILED");
    g_DebugLog.Print("hr = 0x%x. %s", static_cast<unsigned>(hr), GetResultDescription(hr));
  }

  hr = state.pAudioPath->SetVolume(0, 0);
  if (FAILED(hr)) {
    LogFailure("pDirectSoundBufferInPath->SetVolume(DSBVOLUME_MAX)", {.hr = hr, .level = &level});
    return E_FAIL;
  }

  LONG masterVolume = 0;
  hr = state.pPerformance->SetGlobalParam(GUID_PerfMasterVolume, &masterVolume, sizeof(masterVolume));
  if (FAILED(hr)) {
    LogFailure("pPerformance->SetGlobalParam", {.hr = hr, .level = &level});
    return hr;
  }

  hr = state.pDirectSoundBufferInPath->SetVolume(DSBVOLUME_MAX);
  if (FAILED(hr)) {
    LogFailure("pDirectSoundBufferInPath->SetVolume(DSBVOLUME_MAX)", {.hr = hr, .level = &level});
    return E_FAIL;
  }

  return S_OK;
}
