// halvane-convert: converts MIDI files from a terminal through the same conversion
// worker as the main window, with a main window that lives in the terminal
// (TerminalDialog). See HelpText() in convert_options.cpp for the command line.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/convert_cli/convert_options.h"
#include "app/convert_cli/file_result.h"
#include "app/convert_cli/terminal_dialog.h"
#include "base/debug_log.h"
#include "base/process_state.h"
#include "base/user_folders.h"
#include "convert/conversion_thread.h"
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

namespace {

namespace fs = std::filesystem;
using convert_cli::ConvertOptions;
using convert_cli::FileResult;
using convert_cli::FileStatus;
using convert_cli::OutputFormat;

constexpr const char* kProgram = "halvane-convert";
// The main window's controls the program sets up or watches.
constexpr int kList = 2003, kAbort = 2018, kFormat = 2022, kWavQuality = 2011, kMp3Quality = 2023;
constexpr int kDevice = 2021, kTempo = 2026, kOutputDir = 2012, kSameDirectory = 2014;
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

// An error box's text as one line: its lines joined, with the loader's reason for
// a file that could not be loaded when the box does not give it already.
std::string ErrorOf(const std::string& text) {
  std::string error;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    if (end > at) error += (error.empty() ? "" : ": ") + text.substr(at, end - at);
    at = end + 1;
  }
  const std::string reason = GetLoadFailureMIDI();
  if (text.rfind("Can't load MIDI File", 0) == 0 && !reason.empty() && text.find(reason) == std::string::npos)
    error += ": " + reason;
  return error;
}

// What the conversion has seen so far; touched on the window's thread only, but
// for converted, which the worker fills in just before the file leaves the list.
struct Run {
  const ConvertOptions* options = nullptr;
  convert_cli::TerminalDialog* dialog = nullptr;
  int device = 0;
  std::deque<std::string> pending;  // the list's files, the one being converted first
  std::string error;                 // the error box of the batch that just ended
  bool removingFailed = false;       // the program, not the worker, takes a file off
  std::vector<FileResult> results;   // in the order the files finished
  std::mutex convertedLock;
  std::optional<ConvertedFile> converted;  // as the worker reported the file leaving the list
};

Run* s_run = nullptr;  // the run ConverterWindowProc serves

int Count(const Run& run, FileStatus status) {
  return static_cast<int>(std::count_if(run.results.begin(), run.results.end(),
                                         [&](const FileResult& result) { return result.status == status; }));
}

