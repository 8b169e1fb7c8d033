// halvane-convert: converts MIDI files from a terminal through the same conversion
// worker as the main window, with a main window that lives in the terminal
// (TerminalDialog). See HelpText() in convert_options.cpp for the command line.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/convert_cli/convert_options.h"
#include "app/convert_cli/batch_plan.h"
#include "app/convert_cli/file_result.h"
#include "app/convert_cli/job_pool.h"
#include "app/convert_cli/manifest.h"
#include "app/convert_cli/recording_levels.h"
#include "app/convert_cli/sound_font_option.h"
#include "app/convert_cli/terminal_dialog.h"
#include "app/convert_cli/worker_link.h"
#include "base/debug_log.h"
#include "base/process_state.h"
#include "base/user_folders.h"
#include "convert/conversion_thread.h"
#include "convert/main_window_ids.h"
#include "engine/capture_attachment.h"
#include "engine/music_engine.h"
#include "engine/segment_playback.h"
#include "platform/com/com.h"
#include "platform/core/format.h"
#include "platform/core/kernel.h"
#include "platform/core/sync.h"
#include "platform/shell/shell.h"
#include "platform/window/winuser.h"
#include "ui/dialog_template.h"
#include "ui/headless/worker_window.h"

namespace {

namespace fs = std::filesystem;
using convert_cli::ConvertOptions;
using convert_cli::FileResult;
using convert_cli::FileStatus;
using convert_cli::OutputFormat;
using convert_cli::WorkOrder;

constexpr const char* kProgram = "halvane-convert";
// The tempo slider runs from 0 (50%) to 100 (150%).
constexpr int kTempoSliderOffset = 50;
constexpr int kExitFailed = 1, kExitBadArguments = 2, kExitAborted = 130;
// How long the capture effect's registration may take before the program gives up.
constexpr int kRegistrationWaitMs = 5000;
// Each run appends to the log; a log larger than this at the start is moved aside
// (one earlier log is kept beside it).
constexpr std::size_t kLogLimit = 8u << 20;

// Set by SIGINT and SIGTERM: a signal handler can reach nothing but a global, and
// this one is lock-free. The worker's own Abort flag is set beside it.
std::atomic<bool> s_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::int32_t>::is_always_lock_free);

extern "C" void OnStopSignal(int) {
  s_stopRequested.store(true);
  bIsAborting.store(1);
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

// A line on standard error; names in it cannot steer the terminal.
void Complain(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kProgram, platform::EscapeControls(text).c_str());
}

// The per-user state folder's log: $XDG_STATE_HOME/halvane/convert-log.txt, or
// ~/.local/state/halvane/convert-log.txt.
std::string LogPath() {
  const std::string state = base::UserStateFolder();
  if (state.empty()) return {};
  std::error_code ignored;
  fs::create_directories(state, ignored);
  return state + "/convert-log.txt";
}

// The synthesisers as the window's Device list names them, remembering each one's
// engine index as the window does.
std::vector<std::string> FillPorts() {
  std::vector<std::string> names;
  char name[kTextBufferSize];
  g_nPortCount.store(0);
  for (DWORD index = 0; PortLoopGoesOn(index, g_nPortCount.load()); ++index) {
    if (EnumerateAllPorts(index, name) == 0) break;
    if (name[0] == '\0') continue;
    names.emplace_back(name);
    const int count = g_nPortCount.load();
    g_nPortIndex[count].store(index);
    g_nPortCount.store(count + 1);
  }
  return names;
}

// The Device list position --device names (a number from 1, or a name), or nullopt.
std::optional<int> DevicePosition(const std::string& wanted, const std::vector<std::string>& names) {
  if (wanted.empty()) return names.empty() ? std::nullopt : std::optional<int>(0);
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == wanted) return static_cast<int>(i);
  if (wanted.find_first_not_of("0123456789") == std::string::npos && wanted.size() < 4) {
    const int number = std::stoi(wanted);
    if (number >= 1 && number <= static_cast<int>(names.size())) return number - 1;
  }
  return std::nullopt;
}

