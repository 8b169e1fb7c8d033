#include "app/convert_cli/convert_options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "ui/handed_files.h"

namespace convert_cli {

namespace {

namespace fs = std::filesystem;

constexpr int kMp3Rates[] = {11025, 22050, 44100, 48000};
constexpr int kMostJobs = 1024;
// The loudness targets taken: from nearly inaudible to as loud as music is mastered.
constexpr double kQuietestTarget = -70, kLoudestTarget = -5;

std::optional<int> WholeNumber(std::string_view text) {
  int value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<double> Decimal(std::string_view text) {
  double value = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (failure != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

}  // namespace

const char* FormatExtension(OutputFormat format) {
  switch (format) {
    case OutputFormat::kMp3:
      return "mp3";
    case OutputFormat::kFlac:
      return "flac";
    case OutputFormat::kWav:
      break;
  }
  return "wav";
}

int Mp3RatePosition(int rate) {
  const auto* at = std::find(std::begin(kMp3Rates), std::end(kMp3Rates), rate);
  return at == std::end(kMp3Rates) ? -1 : static_cast<int>(at - std::begin(kMp3Rates));
}

std::optional<ConvertOptions> ParseConvertOptions(int argc, const char* const* argv, std::string& error) {
  ConvertOptions options;
  bool outGiven = false;
  bool optionsEnded = false;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    // --name value or --name=value.
    std::string name = arg, value;
    bool hasValue = false;
    if (const std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      hasValue = true;
    }
    const auto takeValue = [&]() -> bool {
      if (hasValue) return true;
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    const auto flag = [&](bool& target) {
      if (hasValue) {
        error = name + " takes no value";
        return false;
      }
      target = true;
      return true;
    };
    if (name == "--format") {
      if (!takeValue()) return std::nullopt;
      if (value == "wav") {
        options.format = OutputFormat::kWav;
      } else if (value == "mp3") {
        options.format = OutputFormat::kMp3;
      } else if (value == "flac") {
        options.format = OutputFormat::kFlac;
      } else {
        error = "--format " + value + ": wav, mp3 or flac";
        return std::nullopt;
      }
    } else if (name == "--rate") {
      if (!takeValue()) return std::nullopt;
      const std::optional<int> rate = WholeNumber(value);
      if (!rate || Mp3RatePosition(*rate) < 0) {
        error = "--rate " + value + ": 11025, 22050, 44100 or 48000";
        return std::nullopt;
      }
      options.mp3Rate = *rate;
    } else if (name == "--device") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "--device needs a name or a number";
        return std::nullopt;
      }
      options.device = value;
    } else if (name == "--soundfont") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "--soundfont needs a file";
        return std::nullopt;
      }
      options.soundFont = value;
    } else if (name == "--loudness") {
      if (!takeValue()) return std::nullopt;
      const std::optional<double> target = Decimal(value);
      if (!target || *target < kQuietestTarget || *target > kLoudestTarget) {
        error = "--loudness " + value + ": a loudness in LUFS from -70 to -5, such as -16";
        return std::nullopt;
      }
      options.loudness = *target;
    } else if (name == "--tempo") {
      if (!takeValue()) return std::nullopt;
      const std::optional<int> tempo = WholeNumber(value);
      if (!tempo || *tempo < 50 || *tempo > 150) {
        error = "--tempo " + value + ": a percentage from 50 to 150";
        return std::nullopt;
      }
      options.tempo = *tempo;
    } else if (name == "--out") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "--out needs a folder";
        return std::nullopt;
      }
      options.outDir = value;
      outGiven = true;
    } else if (name == "--same-dir") {
      if (!flag(options.sameDir)) return std::nullopt;
    } else if (name == "--quiet" || name == "-q") {
      if (!flag(options.quiet)) return std::nullopt;
    } else if (name == "--help" || name == "-h") {
      if (!flag(options.help)) return std::nullopt;
    } else if (name == "--version") {
      if (!flag(options.version)) return std::nullopt;
    } else if (name == "--list-devices") {
      if (!flag(options.listDevices)) return std::nullopt;
    } else if (name == "--jobs" || name == "-j") {
      if (!takeValue()) return std::nullopt;
      const std::optional<int> jobs = WholeNumber(value);
      if (!jobs || *jobs < 1 || *jobs > kMostJobs) {
        error = name + " " + value + ": a number of jobs from 1 to " + std::to_string(kMostJobs);
        return std::nullopt;
      }
      options.jobs = *jobs;
    } else if (name == "--keep-tree") {
      if (!flag(options.keepTree)) return std::nullopt;
    } else if (name == "--skip-existing") {
      if (!flag(options.skipExisting)) return std::nullopt;
    } else if (name == "--manifest") {
      if (!takeValue()) return std::nullopt;
      if (value.empty()) {
        error = "--manifest needs a file";
        return std::nullopt;
      }
      options.manifest = value;
    } else if (name == "--shard") {
      if (!takeValue()) return std::nullopt;
      const std::size_t slash = value.find('/');
      const std::optional<int> index = WholeNumber(std::string_view(value).substr(0, slash));
      const std::optional<int> count =
          slash == std::string::npos ? std::nullopt : WholeNumber(std::string_view(value).substr(slash + 1));
      if (!index || !count || *count < 1 || *index < 0 || *index >= *count) {
        error = "--shard " + value + ": K/N with N at least 1 and K from 0 to N-1";
        return std::nullopt;
      }
      options.shardIndex = *index;
      options.shardCount = *count;
    } else if (name == "--worker") {
      if (!flag(options.worker)) return std::nullopt;
    } else {
      error = "unknown option " + arg;
      return std::nullopt;
    }
  }
  if (outGiven && options.sameDir) {
    error = "--out and --same-dir: choose one";
    return std::nullopt;
  }
  if (!options.device.empty() && !options.soundFont.empty()) {
    error = "--device and --soundfont: choose one";
    return std::nullopt;
  }
  if (options.keepTree && options.sameDir) {
    error = "--keep-tree and --same-dir: choose one";
    return std::nullopt;
  }
  if (options.help || options.version || options.listDevices) return options;
  if (options.worker) {
    if (!paths.empty()) {
      error = "--worker takes its files on standard input";
      return std::nullopt;
    }
    return options;
  }

  for (const std::string& path : paths) {
    std::error_code failure;
    const fs::file_status status = fs::status(path, failure);
    const std::string absolute = fs::absolute(path, failure).lexically_normal().string();
    if (fs::is_directory(status)) {
      for (std::string& file : MidiFilesIn(absolute)) {
        options.files.push_back(std::move(file));
        options.roots.push_back(absolute);
      }
    } else if (fs::is_regular_file(status)) {
      options.files.push_back(absolute);
      options.roots.emplace_back();
    } else if (status.type() == fs::file_type::not_found) {
      error = path + ": no such file or folder";
      return std::nullopt;
    } else if (failure && status.type() == fs::file_type::none) {
      error = path + ": " + failure.message();
      return std::nullopt;
    } else {
      // A FIFO, a device or a socket: reading one could block or never end.
      error = path + ": not a regular file or folder";
      return std::nullopt;
    }
  }
  if (options.files.empty()) {
    error = paths.empty() ? "no MIDI files given" : "no MIDI files in " + paths.front();
    if (paths.size() > 1) error = "no MIDI files in the folders given";
    return std::nullopt;
  }
  return options;
}

