#include "engine/segment_playback.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "base/debug_log.h"
#include "engine/engine_failure.h"
#include "engine/engine_state.h"
#include "engine/result_descriptions.h"
#include "platform/core/code_page.h"
#include "platform/core/kernel.h"
#include "platform/dmusic/loader.h"
#include "platform/dmusic/performance.h"
#include "platform/dmusic/segment.h"

namespace {

constexpr REFERENCE_TIME kReferenceUnitsPerSecond = 10'000'000;
constexpr DWORD kAllTrackGroups = 0xFFFFFFFF;

// Whole seconds, truncated toward zero, as the low 32 bits.
int WholeSeconds(REFERENCE_TIME time) {
  return static_cast<int>(static_cast<std::uint32_t>(time / kReferenceUnitsPerSecond));
}

}  // namespace

HRESULT LoadMIDI(const char* path) {
  EngineState& state = g_EngineState;
  g_DebugLog.Print("LoadMIDI");
  LogLevel level;

  // The description holds any path the platform accepts; a longer one (or none)
  // cannot name a file, and the load fails as for a file that is not there.
  auto desc = std::make_unique<DMUS_OBJECTDESC>();
  desc->dwSize = sizeof(DMUS_OBJECTDESC);
  desc->dwValidData = DMUS_OBJ_CLASS | DMUS_OBJ_FILENAME;
  desc->guidClass = CLSID_DirectMusicSegment;
  bool named = path != nullptr &&
               MultiByteToWideChar(CP_ACP, 0, path, -1, desc->wszFileName, static_cast<int>(DMUS_MAX_FILENAME)) > 0;
  // Text that is not UTF-8 does not come back whole from the conversion: such a name
  // would be looked up as another one.
  bool whole = true;
  if (named) {
    const int size = WideCharToMultiByte(CP_ACP, 0, desc->wszFileName, -1, nullptr, 0, nullptr, nullptr);
    std::string back(static_cast<std::size_t>(std::max(size, 1)), '\0');
    whole = size > 0 &&
            WideCharToMultiByte(CP_ACP, 0, desc->wszFileName, -1, back.data(), size, nullptr, nullptr) == size &&
            std::strcmp(back.c_str(), path) == 0;
  }
  named = named && whole;

  platform::ComPtr<IDirectMusicSegment> loaded;
  HRESULT hr = E_POINTER;
  std::string reason = "the engine has no loader";
  if (!named) {
    hr = DMUS_E_LOADER_FAILEDOPEN;
    reason = path == nullptr ? "no file name was given"
             : !whole        ? "the file name is not valid UTF-8 text"
                             : "the file name is too long or not valid text";
  } else if (state.pLoader) {
    hr = state.pLoader->GetObject(desc.get(), IID_IDirectMusicSegment, loaded.PutVoid());
    reason = platform::LoaderFailureReason(state.pLoader.Get());
  }
  platform::ComPtr<IDirectMusicSegment8> segment;
  if (SUCCEEDED(hr)) {
    hr = loaded ? loaded->QueryInterface(IID_IDirectMusicSegment8, segment.PutVoid()) : E_POINTER;
    reason = "the loader gave no segment";
  }
  state.LoadRepairs.clear();
  if (FAILED(hr)) {
    state.LoadFailure = reason;
    LogFailure("pLoader->GetObject", {.hr = hr, .reason = reason, .echoReason = false, .level = &level});
    return hr;
  }
  state.LoadFailure.clear();
  state.pSegment = std::move(segment);
  if (platform::SegmentWasTruncated(state.pSegment.Get()))
    g_DebugLog.Print("The file is cut short: what was read will play");
  if (platform::SegmentHadDataOutOfRange(state.pSegment.Get()))
    g_DebugLog.Print("The file holds data bytes out of range: each is read as 127");
  // Each repair the reader made, as the caller may report it.
  state.LoadRepairs = platform::SegmentWarnings(state.pSegment.Get());
  for (const std::string& repair : state.LoadRepairs) g_DebugLog.Print("Repaired: %s", repair.c_str());

  // Marks the segment as coming from a Standard MIDI file.
  hr = state.pSegment->SetParam(GUID_StandardMIDIFile, kAllTrackGroups, 0, 0, nullptr);
  if (FAILED(hr)) {
    state.LoadFailure = "the segment cannot be marked as a MIDI file";
    LogFailure("pSegment->SetParam", {.hr = hr, .level = &level});
    return hr;
  }
  return S_OK;
}

std::string GetLoadFailureMIDI() { return g_EngineState.LoadFailure; }

std::vector<std::string> GetLoadRepairsMIDI() { return g_EngineState.LoadRepairs; }

