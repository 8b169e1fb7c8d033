// halvane-bench: renders MIDI files through the engine the way a conversion does,
// timing each, and optionally the same files with the fluidsynth program.
// See HelpText() in bench_options.cpp for the command line.
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/process_state.h"
#include "bench/bench_options.h"
#include "bench/peer_render.h"
#include "convert/conversion_thread.h"
#include "engine/capture_attachment.h"
#include "engine/engine_state.h"
#include "engine/music_engine.h"
#include "engine/segment_playback.h"
#include "ovdmofilter/captured_audio.h"
#include "output/mp3_transcoder.h"
#include "output/recording_mp3_encoder.h"
#include "output/save_file_wav.h"
#include "platform/com/com.h"
#include "platform/core/kernel.h"
#include "platform/core/sync.h"
#include "platform/core/unlinked_file.h"
#include "platform/dmusic/engine_classes.h"
#include "platform/dmusic/port_table.h"
#include "platform/shell/shell.h"
#include "platform/window/winuser.h"
#include "ui/dialog_template.h"
#include "ui/headless/headless_dialog.h"
#include "ui/headless/worker_window.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";
// A file whose music does not end within this many polls (two hours of music at
// 100 ms each) counts as failed rather than keeping the benchmark forever.
constexpr int kMaxPolls = 72000;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string RealPath(const std::string& path) {
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  return error ? std::string() : real.string();
}

// A thread that keeps one processor busy while it lives, as a compiler or a
// browser would on a user's machine.
class BusyCore {
 public:
  BusyCore() : thread_([this] { Spin(); }) {}
  ~BusyCore() {
    stop_.store(true);
    thread_.join();
  }
  BusyCore(const BusyCore&) = delete;
  BusyCore& operator=(const BusyCore&) = delete;

 private:
  void Spin() {
    unsigned long long value = 1;
    while (!stop_.load(std::memory_order_relaxed)) value = value * 6364136223846793005ULL + 1442695040888963407ULL;
    sink_.store(value, std::memory_order_relaxed);
  }

  std::atomic<bool> stop_{false};
  std::atomic<unsigned long long> sink_{0};
  std::thread thread_;
};