std::string HelpText() {
  return "Usage: halvane-convert [OPTION]... FILE|FOLDER...\n"
         "Renders MIDI files (.mid, .midi, .kar, .smf, .rmi; folders are searched with their\n"
         "subfolders) into WAV, MP3 or FLAC files, in the order given (several at once\n"
         "with --jobs; each file's line still comes in that order).\n"
         "\n"
         "  --format wav|mp3|flac  output format (default wav); FLAC is 16-bit lossless,\n"
         "                      the samples the WAV file would hold\n"
         "  --rate HZ           MP3 sample rate: 11025, 22050, 44100 or 48000 (default 44100)\n"
         "  --device NAME|N     synthesiser, by name or by its number in --list-devices\n"
         "                      (default the first)\n"
         "  --soundfont FILE    play with this SoundFont (.sf2 or .sf3) instead\n"
         "  --loudness LUFS     bring each output to this integrated loudness (EBU R128,\n"
         "                      -70 to -5, e.g. -16), its true peak limited to -1 dBTP\n"
         "  --list-devices      list the synthesisers and exit\n"
         "  --tempo PERCENT     50 to 150 percent of each file's own tempo (default 100)\n"
         "  --out FOLDER        where the outputs go (default ./wav, made when missing)\n"
         "  --same-dir          put each output beside its MIDI file\n"
         "  --quiet             print only failures, one line each: the file and why\n"
         "  --jobs N, -j N      convert N files at once, each in a process of its own\n"
         "                      (default: one per processor available)\n"
         "  --keep-tree         mirror the folders given under --out: album/cd1/x.mid\n"
         "                      becomes OUT/cd1/x.wav for the folder album\n"
         "  --skip-existing     pass over a file whose output is there already (an\n"
         "                      output is only ever there whole), as a rerun after an\n"
         "                      interruption does\n"
         "  --manifest FILE     add one JSON line per file to FILE as each one finishes:\n"
         "                      input, output, status (ok, failed, skipped), reason,\n"
         "                      music_seconds, render_seconds, peak_dbfs, clipped_samples\n"
         "                      (the recording's, before any loudness), and with\n"
         "                      --loudness loudness_lufs (measured), gain_db,\n"
         "                      output_lufs and true_peak_dbtp\n"
         "  --shard K/N         convert part K (0 to N-1) of N parts of the sorted list:\n"
         "                      N runs with K = 0 .. N-1 convert every file once\n"
         "  --help              show this help and exit\n"
         "  --version           show the version and exit\n"
         "  --                  what follows are files, even when they start with '-'\n"
         "\n"
         "An output never replaces a file: a taken name gets a counter, as in song(1).wav.\n"
         "Ctrl+C stops the file in progress (nothing of it is written) and the rest.\n"
         "A file the MIDI reader had to repair (cut short, bytes out of range, ...) is\n"
         "converted with a warning that says what was repaired. A recording with\n"
         "clipped samples (louder than 16 bits hold) is named on standard error.\n"
         "Exit status: 0 all converted, 1 some file failed, 2 bad arguments, 130 stopped.\n"
         "Log: $XDG_STATE_HOME/halvane/convert-log.txt (default ~/.local/state); each run\n"
         "is added to it, and a log grown past 8 MiB is first moved to convert-log.txt.old.\n";
}

}  // namespace convert_cli
