// The command line of halvane-convert: what the main window's controls would be set
// to, and the MIDI files to convert, in the order given.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace convert_cli {

enum class OutputFormat { kWav, kMp3, kFlac };

// The extension of the format's files: "wav", "mp3" or "flac".
const char* FormatExtension(OutputFormat format);

struct ConvertOptions {
  OutputFormat format = OutputFormat::kWav;
  int mp3Rate = 44100;             // the window's MP3 Quality default
  std::string device;              // a name or a number from --list-devices; empty: the first
  std::string soundFont;           // a SoundFont file to play with instead of a listed synthesiser
  std::optional<double> loudness;  // the integrated loudness (LUFS) every output is brought to
  int tempo = 100;                 // percent of the file's own tempo, 50 to 150
  std::string outDir = "wav";
  bool sameDir = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  bool listDevices = false;
  int jobs = 0;               // files converted at once; 0: one per processor available
  bool keepTree = false;      // outputs mirror the input folders under outDir
  bool skipExisting = false;  // a file whose output is there already is passed over
  std::string manifest;       // the file each file's record is added to; empty: none
  int shardIndex = 0;         // this run takes part shardIndex of shardCount
  int shardCount = 1;
  bool worker = false;             // converts the files given on standard input, for a run of many jobs
  std::vector<std::string> files;  // absolute paths, folders already searched
  std::vector<std::string> roots;  // for each file, the folder given it was found in; empty for a file given
};

// The options, or nullopt with error set to a one-line message naming the argument.
std::optional<ConvertOptions> ParseConvertOptions(int argc, const char* const* argv, std::string& error);

std::string HelpText();

// The position of rate in the window's MP3 Quality list.
int Mp3RatePosition(int rate);

}  // namespace convert_cli