// Runs the registration program for the capture effect and waits for it.
bool RegisterCaptureEffect() {
  const std::string program = (fs::path(platform::ProgramPath()).parent_path() / kRegistrationProgram).string();
  std::string a0 = program, a1 = "/s", a2 = "OVDMOFilter.dll";
  char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The enumeration index of the port that plays soundFont.
std::optional<DWORD> PortOf(const std::string& soundFont) {
  const std::vector<platform::PortInfo> ports = platform::ListSoundFontPorts();
  for (std::size_t i = 0; i < ports.size(); ++i)
    if (ports[i].path == soundFont) return static_cast<DWORD>(i);
  return std::nullopt;
}

struct FileResult {
  double musicSeconds = 0;
  double wallSeconds = 0;
  std::string error;  // empty: rendered and written
};

// The name the outputs of an input called name are written under: name itself, or
// name(1), name(2), ... when an earlier input of this run writes there already (its
// own output or, with --compare, its NAME.fluidsynth output), as the conversion
// worker numbers its outputs.
std::string DistinctStem(const std::string& name, bool compare, std::set<std::string>& taken) {
  std::string stem = name;
  for (int n = 1; taken.count(stem) != 0 || (compare && taken.count(stem + ".fluidsynth") != 0); ++n)
    stem = name + "(" + std::to_string(n) + ")";
  taken.insert(stem);
  if (compare) taken.insert(stem + ".fluidsynth");
  return stem;
}

// Renders one file as the conversion worker does.
FileResult RenderOurs(const bench::Options& options, DWORD port, const std::string& midiFile,
                      const std::string& outFile) {
  FileResult result;
  const Clock::time_point start = Clock::now();
  const auto fail = [&](const char* what) {
    StopMIDI();
    result.error = what;
    result.wallSeconds = Seconds(Clock::now() - start);
    return result;
  };
  if (FAILED(ConfigureSynthesizer(port, options.tempo))) return fail("Configure Synthesizer Failed");
  if (FAILED(LoadMIDI(midiFile.c_str()))) return fail(("Can't load MIDI File: " + GetLoadFailureMIDI()).c_str());
  if (FAILED(RemoveFilter())) return fail("Can't Remove Filter");
  if (FAILED(SetFilter())) return fail("Can't Set Filter");
  if (FAILED(PlayMIDI(TRUE))) return fail("Can't Play MIDI File");
  // As the worker does: the MP3 is encoded while the music renders.
  std::unique_ptr<RecordingMp3Encoder> encoder;
  if (options.format == bench::OutputFormat::kMp3 && !options.encodeAfter)
    encoder = RecordingMp3Encoder::Start(options.rate);
  int polls = 0;
  while (GetNotifyMIDI() != 2) {
    if (++polls > kMaxPolls) return fail("the music did not end");
    platform::Sleep(100);
  }
  RemoveNotifyMIDI();
  if (FAILED(StopMIDI())) return fail("Stop MIDI Failed");
  if (encoder) encoder->RecordingEnded();

  DWORD bytes = 0;
  g_EngineState.pFilterCapture->GetDataSize(&bytes);
  DWORD rate = 0;
  if (options.format == bench::OutputFormat::kWav) {
    if (FAILED(SaveFileWAV(outFile.c_str(), &rate))) return fail("the WAV file was not written");
  } else {
    std::string name = (fs::temp_directory_path() / "ovhalXXXXXX").string();
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return fail("no temporary file");
    ::close(fd);
    // The temporary WAV has no name once it is open; it goes with temp.
    std::string reason;
    const std::unique_ptr<platform::UnlinkedFile> temp = platform::UnlinkedFile::Take(name, reason);
    if (!temp) return fail("no temporary file");
    const HRESULT saved = SaveFileWAV(temp->Path().c_str(), &rate);
    const HRESULT encoded = SUCCEEDED(saved) ? wavtomp3(temp->Path().c_str(), outFile.c_str(), static_cast<int>(rate),
                                                        options.rate, encoder ? &encoder->Result() : nullptr)
                                             : E_FAIL;
    if (FAILED(saved)) return fail("the temporary WAV file was not written");
    if (FAILED(encoded)) return fail("the MP3 file was not written");
  }
  result.wallSeconds = Seconds(Clock::now() - start);
  if (rate == 0 || g_CaptureRecord.wfx.nBlockAlign == 0) {
    result.error = "the recording has no format";
    return result;
  }
  result.musicSeconds = static_cast<double>(bytes) / g_CaptureRecord.wfx.nBlockAlign / rate;
  if (bytes == 0) result.error = "nothing was recorded";
  return result;
}

// The music of the recording the capture effect holds, in seconds; 0 when it has no format.
double RecordedSeconds() {
  DWORD bytes = 0;
  g_EngineState.pFilterCapture->GetDataSize(&bytes);
  const WAVEFORMATEX& format = g_CaptureRecord.wfx;
  if (format.nBlockAlign == 0 || format.nSamplesPerSec == 0) return 0;
  return static_cast<double>(bytes) / format.nBlockAlign / format.nSamplesPerSec;
}

// One batch through the conversion worker and a main window without a screen, and
// what the window saw of it.
struct WindowBatch {
  std::vector<FileResult> results;  // in list order
  std::size_t converted = 0;
  std::string error;  // the text of an error box
  Clock::time_point start, lastEnd;
};

// A file left the list: the worker waits in this call, its recording saved and not
// yet replaced; its measurement ends.
void FileLeft(WindowBatch& batch) {
  if (batch.converted >= batch.results.size()) return;
  const Clock::time_point now = Clock::now();
  FileResult& result = batch.results[batch.converted++];
  result.musicSeconds = RecordedSeconds();
  result.wallSeconds = Seconds(now - batch.lastEnd);
  result.error.clear();
  batch.lastEnd = now;
}

// Converts the files as one batch through the worker; the wall seconds of the whole
// batch, from Convert! until the worker waits again.
double ConvertThroughWindow(const bench::Options& options, DWORD port, const char* extension,
                            std::vector<FileResult>& results) {
  // A batch adds a counter to a name it finds taken; the engine path overwrites.
  for (const std::string& file : options.files) {
    std::error_code ignored;
    fs::remove(fs::path(options.outDir) / (fs::path(file).stem().string() + extension), ignored);
  }
  AllocateProcessBuffers();
  g_nPortIndex[0] = port;
  g_nPortCount = 1;

  WindowBatch batch;
  batch.results.assign(options.files.size(), FileResult{0, 0, "not converted"});
  // The controls as the user left them; Convert! pressed as soon as the worker runs.
  ui::WorkerWindowSettings settings;
  settings.format = options.format == bench::OutputFormat::kWav ? 0 : 1;
  settings.mp3Rate = bench::WindowMp3RatePosition(options.rate);
  settings.devices = {"SoundFont"};
  settings.tempo = static_cast<int>(options.tempo);
  settings.outDir = options.outDir;
  settings.files = options.files;
  ui::WorkerWindowHooks hooks;
  hooks.started = [&batch] {
    batch.start = batch.lastEnd = Clock::now();
    SetEvent(hConvertEvent);
  };
  hooks.fileLeft = [&batch] { FileLeft(batch); };
  ui::HeadlessDialog dialog(*ui::FindDialogTemplate(ui::IDD_MAIN), ui::WorkerWindowProcedure(settings, hooks),
                            [&](const std::string& text, const std::string& caption) {
                              if (caption == "Error") batch.error = text;
                              dialog.End(0);
                            });
  dialog.Run(0);
  // The batch ends after its box: serve the worker until it waits again.
  dialog.ServeWhile(WorkerBusy);
  const double wall = Seconds(Clock::now() - batch.start);
  if (batch.converted < batch.results.size() && !batch.error.empty())
    batch.results[batch.converted].error = batch.error;
  results = std::move(batch.results);
  return wall;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const std::optional<bench::Options> parsed = bench::ParseOptions(argc, argv, error);
  if (!parsed) {
    std::fprintf(stderr, "halvane-bench: %s (try --help)\n", error.c_str());
    return 2;
  }
  const bench::Options& options = *parsed;
  if (options.help) {
    std::fputs(bench::HelpText().c_str(), stdout);
    return 0;
  }

  const std::string soundFont = RealPath(options.soundFont.empty() ? kDefaultSoundFont : options.soundFont);
  if (soundFont.empty()) {
    std::fprintf(stderr, "halvane-bench: SoundFont not found: %s\n",
                 options.soundFont.empty() ? kDefaultSoundFont : options.soundFont.c_str());
    return 2;
  }
  std::error_code dirError;
  fs::create_directories(options.outDir, dirError);
  if (!fs::is_directory(options.outDir, dirError)) {
    std::fprintf(stderr, "halvane-bench: cannot use the output folder %s\n", options.outDir.c_str());
    return 2;
  }

  // The engine's diagnostic log goes next to the outputs, out of the results' way.
  g_DebugLog.CreateLogFile((fs::path(options.outDir) / "halvane-bench.log").c_str());

  // The SoundFont's folder comes first among the places ports are made from.
  ::setenv("HALVANE_SOUNDFONTS", fs::path(soundFont).parent_path().c_str(), 1);
  CoInitialize(nullptr);
  platform::RegisterMusicEngineClasses();
  const std::optional<DWORD> port = PortOf(soundFont);
  if (!port) {
    std::fprintf(stderr, "halvane-bench: no synthesiser port plays %s\n", soundFont.c_str());
    return 2;
  }
  if (FAILED(InitDirectMusic(nullptr))) {
    std::fprintf(stderr, "halvane-bench: Init DirectMusic Failed\n");
    return 2;
  }
  if (FindFilter() != S_OK && (!RegisterCaptureEffect() || FindFilter() != S_OK)) {
    std::fprintf(stderr, "halvane-bench: the capture effect cannot be installed\n");
    RemoveDirectMusic();
    return 2;
  }
  StopMIDI();

  std::optional<BusyCore> busy;
  if (options.busyCore) busy.emplace();
  const char* extension = options.format == bench::OutputFormat::kWav ? ".wav" : ".mp3";
  double ourMusic = 0, ourWall = 0, peerWall = 0;
  bool anyFailed = false;
  std::set<std::string> taken;
  // Renders the peer's output for a file we converted; false (with the error) when it fails.
  const auto renderPeer = [&](const std::string& file, const std::string& name, FileResult& ours) {
    const std::string peerFile = (fs::path(options.outDir) / (name + ".fluidsynth" + extension)).string();
    std::string peerError;
    const Clock::time_point start = Clock::now();
    if (bench::RenderWithFluidSynth(soundFont, file, peerFile, options.format, options.rate, peerError))
      peerWall += Seconds(Clock::now() - start);
    else
      ours.error = peerError;
  };
  const auto report = [&](const std::string& file, const FileResult& ours) {
    if (ours.error.empty()) {
      ourMusic += ours.musicSeconds;
      if (!options.window) ourWall += ours.wallSeconds;
      std::printf("%s\t%.2f\t%.2f\tok\n", file.c_str(), ours.musicSeconds, ours.wallSeconds);
    } else {
      anyFailed = true;
      std::printf("%s\t%.2f\t%.2f\terror: %s\n", file.c_str(), ours.musicSeconds, ours.wallSeconds, ours.error.c_str());
    }
    std::fflush(stdout);
  };
  if (options.window) {
    std::vector<FileResult> results;
    ourWall = ConvertThroughWindow(options, *port, extension, results);
    for (std::size_t i = 0; i < options.files.size(); ++i) {
      const std::string name = DistinctStem(fs::path(options.files[i]).stem().string(), options.compare, taken);
      if (results[i].error.empty() && options.compare) renderPeer(options.files[i], name, results[i]);
      report(options.files[i], results[i]);
    }
  } else {
    for (const std::string& file : options.files) {
      const std::string name = DistinctStem(fs::path(file).stem().string(), options.compare, taken);
      const std::string outFile = (fs::path(options.outDir) / (name + extension)).string();
      FileResult ours = RenderOurs(options, *port, file, outFile);
      if (ours.error.empty() && options.compare) renderPeer(file, name, ours);
      report(file, ours);
    }
  }

  const double ourSpeed = ourWall > 0 ? ourMusic / ourWall : 0;
  std::printf("speed: %.2fx real time\n", ourSpeed);
  if (options.compare) {
    const double peerSpeed = peerWall > 0 ? ourMusic / peerWall : 0;
    std::printf("fluidsynth: %.2fx real time\n", peerSpeed);
    std::printf("ratio: %.2f\n", peerSpeed > 0 ? ourSpeed / peerSpeed : 0.0);
  }
  busy.reset();
  RemoveDirectMusic();
  return anyFailed ? 1 : 0;
}