// Finds the capture effect, registering its library once when it is missing.
bool CheckCaptureEffect() {
  if (FindFilter() == S_OK) return true;
  g_DebugLog.Print("DMO filter not installed");
  ShellExecuteA(nullptr, "open", "regsvr32", "/s OVDMOFilter.dll", nullptr, SW_HIDE);
  for (int waited = 0; waited < kRegistrationWaitMs; waited += 100) {
    platform::Sleep(100);
    if (FindFilter() == S_OK) return true;
  }
  g_DebugLog.Print("DMO filter hasn't been installed");
  return false;
}

// The line that opens this run in the log, which earlier runs stand above.
void LogRunStart() {
  char when[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  g_DebugLog.Print("Start %s %s (process %d, %s)", kProgram, HALVANE_VERSION, static_cast<int>(::getpid()), when);
}

// A worker process's first line: part of the run that started it.
void LogWorkerStart() {
  g_DebugLog.Print("Worker of %s %s (process %d, for process %d)", kProgram, HALVANE_VERSION,
                   static_cast<int>(::getpid()), static_cast<int>(::getppid()));
}

// An error box's text as one line for the file at path: the step's text, then the
// box's second line without the file's name that starts it (the line gives the
// path already), or the loader's reason for a file that could not be loaded when
// the box gives none. The name may hold line breaks, so the second line is
// everything after the first.
std::string ErrorOf(const std::string& text, const std::string& path) {
  const std::size_t newline = text.find('\n');
  std::string error = text.substr(0, newline);
  std::string detail = newline == std::string::npos ? std::string() : text.substr(newline + 1);
  if (const std::string name = fs::path(path).filename().string() + ": "; detail.rfind(name, 0) == 0)
    detail.erase(0, name.size());
  if (detail.empty() && error == "Can't load MIDI File") detail = GetLoadFailureMIDI();
  return detail.empty() ? error : error + ": " + detail;
}

// What the conversion has seen so far; touched on the window's thread only, but
// for converted and levels, which the worker fills in just before the file leaves
// the list.
struct Run {
  const ConvertOptions* options = nullptr;
  int device = 0;
  std::deque<std::string> pending;     // the list's files, the one being converted first
  std::string error;                   // the error box of the batch that just ended
  bool removingFailed = false;         // the program, not the worker, takes a file off
  std::optional<FileResult> finished;  // the file that just left the list, converted
  std::mutex convertedLock;
  std::optional<ConvertedFile> converted;  // as the worker reported the file leaving the list
  convert_cli::RecordingLevels levels;     // its recording's, measured then
};

// A file left the list (the worker waits in this call): a converted file, unless the
// program took it off.
void FileLeft(Run& run) {
  if (run.pending.empty()) return;
  FileResult result;
  result.input = run.pending.front();
  run.pending.pop_front();
  if (run.removingFailed) return;
  // The worker has written the output and said what it wrote.
  std::optional<ConvertedFile> converted;
  convert_cli::RecordingLevels levels;
  {
    std::lock_guard lock(run.convertedLock);
    converted.swap(run.converted);
    levels = run.levels;
  }
  if (converted) {
    result.output = converted->output;
    result.reasons = converted->repairs;
    if (const std::optional<LoudnessResult>& loudness = converted->loudness) {
      result.loudnessApplied = true;
      result.loudnessLufs = loudness->measuredLufs;
      result.gainDb = loudness->gainDb;
      result.outputLufs = loudness->outputLufs;
      result.truePeakDbtp = loudness->truePeakDbtp;
    }
  }
  result.status = result.reasons.empty() ? FileStatus::kConverted : FileStatus::kConvertedWithWarning;
  result.musicSeconds = levels.seconds;
  result.peakDbfs = levels.peakDbfs;
  result.clippedSamples = levels.clipped;
  g_DebugLog.Print("Converted: %s -> %s%s", result.input.c_str(), result.output.c_str(),
                   result.reasons.empty() ? "" : " (with a warning)");
  run.finished = std::move(result);
}

// The window's controls as the options set them.
ui::WorkerWindowSettings WindowSettings(const ConvertOptions& options, int device) {
  ui::WorkerWindowSettings settings;
  // FLAC is saved where the window saves WAV (SetSaveSettings).
  settings.format = options.format == OutputFormat::kMp3 ? 1 : 0;
  settings.mp3Rate = convert_cli::Mp3RatePosition(options.mp3Rate);
  char name[kTextBufferSize];
  for (int i = 0; i < g_nPortCount.load(); ++i) {
    EnumerateAllPorts(g_nPortIndex[i].load(), name);
    settings.devices.emplace_back(name);
  }
  settings.device = device;
  settings.tempo = options.tempo - kTempoSliderOffset;
  settings.outDir = options.outDir;
  settings.sameDir = options.sameDir;
  return settings;
}

// True once Ctrl+C or SIGTERM came; a stop that came before the worker woke is
// given to it again (waking clears Abort), and a worker that has not woken yet
// will not start.
bool StopWhenAsked() {
  if (!s_stopRequested.load()) return false;
  bIsAborting.store(1);
  RequestWorkerStop();
  return true;
}

// Converts one file through the window's list and its worker, its output into
// order.folder (beside the MIDI file with --same-dir). nullopt when a stop came
// before it was written: nothing of it is left, and it is off the list.
std::optional<FileResult> ConvertOne(Run& run, convert_cli::TerminalDialog& dialog, const WorkOrder& order) {
  const auto started = std::chrono::steady_clock::now();
  if (!run.options->sameDir) {
    // A subfolder of a mirrored tree; a folder that cannot be made is the worker's
    // to name when it checks the output folder.
    std::error_code ignored;
    fs::create_directories(order.folder, ignored);
    dialog.SetItemText(IDC_OUTPUTDIR, order.folder);
  }
  const int at =
      dialog.ListInsertItem(IDC_FILELIST, dialog.ListCount(IDC_FILELIST), fs::path(order.input).filename().string());
  dialog.ListSetItemText(IDC_FILELIST, at, 1, order.input);
  run.pending.push_back(order.input);
  run.finished.reset();
  run.error.clear();
  // A batch cannot end without the window serving the worker's calls, so it is
  // seen busy before it is seen done.
  SetEvent(hConvertEvent);
  dialog.ServeWhile([&] { return !StopWhenAsked() && !WorkerBusy(); });
  dialog.ServeWhile([&] {
    StopWhenAsked();
    return WorkerBusy();
  });
  std::optional<FileResult> result = std::move(run.finished);
  run.finished.reset();
  if (!result && !run.pending.empty() && (!run.error.empty() || !s_stopRequested.load())) {
    result.emplace();
    result->input = order.input;
    result->reasons = {run.error.empty() ? "the conversion ended without writing it" : run.error};
  }
  if (!run.pending.empty()) {
    run.removingFailed = true;
    dialog.ListDeleteItem(IDC_FILELIST, 0);
    run.removingFailed = false;
  }
  if (result) result->renderSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

// Worker mode: converts the files standard input gives, one at a time, and answers
// each one's result on what was standard output (which now shows standard error,
// so that nothing else can come between the results).
int ServeOrders(Run& run, convert_cli::TerminalDialog& dialog) {
  const int answers = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (answers < 0) return kExitFailed;
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  convert_cli::FieldReader reader;
  char buffer[65536];
  while (!s_stopRequested.load()) {
    std::optional<WorkOrder> order = reader.NextOrder();
    if (!order) {
      const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      reader.Add(buffer, static_cast<std::size_t>(got));
      continue;
    }
    std::optional<FileResult> result = ConvertOne(run, dialog, *order);
    if (!result) break;
    const std::string bytes = convert_cli::EncodeResult(*result);
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t wrote = ::write(answers, bytes.data() + done, bytes.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        ::close(answers);
        return kExitFailed;
      }
      done += static_cast<std::size_t>(wrote);
    }
  }
  ::close(answers);
  return s_stopRequested.load() ? kExitAborted : 0;
}

// The arguments a worker process starts with: this run's settings, no files.
std::vector<std::string> WorkerArguments(const ConvertOptions& options) {
  std::vector<std::string> args = {kProgram,   "--worker",
                                   "--format", convert_cli::FormatExtension(options.format),
                                   "--rate",   std::to_string(options.mp3Rate),
                                   "--tempo",  std::to_string(options.tempo)};
  if (!options.device.empty()) args.insert(args.end(), {"--device", options.device});
  if (!options.soundFont.empty()) args.insert(args.end(), {"--soundfont", options.soundFont});
  if (options.loudness) {
    char target[32];
    std::snprintf(target, sizeof target, "%.17g", *options.loudness);
    args.insert(args.end(), {"--loudness", target});
  }
  if (options.sameDir) {
    args.push_back("--same-dir");
  } else {
    args.insert(args.end(), {"--out", options.outDir});
  }
  return args;
}

// The files this run takes (its shard), each with its output folder and the name
// its output is expected under.
std::vector<convert_cli::PlannedFile> PlanFiles(const ConvertOptions& options) {
  std::vector<std::size_t> taken;
  if (options.shardCount > 1) {
    taken = convert_cli::ShardOf(options.files, options.shardIndex, options.shardCount);
  } else {
    for (std::size_t i = 0; i < options.files.size(); ++i) taken.push_back(i);
  }
  std::vector<convert_cli::PlannedFile> plan;
  for (const std::size_t i : taken) {
    convert_cli::PlannedFile file;
    file.input = options.files[i];
    file.folder = options.sameDir
                      ? fs::path(file.input).parent_path().string()
                      : convert_cli::OutputFolderFor(file.input, options.roots[i], options.outDir, options.keepTree);
    plan.push_back(std::move(file));
  }
  convert_cli::NameExpectedOutputs(plan, convert_cli::FormatExtension(options.format));
  return plan;
}

// The files in flight while many convert at once, on one line redrawn in place.
class InFlightLine {
 public:
  InFlightLine(bool live, std::size_t total) : live_(live), total_(total) {}
  void Show(std::size_t done, const std::vector<std::string>& files) {
    if (!live_) return;
    std::string line = "[" + std::to_string(done) + "/" + std::to_string(total_) + "]";
    for (const std::string& file : files) line += "  " + fs::path(file).filename().string();
    if (line.size() > kWidth) line = line.substr(0, kWidth - 3) + "...";
    std::printf("\r\033[K%s", platform::EscapeControls(line).c_str());
    std::fflush(stdout);
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    std::printf("\r\033[K");
    std::fflush(stdout);
    shown_ = false;
  }

 private:
  static constexpr std::size_t kWidth = 100;
  bool live_;
  std::size_t total_;
  bool shown_ = false;
};

// Where each file's outcome goes as it finishes: the manifest at once, the terminal
// in the order of the list (a line waits for the files before it).
class Outcomes {
 public:
  Outcomes(const ConvertOptions& options, std::size_t count, convert_cli::Manifest* manifest,
           std::function<void(const std::string&)> printLine, std::function<void()> clearLine)
      : options_(options),
        manifest_(manifest),
        printLine_(std::move(printLine)),
        clearLine_(std::move(clearLine)),
        results_(count) {}

  void Finished(std::size_t index, FileResult result) {
    if (manifest_ != nullptr && !manifest_->Add(result) && !manifestFailed_) {
      const int error = errno;
      manifestFailed_ = true;
      clearLine_();
      Complain("--manifest " + options_.manifest + ": a line could not be written: " + std::strerror(error));
    }
    if (result.status == FileStatus::kFailed) {
      g_DebugLog.Print("Failed: %s", result.input.c_str());
    } else if (result.status == FileStatus::kSkipped) {
      g_DebugLog.Print("Skipped: %s -> %s", result.input.c_str(), result.output.c_str());
    }
    results_[index] = std::move(result);
    ++done_;
    for (; printed_ < results_.size() && results_[printed_]; ++printed_) {
      const FileResult& shown = *results_[printed_];
      if (shown.status == FileStatus::kFailed) {
        clearLine_();
        Complain(convert_cli::ResultLine(shown));
      } else {
        printLine_(convert_cli::ResultLine(shown));
        if (const std::string clipped = convert_cli::ClippedWarning(shown); !clipped.empty() && !options_.quiet) {
          clearLine_();
          Complain(clipped);
        }
      }
    }
  }
  // The results of the files that finished, in the list's order.
  std::vector<FileResult> Results() const {
    std::vector<FileResult> results;
    for (const std::optional<FileResult>& result : results_)
      if (result) results.push_back(*result);
    return results;
  }
  std::size_t Done() const { return done_; }
  bool ManifestFailed() const { return manifestFailed_; }

 private:
  const ConvertOptions& options_;
  convert_cli::Manifest* manifest_;
  std::function<void(const std::string&)> printLine_;
  std::function<void()> clearLine_;
  std::vector<std::optional<FileResult>> results_;
  std::size_t printed_ = 0;
  std::size_t done_ = 0;
  bool manifestFailed_ = false;
};

int Count(const std::vector<FileResult>& results, FileStatus status) {
  return static_cast<int>(
      std::count_if(results.begin(), results.end(), [&](const FileResult& result) { return result.status == status; }));
}

// Ctrl+C and SIGTERM act as Abort from here on, and the log is opened.
void StartRun(const ConvertOptions& options) {
  InstallStopSignals();
  // The engine's failure texts are in the log; the terminal shows the program's own.
  g_DebugLog.EchoToDeveloperChannel(false);
  // Without a state folder the lines go nowhere rather than to the terminal.
  g_DebugLog.AppendToLogFile(LogPath().c_str(), kLogLimit);
  if (options.worker) {
    LogWorkerStart();
  } else {
    LogRunStart();
  }
}

// What must hold before the engine starts: a SoundFont given by its path plays,
// and the record can be kept. The exit status when it does not.
std::optional<int> RefusedBeforeStart(const ConvertOptions& options, convert_cli::Manifest& manifest) {
  // A SoundFont that cannot play is refused before anything is converted.
  if (!options.soundFont.empty()) {
    if (const std::string problem = convert_cli::UseSoundFont(options.soundFont, !options.worker); !problem.empty()) {
      Complain("--soundfont " + options.soundFont + ": " + problem);
      return kExitBadArguments;
    }
  }
  // The record is opened before anything is converted: a run that cannot keep it
  // does not start.
  if (!options.manifest.empty() && !options.worker) {
    if (const std::string reason = manifest.Open(options.manifest); !reason.empty()) {
      Complain("--manifest " + options.manifest + ": " + reason);
      return kExitBadArguments;
    }
  }
  return std::nullopt;
}

// With the engine started: lists the devices when asked, finds the chosen one
// (its position in the Device list), makes the output folder and installs the
// capture effect. The exit status when the run ends here.
std::optional<int> SetUpDevice(const ConvertOptions& options, int& device) {
  const std::vector<std::string> ports = FillPorts();
  if (options.listDevices) {
    for (std::size_t i = 0; i < ports.size(); ++i)
      std::printf("%zu\t%s\n", i + 1, platform::EscapeControls(ports[i]).c_str());
    if (ports.empty()) Complain("no synthesiser found: install a SoundFont (e.g. fluid-soundfont-gm)");
    return ports.empty() ? kExitFailed : 0;
  }
  const std::optional<int> position = DevicePosition(options.device, ports);
  if (!position) {
    if (ports.empty()) {
      Complain(
          "no synthesiser found: install a SoundFont (e.g. fluid-soundfont-gm) or put a .sf2 file in "
          "~/.local/share/soundfonts");
      return kExitFailed;
    }
    Complain("--device " + options.device + ": no such synthesiser (see --list-devices)");
    return kExitBadArguments;
  }
  device = *position;
  if (!options.sameDir) {
    std::error_code failure;
    fs::create_directories(options.outDir, failure);
    if (!fs::is_directory(options.outDir, failure)) {
      Complain("--out " + options.outDir + ": the folder cannot be made");
      return kExitBadArguments;
    }
  }
  if (!CheckCaptureEffect()) {
    Complain("FindFilter Failed: the capture effect cannot be installed");
    return kExitFailed;
  }
  return std::nullopt;
}

// Converts in this process through the window and its worker: the orders a run
// of many jobs hands this worker, or the files to convert one after the other.
// The exit status of a worker process.
int ConvertHere(Run& run, std::optional<convert_cli::TerminalDialog>& dialog, EngineRemoval& engine,
                const std::vector<convert_cli::PlannedFile>& plan, const std::vector<std::size_t>& toConvert,
                Outcomes& outcomes) {
  const ConvertOptions& options = *run.options;
  const bool live = ::isatty(STDOUT_FILENO) != 0;
  SetConvertedFileObserver([&run](const ConvertedFile& file) {
    const convert_cli::RecordingLevels levels = convert_cli::MeasureRecording();
    std::lock_guard lock(run.convertedLock);
    run.converted = file;
    run.levels = levels;
  });
  dialog.emplace(
      *ui::FindDialogTemplate(ui::IDD_MAIN),
      ui::WorkerWindowProcedure(WindowSettings(options, run.device), {.fileLeft = [&run] { FileLeft(run); }}),
      [&](const std::string& text, const std::string& caption) {
        // Answered at once: the summary is the program's to give; an error ends the batch.
        if (caption == "Error") run.error = ErrorOf(text, run.pending.empty() ? std::string() : run.pending.front());
      },
      live && !options.worker, options.quiet || options.worker);
  dialog->Open(0);
  int status = 0;
  if (options.worker) {
    status = ServeOrders(run, *dialog);
  } else {
    for (const std::size_t i : toConvert) {
      if (s_stopRequested.load()) break;
      std::optional<FileResult> result = ConvertOne(run, *dialog, WorkOrder{plan[i].input, plan[i].folder});
      if (!result) break;
      outcomes.Finished(i, std::move(*result));
    }
  }
  dialog->ClearLine();
  dialog->Close();
  // The worker starts no other batch; it waits, idle, until the process ends.
  RequestWorkerStop();
  SetConvertedFileObserver(nullptr);
  engine.Remove();
  return status;
}

// Hands the files out to jobs worker processes, which start the engine themselves.
void ConvertInWorkers(const ConvertOptions& options, int jobs, const std::vector<convert_cli::PlannedFile>& plan,
                      const std::vector<std::size_t>& toConvert, Outcomes& outcomes, InFlightLine& inFlight) {
  std::vector<WorkOrder> orders;
  for (const std::size_t i : toConvert) orders.push_back({plan[i].input, plan[i].folder});
  convert_cli::PoolHooks hooks;
  hooks.finished = [&](std::size_t at, FileResult result) { outcomes.Finished(toConvert[at], std::move(result)); };
  hooks.stopRequested = [] { return s_stopRequested.load(); };
  hooks.inFlight = [&](const std::vector<std::string>& files) { inFlight.Show(outcomes.Done(), files); };
  const std::vector<std::size_t> unanswered =
      convert_cli::RunJobPool("/proc/self/exe", WorkerArguments(options), jobs, orders, hooks);
  inFlight.Clear();
  if (s_stopRequested.load()) return;
  // No worker could be started for them.
  for (const std::size_t at : unanswered) {
    FileResult failed;
    failed.input = orders[at].input;
    failed.reasons = {"no worker process could be started"};
    outcomes.Finished(toConvert[at], std::move(failed));
  }
}

// The run's end: its line in the log, the summary on the terminal, the exit status.
int FinishRun(const ConvertOptions& options, const Outcomes& outcomes, std::size_t planned) {
  const std::vector<FileResult> results = outcomes.Results();
  const bool aborted = s_stopRequested.load();
  const int failed = Count(results, FileStatus::kFailed);
  const int warned = Count(results, FileStatus::kConvertedWithWarning);
  const int converted = Count(results, FileStatus::kConverted) + warned;
  const int passed = Count(results, FileStatus::kSkipped);
  g_DebugLog.Print("End %s: %d converted (%d with a warning), %d failed%s%s", kProgram, converted, warned, failed,
                   passed > 0 ? (", " + std::to_string(passed) + " skipped").c_str() : "", aborted ? ", stopped" : "");
  // Quiet: the failures' own lines are all there is to say.
  if (!options.quiet) {
    for (const std::string& line : convert_cli::SummaryLines(results, planned)) Complain(line);
    if (passed > 0)
      Complain(std::to_string(passed) + " of " + std::to_string(planned) +
               " file(s) skipped: their output was there already");
    if (aborted)
      Complain("stopped: " + std::to_string(converted) + " converted, " + std::to_string(planned - results.size()) +
               " not converted");
  }
  if (aborted) return kExitAborted;
  return failed == 0 && !outcomes.ManifestFailed() ? 0 : kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const std::optional<ConvertOptions> parsed = convert_cli::ParseConvertOptions(argc, argv, error);
  if (!parsed) {
    Complain(error + " (try --help)");
    return kExitBadArguments;
  }
  const ConvertOptions& options = *parsed;
  if (options.help) {
    std::fputs(convert_cli::HelpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, HALVANE_VERSION);
    return 0;
  }

  StartRun(options);
  convert_cli::Manifest manifest;
  if (const std::optional<int> status = RefusedBeforeStart(options, manifest)) return *status;

  AllocateProcessBuffers();
  CoInitialize(nullptr);
  if (InitDirectMusic(nullptr) < 0) {
    g_DebugLog.Print("Init DirectMusic Failed");
    Complain("Init DirectMusic Failed");
    return kExitFailed;
  }
  EngineRemoval engine;
  Run run;
  run.options = &options;
  if (const std::optional<int> status = SetUpDevice(options, run.device)) return *status;

  const std::vector<convert_cli::PlannedFile> plan =
      options.worker ? std::vector<convert_cli::PlannedFile>{} : PlanFiles(options);
  // Files whose outputs a former run left are passed over before any is converted,
  // so that this run's own outputs do not count.
  std::vector<std::size_t> toConvert;
  std::vector<std::size_t> skipped;
  const std::vector<bool> there =
      options.skipExisting ? convert_cli::OutputsThere(plan) : std::vector<bool>(plan.size(), false);
  for (std::size_t i = 0; i < plan.size(); ++i) (there[i] ? skipped : toConvert).push_back(i);
  const int jobs = std::min<int>(options.jobs > 0 ? options.jobs : convert_cli::ProcessorsAvailable(),
                                 static_cast<int>(toConvert.size()));
  const bool live = ::isatty(STDOUT_FILENO) != 0;

  std::optional<convert_cli::TerminalDialog> dialog;
  InFlightLine inFlight(live && !options.quiet, plan.size());
  Outcomes outcomes(
      options, plan.size(), options.manifest.empty() ? nullptr : &manifest,
      [&](const std::string& line) {
        if (dialog) {
          dialog->ReportFinished(line);
        } else if (!options.quiet) {
          inFlight.Clear();
          std::printf("%s\n", line.c_str());
          std::fflush(stdout);
        }
      },
      [&] {
        if (dialog) dialog->ClearLine();
        inFlight.Clear();
      });
  for (const std::size_t i : skipped) {
    FileResult result;
    result.input = plan[i].input;
    result.output = plan[i].expected;
    result.status = FileStatus::kSkipped;
    outcomes.Finished(i, std::move(result));
  }

  SetSaveSettings({options.format == OutputFormat::kFlac, options.loudness});
  if (options.worker || jobs <= 1) {
    const int status = ConvertHere(run, dialog, engine, plan, toConvert, outcomes);
    if (options.worker) return status;
  } else {
    // The workers start the engine themselves; this process only hands out files.
    engine.Remove();
    ConvertInWorkers(options, jobs, plan, toConvert, outcomes, inFlight);
  }
  return FinishRun(options, outcomes, plan.size());
}
