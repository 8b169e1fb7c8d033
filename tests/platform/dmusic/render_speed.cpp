// Renders MIDI files through the performance on the recording clock, the way a
// conversion does, and prints the speed: music seconds over wall seconds.
//   dmusic_render_speed SOUNDFONT FILE.mid...
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/dmusic/direct_music.h"
#include "platform/dmusic/performance.h"
#include "platform/dmusic/port_table.h"
#include "tests/platform/dmusic/fake_effect.h"
#include "tests/platform/dmusic/render_session.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s SOUNDFONT FILE.mid...\n", argv[0]);
    return 2;
  }
  CoInitialize(nullptr);
  platform::RegisterPerformanceClasses();
  platform::RegisterDirectMusicClass();
  dmusic_test::RegisterTestEffects();
  const std::string soundFont = argv[1];
  const GUID port = platform::GuidFromName(soundFont);
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{
      {soundFont, port, u"Bench", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH}});
  double totalMusic = 0, totalWall = 0;
  int failures = 0;
  dmusic_test::Session session(port);
  for (int i = 2; i < argc; ++i) {
    dmusic_test::TheEffectRecord().Clear();
    const auto start = std::chrono::steady_clock::now();
    const dmusic_test::Rendering r = session.Render(argv[i], 1.0f);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (FAILED(r.hr)) {
      std::printf("%s\terror: 0x%08x\n", argv[i], static_cast<unsigned>(r.hr));
      ++failures;
      continue;
    }
    const double music = r.pcm.size() / 4.0 / 44100.0;
    std::printf("%s\t%.2f\t%.3f\t%.1fx\n", argv[i], music, wall, music / wall);
    totalMusic += music;
    totalWall += wall;
  }
  if (totalWall > 0)
    std::printf("speed: %.2fx real time (%.1f s of music in %.2f s)\n", totalMusic / totalWall, totalMusic, totalWall);
  CoUninitialize();
  return failures == 0 ? 0 : 1;
}
