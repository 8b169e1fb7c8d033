// Drives the platform's performance the way a conversion does, on the recording
// clock: configure, load, attach a recording effect, play with notifications,
// wait in 100 ms steps until the music is almost at its end, wait 700 ms more,
// stop and close down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dsound/dsound.h"

namespace dmusic_test {

struct Notification {
  DWORD option;
  DWORD atMs;  // recording-clock milliseconds since the play started
};

struct Rendering {
  HRESULT hr = S_OK;
  std::vector<std::uint8_t> pcm;  // what the recording effect saw
  std::vector<Notification> notifications;
  DWORD sleptMs = 0;
  MUSIC_TIME length = 0;
  REFERENCE_TIME endTime = 0;    // MusicToReferenceTime(length) right after playing
  REFERENCE_TIME startTime = 0;  // GetTime right after playing
};

class Session {
 public:
  // port: the synthesiser port's identity (GUID_NULL: the first port).
  explicit Session(GUID port) : port_(port) {}

  HRESULT Configure(float masterTempo);
  HRESULT Load(const std::string& path);
  // The whole conversion; the tool, when given, is inserted first in the graph.
  Rendering Render(const std::string& midiPath, float masterTempo, IDirectMusicTool* tool = nullptr,
                   DWORD maxMs = 600000);

  platform::ComPtr<IDirectMusicPerformance8> performance;
  platform::ComPtr<IDirectMusicLoader8> loader;
  platform::ComPtr<IDirectMusicAudioPath> path;
  platform::ComPtr<IDirectSoundBuffer8> buffer;
  platform::ComPtr<IDirectMusicGraph> graph;
  platform::ComPtr<IDirectMusicSegment8> segment;

 private:
  GUID port_;
};

}  // namespace dmusic_test
