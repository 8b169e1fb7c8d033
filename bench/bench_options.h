// The benchmark's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bench {

enum class OutputFormat { kWav, kMp3 };

struct Options {
  std::string soundFont;  // empty: the system's default General MIDI SoundFont
  unsigned tempo = 50;    // tempo slider position, 0-100
  OutputFormat format = OutputFormat::kWav;
  int rate = 44100;  // MP3 output sample rate
  std::string outDir = ".";
  bool compare = false;
  bool window = false;       // through the conversion worker and a headless main window
  bool busyCore = false;     // a thread keeps one processor busy for the whole run
  bool encodeAfter = false;  // MP3 encoded from the saved WAV after the music, not while it renders
  bool help = false;
  std::vector<std::string> files;
};

// Parses argv; on a mistake returns nothing and sets error.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& error);

// The position of an MP3 rate in the window's MP3 Quality list, -1 when it has none.
int WindowMp3RatePosition(int rate);

// The usage text, with the synthesis settings both sides of --compare share.
std::string HelpText();

}  // namespace bench
