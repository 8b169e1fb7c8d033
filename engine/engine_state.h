// The engine's process-wide record: every interface the rendering uses, each
// holding one reference that the record owns. Storing a new object into a field
// releases the one it replaces.
#pragma once

#include <string>
#include <vector>

#include "ovdmofilter/captured_audio.h"
#include "platform/com/unknown.h"
#include "platform/dmo/dmo.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dsound/dsound.h"

class CMusicTool;

struct EngineState {
  EngineState();
  ~EngineState();
  EngineState(const EngineState&) = delete;
  EngineState& operator=(const EngineState&) = delete;

  platform::ComPtr<IDirectMusic8> pDirectMusic;
  platform::ComPtr<IDirectMusicPerformance8> pPerformance;
  platform::ComPtr<IDirectMusicLoader8> pLoader;
  platform::ComPtr<IDirectMusicAudioPath> pAudioPath;
  platform::ComPtr<IDirectSoundBuffer8> pDirectSoundBufferInPath;
  platform::ComPtr<IDirectMusicGraph> pGraph;
  platform::ComPtr<CMusicTool> pMusicTool;
  platform::ComPtr<IDirectMusicSegment8> pSegment;
  platform::ComPtr<IDirectMusicSegmentState> pSegmentState;
  platform::ComPtr<IMediaObject> pFilterObject;
  platform::ComPtr<ICapturedAudio> pFilterCapture;
  DSEFFECTDESC FilterDesc{};
  // Why the last LoadMIDI failed, in a few words; empty after a load that
  // succeeded. Like the fields above it is set and read by the engine's caller,
  // which keeps its calls from overlapping.
  std::string LoadFailure;
  // What the MIDI reader repaired to play the file LoadMIDI last loaded, one
  // reason each (empty for a sound file, and after a failed load).
  std::vector<std::string> LoadRepairs;
};

extern EngineState g_EngineState;

// The record handed to the capture effect: one for the whole run, so the effect may
// keep its address. Zero at start; FindFilter sets hHeap, the effect fills in the rest.
extern CaptureRecord g_CaptureRecord;
