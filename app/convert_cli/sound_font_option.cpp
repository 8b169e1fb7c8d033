#include "app/convert_cli/sound_font_option.h"

#include "platform/dmusic/port_table.h"
#include "platform/synth/sound_font_check.h"

namespace convert_cli {

std::string UseSoundFont(const std::string& path, bool check) {
  if (check) {
    if (std::string problem = platform::SoundFontProblem(path); !problem.empty()) return problem;
  }
  // The file stays where it was found: one replaced since is loaded as it is then.
  if (!platform::PutSoundFontPortFirst(path)) return "there is no such file";
  return {};
}

}  // namespace convert_cli
