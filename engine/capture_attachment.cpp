#include "engine/capture_attachment.h"

#include <cstdint>
#include <cstring>

#include "base/debug_log.h"
#include "engine/engine_failure.h"
#include "engine/engine_state.h"
#include "ovdmofilter/captured_audio.h"
#include "platform/com/com.h"
#include "platform/core/code_page.h"
#include "platform/core/error_text.h"
#include "platform/core/kernel.h"
#include "platform/dmo/dmo.h"

namespace {

constexpr const char* kFilterName = "OVDMOFilter";
constexpr int kNameBufferSize = 4096;

// Replaces the effects of the audio path's buffer with count effects from descs;
// the path is inactive while they change and, when that works, active again.
// level is the caller's.
HRESULT ChangeBufferEffects(DWORD count, DSEFFECTDESC* descs, DWORD* results, LogLevel& level) {
  EngineState& state = g_EngineState;
  if (!state.pDirectSoundBufferInPath) {
    g_DebugLog.Print("pDirectSoundBufferInPath = NULL");
    return E_FAIL;
  }
  if (state.pAudioPath) state.pAudioPath->Activate(FALSE);
  const HRESULT hr = state.pDirectSoundBufferInPath->SetFX(count, descs, results);
  if (FAILED(hr)) {
    LogFailure("pDirectSoundBufferInPath->SetFX", {.hr = hr, .level = &level});
    return hr;
  }
  if (state.pAudioPath) state.pAudioPath->Activate(TRUE);
  return S_OK;
}

}  // namespace

HRESULT FindFilter() {
  g_DebugLog.Print("FindFilter");
  LogLevel level;
  EngineState& state = g_EngineState;

  platform::ComPtr<IEnumDMO> pDMOEnum;
  HRESULT hr = DMOEnum(DMOCATEGORY_AUDIO_EFFECT, DMO_ENUMF_INCLUDE_KEYED, 0, nullptr, 0, nullptr, pDMOEnum.Put());
  if (FAILED(hr)) {
    LogFailure("DMOEnum", {.hr = hr, .level = &level});
    return hr;
  }

  // The first entry with exactly that name wins; the enumerator goes with pDMOEnum
  // on every path out of the search.
  CLSID clsid = GUID_NULL;
  char szName[kNameBufferSize];
  for (;;) {
    WCHAR* name = nullptr;
    DWORD fetched = 0;
    hr = pDMOEnum->Next(1, &clsid, &name, &fetched);
    if (FAILED(hr)) {
      LogFailure("pDMOEnum->Next", {.level = &level});
      return hr;
    }
    if (hr != S_OK) return hr;
    // A name that is missing or does not fit the buffer matches nothing.
    szName[0] = '\0';
    if (name != nullptr &&
        WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK, name, -1, szName, kNameBufferSize, nullptr, nullptr) == 0)
      szName[0] = '\0';
    CoTaskMemFree(name);
    if (std::strcmp(szName, kFilterName) == 0) break;
  }
  pDMOEnum.Reset();

  state.FilterDesc = DSEFFECTDESC{};
  state.FilterDesc.dwSize = sizeof(DSEFFECTDESC);
  state.FilterDesc.dwFlags = DSFX_LOCSOFTWARE;
  state.FilterDesc.guidDSFXClass = clsid;

  platform::TakeErrorText();  // only what this call leaves is its reason
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_IMediaObject,
                        state.pFilterObject.PutVoid());
  if (FAILED(hr)) {
    LogFailure("CoCreateInstance(DMO)", {.hr = hr,
                                         .echoText = "CoCreateInstance (DMO) - FAILED",
                                         .reason = platform::TakeErrorText(),
                                         .level = &level});
    return hr;
  }

  hr = state.pFilterObject->QueryInterface(IID_ICapturedAudio, state.pFilterCapture.PutVoid());
  g_CaptureRecord.hHeap = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(platform::GetProcessHeap()));
  // An instance without the capture interface has nothing to set up; the failed
  // query's code tells the caller the effect is not usable.
  if (state.pFilterCapture) state.pFilterCapture->Setup(&g_CaptureRecord);
  return hr;
}

HRESULT SetFilter() {
  g_DebugLog.Print("SetFilter");
  LogLevel level;
  DWORD result = 0;  // the effect's own result is not read
  return ChangeBufferEffects(1, &g_EngineState.FilterDesc, &result, level);
}

HRESULT RemoveFilter() {
  g_DebugLog.Print("RemoveFilter");
  LogLevel level;
  return ChangeBufferEffects(0, nullptr, nullptr, level);
}