// The window's part: the controls as the options set them, the worker started as
// the window starts it; a file leaving the list is a converted file.
INT_PTR ConverterWindowProc(HWND hDlg, UINT msg, WPARAM, LPARAM lParam) {
  ui::Dialog& d = ui::Dlg(hDlg);
  Run& run = *s_run;
  const ConvertOptions& options = *run.options;
  switch (msg) {
    case WM_INITDIALOG: {
      d.ComboAddString(kFormat, "Wav");
      d.ComboAddString(kFormat, "Mp3");
      d.ComboSetSel(kFormat, options.format == OutputFormat::kWav ? 0 : 1);
      for (const char* rate : {"11025 Hz", "22050 Hz", "44100 Hz", "48000 Hz"}) d.ComboAddString(kMp3Quality, rate);
      d.ComboSetSel(kMp3Quality, convert_cli::Mp3RatePosition(options.mp3Rate));
      d.ComboAddString(kWavQuality, "Origin");
      d.ComboSetSel(kWavQuality, 0);
      char name[kTextBufferSize];
      for (int i = 0; i < g_nPortCount.load(); ++i) {
        EnumerateAllPorts(g_nPortIndex[i].load(), name);
        d.ComboAddString(kDevice, name);
      }
      d.ComboSetSel(kDevice, run.device);
      d.SliderSetRange(kTempo, 0, 100);
      d.SliderSetPos(kTempo, options.tempo - kTempoSliderOffset);
      d.SetItemText(kOutputDir, options.outDir);
      d.SetCheck(kSameDirectory, options.sameDir ? BST_CHECKED : BST_UNCHECKED);
      g_bSameDirectory.store(options.sameDir ? 1 : 0);
      for (const std::string& file : run.pending) {
        const int at = d.ListInsertItem(kList, d.ListCount(kList), fs::path(file).filename().string());
        d.ListSetItemText(kList, at, 1, file);
      }
      d.EnableItem(kAbort, false);
      hConvertEvent = CreateEventA(nullptr, FALSE, FALSE, "ConvertMIDI");
      CloseHandle(CreateThread(nullptr, 0, ConversionThread, hDlg, 0, nullptr));
      return TRUE;
    }
    case WM_NOTIFY: {
      const auto* record = reinterpret_cast<const NMLISTVIEW*>(lParam);
      if (record->hdr.idFrom != kList || record->hdr.code != LVN_DELETEITEM || run.pending.empty()) return TRUE;
      FileResult result;
      result.input = run.pending.front();
      run.pending.pop_front();
      if (run.removingFailed) return TRUE;
      // The worker waits in this call with the output written, and has said what it wrote.
      std::optional<ConvertedFile> converted;
      {
        std::lock_guard lock(run.convertedLock);
        converted.swap(run.converted);
      }
      if (converted) {
        result.output = converted->output;
        result.reasons = converted->repairs;
      }
      result.status = result.reasons.empty() ? FileStatus::kConverted : FileStatus::kConvertedWithWarning;
      g_DebugLog.Print("Converted: %s -> %s%s", result.input.c_str(), result.output.c_str(),
                       result.reasons.empty() ? "" : " (with a warning)");
      run.dialog->ReportFinished(convert_cli::ResultLine(result));
      run.results.push_back(std::move(result));
      return TRUE;
    }
    default:
      return FALSE;
  }
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

  // From here on Ctrl+C and SIGTERM act as Abort.
  InstallStopSignals();
  // The engine's failure texts are in the log; the terminal shows the program's own.
  g_DebugLog.EchoToDeveloperChannel(false);
  // Without a state folder the lines go nowhere rather than to the terminal.
  g_DebugLog.AppendToLogFile(LogPath().c_str(), kLogLimit);
  LogRunStart();
  AllocateProcessBuffers();
  CoInitialize(nullptr);

  if (InitDirectMusic(nullptr) < 0) {
    g_DebugLog.Print("Init DirectMusic Failed");
    Complain("Init DirectMusic Failed");
    return kExitFailed;
  }
  const std::vector<std::string> ports = FillPorts();
  if (options.listDevices) {
    for (std::size_t i = 0; i < ports.size(); ++i) std::printf("%zu\t%s\n", i + 1, platform::EscapeControls(ports[i]).c_str());
    if (ports.empty()) Complain("no synthesiser found: install a SoundFont (e.g. fluid-soundfont-gm)");
    RemoveDirectMusic();
    return ports.empty() ? kExitFailed : 0;
  }
  const std::optional<int> device = DevicePosition(options.device, ports);
  if (!device) {
    RemoveDirectMusic();
    if (ports.empty()) {
      Complain("no synthesiser found: install a SoundFont (e.g. fluid-soundfont-gm) or put a .sf2 file in "
               "~/.local/share/soundfonts");
      return kExitFailed;
    }
    Complain("--device " + options.device + ": no such synthesiser (see --list-devices)");
    return kExitBadArguments;
  }
  if (!options.sameDir) {
    std::error_code failure;
    fs::create_directories(options.outDir, failure);
    if (!fs::is_directory(options.outDir, failure)) {
      Complain("--out " + options.outDir + ": the folder cannot be made");
      RemoveDirectMusic();
      return kExitBadArguments;
    }
  }

  if (!CheckCaptureEffect()) {
    Complain("FindFilter Failed: the capture effect cannot be installed");
    RemoveDirectMusic();
    return kExitFailed;
  }

  Run run;
  run.options = &options;
  run.device = *device;
  run.pending.assign(options.files.begin(), options.files.end());
  s_run = &run;
  SetConvertedFileObserver([&run](const ConvertedFile& file) {
    std::lock_guard lock(run.convertedLock);
    run.converted = file;
  });
  convert_cli::TerminalDialog dialog(
      *ui::FindDialogTemplate(ui::IDD_MAIN), &ConverterWindowProc,
      [&](const std::string& text, const std::string& caption) {
        // Answered at once: the summary is the program's to give; an error ends the batch.
        if (caption == "Error") run.error = ErrorOf(text);
      },
      ::isatty(STDOUT_FILENO) != 0, options.quiet);
  run.dialog = &dialog;
  dialog.Open(0);

  // One batch per Convert!: a failed file is taken off the list and the rest go on.
  // A batch cannot end without the window serving the worker's calls, so it is
  // seen busy before it is seen done.
  const auto stopWhenAsked = [&] {
    if (!s_stopRequested.load()) return false;
    // A stop that came before the worker woke is given to it again (waking clears
    // Abort), and a worker that has not woken yet will not start.
    bIsAborting.store(1);
    RequestWorkerStop();
    return true;
  };
  while (!run.pending.empty() && !s_stopRequested.load()) {
    run.error.clear();
    SetEvent(hConvertEvent);
    dialog.ServeWhile([&] { return !stopWhenAsked() && !WorkerBusy(); });
    dialog.ServeWhile([&] {
      stopWhenAsked();
      return WorkerBusy();
    });
    if (!run.error.empty() && !run.pending.empty()) {
      FileResult failed;
      failed.input = run.pending.front();
      failed.reasons = {run.error};
      dialog.ClearLine();
      Complain(convert_cli::ResultLine(failed));
      run.results.push_back(std::move(failed));
      run.removingFailed = true;
      dialog.ListDeleteItem(kList, 0);
      run.removingFailed = false;
    }
  }
  dialog.ClearLine();
  dialog.Close();

  // The worker starts no other batch; it waits, idle, until the process ends.
  RequestWorkerStop();
  SetConvertedFileObserver(nullptr);
  RemoveDirectMusic();
  s_run = nullptr;

  const bool aborted = s_stopRequested.load();
  const int failed = Count(run, FileStatus::kFailed);
  const int warned = Count(run, FileStatus::kConvertedWithWarning);
  const int converted = Count(run, FileStatus::kConverted) + warned;
  g_DebugLog.Print("End %s: %d converted (%d with a warning), %d failed%s", kProgram, converted, warned, failed,
                   aborted ? ", stopped" : "");
  // Quiet: the failures' own lines are all there is to say.
  if (!options.quiet) {
    for (const std::string& line : convert_cli::SummaryLines(run.results, options.files.size())) Complain(line);
    if (aborted)
      Complain("stopped: " + std::to_string(converted) + " converted, " + std::to_string(run.pending.size()) +
               " not converted");
  }
  if (aborted) return kExitAborted;
  return failed == 0 ? 0 : kExitFailed;
}