HRESULT PlayMIDI(BOOL notify) {
  EngineState& state = g_EngineState;
  g_DebugLog.Print("PlayMIDI");
  LogLevel level;

  if (state.pSegment) state.pSegment->SetRepeats(0);
  HRESULT hr = S_OK;
  if (notify) {
    hr = state.pPerformance ? state.pPerformance->AddNotificationType(GUID_NOTIFICATION_SEGMENT) : E_POINTER;
    if (FAILED(hr)) {
      LogFailure("pPerformance->AddNotificationType", {.hr = hr, .level = &level});
      return hr;
    }
  }
  platform::ComPtr<IDirectMusicSegmentState> segmentState;
  hr = state.pPerformance && state.pSegment
           ? state.pPerformance->PlaySegmentEx(state.pSegment.Get(), nullptr, nullptr,
                                               DMUS_SEGF_SECONDARY | DMUS_SEGF_CONTROL, 0, segmentState.Put(), nullptr,
                                               state.pAudioPath.Get())
           : E_POINTER;
  if (FAILED(hr)) {
    LogFailure("pPerformance->PlaySegment", {.hr = hr, .level = &level});
    return hr;
  }
  state.pSegmentState = std::move(segmentState);
  return S_OK;
}

int GetNotifyMIDI() {
  EngineState& state = g_EngineState;
  DMUS_NOTIFICATION_PMSG* message = nullptr;
  const HRESULT hr = state.pPerformance ? state.pPerformance->GetNotificationPMsg(&message) : E_POINTER;
  if (FAILED(hr)) {
    // Polled from a loop that logs nothing of its own: the lines stand at the
    // caller's level.
    g_DebugLog.Print("pPerformance->GetNotificationPMsg - FAILED");
    g_DebugLog.Print("hr = 0x%x. %s", static_cast<unsigned>(hr), GetResultDescription(hr));
    DebugWindowPrint("pPerformance->GetNotificationPMsg - FAILED");
    DebugWindowPrint(GetResultDescription(hr));
    return -1;
  }
  if (hr != S_OK || message == nullptr) return -1;
  const int option = static_cast<int>(message->dwNotificationOption);
  state.pPerformance->FreePMsg(message);
  return option;
}

HRESULT RemoveNotifyMIDI() {
  EngineState& state = g_EngineState;
  g_DebugLog.Print("RemoveNotifyMIDI");
  LogLevel level;
  const HRESULT hr =
      state.pPerformance ? state.pPerformance->RemoveNotificationType(GUID_NOTIFICATION_SEGMENT) : E_POINTER;
  if (FAILED(hr)) {
    LogFailure("pPerformance->RemoveNotificationType", {.hr = hr, .level = &level});
    return hr;
  }
  return S_OK;
}

HRESULT StopMIDI() {
  EngineState& state = g_EngineState;
  g_DebugLog.Print("StopMIDI");
  LogLevel level;

  // The music, and with it the recording, goes on a little after the decision to
  // stop. On a recording clock this wait renders the tail. Whatever still sounds
  // then (the user aborted) fades out over the tail's last milliseconds rather
  // than ending in a step.
  // A performance that is not set up (closed down by the last stop, or never set
  // up) sounds nothing: there is no tail to wait for, and an audition that starts
  // with this stop is heard at once.
  platform::CPerformance* ours = platform::AsPerformance(state.pPerformance.Get());
  if (ours == nullptr || ours->IsSetUp()) {
    if (ours != nullptr) ours->FadeOutIn(kStopTailMs);
    platform::Sleep(kStopTailMs);
  }

  HRESULT hr = state.pPerformance ? state.pPerformance->Stop(nullptr, nullptr, 0, 0) : E_POINTER;
  if (FAILED(hr)) {
    LogFailure("pPerformance->Stop", {.hr = hr, .level = &level});
    return hr;
  }
  // Why a rendering may sound harsh: samples too loud for 16 bits were clamped.
  if (const std::uint64_t clipped = ours != nullptr ? ours->ClippedSamples() : 0; clipped != 0)
    g_DebugLog.Print("%s samples were clipped to the 16-bit range", std::to_string(clipped).c_str());
  hr = state.pPerformance->CloseDown();
  if (FAILED(hr)) {
    LogFailure("pPerformance->CloseDown", {.hr = hr, .level = &level});
    return hr;
  }
  return S_OK;
}

REFERENCE_TIME GetReferenceTimeMIDI() {
  EngineState& state = g_EngineState;
  REFERENCE_TIME now = 0;
  if (!state.pPerformance || FAILED(state.pPerformance->GetTime(&now, nullptr))) return 0;
  return now;
}

REFERENCE_TIME GetEndReferenceTimeMIDI() {
  EngineState& state = g_EngineState;
  MUSIC_TIME length = 0;
  REFERENCE_TIME end = 0;
  if (!state.pSegment || !state.pPerformance || FAILED(state.pSegment->GetLength(&length)) ||
      FAILED(state.pPerformance->MusicToReferenceTime(length, &end)))
    return 0;
  return end;
}

int GetTimeMIDI() { return WholeSeconds(GetReferenceTimeMIDI()); }

int GetEndTimeMIDI() { return WholeSeconds(GetEndReferenceTimeMIDI()); }
