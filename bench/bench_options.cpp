#include "bench/bench_options.h"

#include <charconv>
#include <string_view>

#include "bench/synthesis_settings.h"

namespace bench {
namespace {

bool ParseNumber(std::string_view text, long& value) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end;
}

bool IsMp3Rate(long rate) {
  for (long allowed : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
    if (rate == allowed) return true;
  return false;
}

}  // namespace

int WindowMp3RatePosition(int rate) {
  constexpr int kRates[] = {11025, 22050, 44100, 48000};
  for (int i = 0; i < 4; ++i)
    if (kRates[i] == rate) return i;
  return -1;
}

std::optional<Options> ParseOptions(int argc, char** argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--") {  // what follows are files, also those whose names start with '-'
      options.files.insert(options.files.end(), argv + i + 1, argv + argc);
      break;
    }
    const auto value = [&](std::string_view name) -> std::optional<std::string_view> {
      if (i + 1 >= argc) {
        error = std::string(name) + " needs a value";
        return std::nullopt;
      }
      return std::string_view(argv[++i]);
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--compare") {
      options.compare = true;
    } else if (arg == "--window") {
      options.window = true;
    } else if (arg == "--busy-core") {
      options.busyCore = true;
    } else if (arg == "--encode-after") {
      options.encodeAfter = true;
    } else if (arg == "--soundfont") {
      const auto v = value(arg);
      if (!v) return std::nullopt;
      options.soundFont = *v;
    } else if (arg == "--out") {
      const auto v = value(arg);
      if (!v) return std::nullopt;
      options.outDir = *v;
    } else if (arg == "--tempo") {
      const auto v = value(arg);
      long tempo = 0;
      if (!v) return std::nullopt;
      if (!ParseNumber(*v, tempo) || tempo < 0 || tempo > 100) {
        error = "--tempo takes a whole number from 0 to 100";
        return std::nullopt;
      }
      options.tempo = static_cast<unsigned>(tempo);
    } else if (arg == "--rate") {
      const auto v = value(arg);
      long rate = 0;
      if (!v) return std::nullopt;
      if (!ParseNumber(*v, rate) || !IsMp3Rate(rate)) {
        error = "--rate takes an MP3 sample rate (8000 to 48000 Hz, e.g. 11025, 22050, 44100, 48000)";
        return std::nullopt;
      }
      options.rate = static_cast<int>(rate);
    } else if (arg == "--format") {
      const auto v = value(arg);
      if (!v) return std::nullopt;
      if (*v == "wav") {
        options.format = OutputFormat::kWav;
      } else if (*v == "mp3") {
        options.format = OutputFormat::kMp3;
      } else {
        error = "--format takes wav or mp3";
        return std::nullopt;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + std::string(arg);
      return std::nullopt;
    } else {
      options.files.emplace_back(arg);
    }
  }
  if (!options.help && options.files.empty()) {
    error = "no MIDI file given";
    return std::nullopt;
  }
  if (options.window && options.format == OutputFormat::kMp3 && WindowMp3RatePosition(options.rate) < 0) {
    error = "--window takes the MP3 rates the window offers: 11025, 22050, 44100 or 48000";
    return std::nullopt;
  }
  return options;
}

std::string HelpText() {
  std::string text =
      "usage: halvane-bench [--soundfont FILE] [--tempo 0-100] [--format wav|mp3] [--rate HZ]\n"
      "                     [--out DIR] [--compare] [--window] [--encode-after] [--] FILE.mid...\n"
      "\n"
      "Renders each MIDI file the way a conversion does (configure the synthesiser on the\n"
      "SoundFont's port at the tempo position, load, attach the capture effect, play, poll\n"
      "every 100 ms for the end of the music, stop, save as WAV, and for mp3 encode at --rate)\n"
      "into DIR/NAME.wav or DIR/NAME.mp3 (NAME(1), NAME(2), ... for a name an earlier FILE\n"
      "of the run has taken), and prints one line per file:\n"
      "  FILE<TAB>music seconds<TAB>wall seconds<TAB>ok     (or error: WHAT)\n"
      "then 'speed: X.XXx real time' over all files. Music seconds are the length of the\n"
      "rendered recording: the music at the chosen tempo with its release and the 700 ms tail.\n"
      "The engine's diagnostic log goes to DIR/halvane-bench.log.\n"
      "\n"
      "  --soundfont FILE  SoundFont to render with (default: the system's default GM SoundFont)\n"
      "  --tempo N         tempo slider position, 0 (half speed) to 100 (1.5x); default 50\n"
      "  --format F        wav (default) or mp3\n"
      "  --rate HZ         MP3 output sample rate; default 44100\n"
      "  --out DIR         output folder (created if missing); default the current folder\n"
      "  --compare         also render each file with the fluidsynth program into\n"
      "                    DIR/NAME.fluidsynth.wav (.mp3 through lame) and print\n"
      "                    'fluidsynth: Y.YYx real time' and 'ratio: Z.ZZ' (ours over theirs)\n"
      "  --window          convert the files as one batch through the conversion worker and a\n"
      "                    main window without a screen (its calls cross threads as in the\n"
      "                    program), so progress updates are measured too; wall seconds of a\n"
      "                    file run from the previous file's end (the first from Convert!),\n"
      "                    and the speed is all music over the whole batch. Outputs that a\n"
      "                    batch would not overwrite (DIR/NAME.wav, .mp3) are removed first.\n"
      "                    MP3 rates: 11025, 22050, 44100, 48000\n"
      "  --busy-core       a thread keeps one processor busy for the whole run, fluidsynth's\n"
      "                    renders included, as other work on a user's machine would\n"
      "  --encode-after    (mp3, without --window) encode the saved WAV after the music has\n"
      "                    rendered, instead of encoding while it renders; same MP3 bytes\n"
      "  --                every argument after it is a FILE, also one that starts with '-'\n"
      "\n"
      "Both sides synthesise with the same settings:\n";
  text += "  " + SynthesisSettingsText() + "\n";
  text += "  fluidsynth " + JoinFluidSynthOptions() + " -F OUT SOUNDFONT FILE\n";
  text += "\nExit code 1 when any file failed, 2 on a usage error.\n";
  return text;
}

}  // namespace bench
