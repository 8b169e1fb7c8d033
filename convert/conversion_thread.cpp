#include "convert/conversion_thread.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>

#include "base/debug_log.h"
#include "base/process_state.h"
#include "convert/main_window_ids.h"
#include "engine/capture_attachment.h"
#include "engine/music_engine.h"
#include "engine/result_descriptions.h"
#include "engine/segment_playback.h"
#include "output/flac_file.h"
#include "output/loudness.h"
#include "output/mp3_transcoder.h"
#include "output/recording_mp3_encoder.h"
#include "output/save_file_wav.h"
#include "platform/com/com.h"
#include "platform/core/files.h"
#include "platform/core/folder_check.h"
#include "platform/core/format.h"
#include "platform/core/kernel.h"
#include "platform/core/part_file.h"
#include "platform/core/sync.h"
#include "platform/core/unlinked_file.h"
#include "platform/window/winuser.h"

namespace {

// The controls locked while files play; Abort is the one enabled instead.
constexpr int kLockedWhilePlaying[] = {IDC_ADDFILE, IDC_REMOVEFILE,    IDC_REMOVEALL,     IDC_PLAYFILE,
                                       IDC_CONVERT, IDC_FORMAT,        IDC_WAVQUALITY,    IDC_MP3QUALITY,
                                       IDC_DEVICE,  IDC_CHANGEWAVPATH, IDC_SAMEDIRECTORY, IDC_TEMPO};
// The controls given back at the end of a batch (Convert!, "..." and Abort by their own rules).
constexpr int kUnlockedAtEnd[] = {IDC_ADDFILE,    IDC_REMOVEALL, IDC_FORMAT,        IDC_WAVQUALITY,
                                  IDC_MP3QUALITY, IDC_DEVICE,    IDC_SAMEDIRECTORY, IDC_TEMPO};

constexpr const char* kProgramName = "Halvane";
// The MP3 sample rate of each position of the MP3 Quality list; no selection gives 22050.
constexpr int kMp3Rates[] = {11025, 22050, 44100, 48000};
constexpr int kDefaultMp3Rate = 22050;
// The "File:" label shows this many characters of a longer name, then "...".
constexpr std::size_t kLabelChars = 36;
// How often the wait loop looks at the music, the clock and Abort.
constexpr DWORD kPollMs = 100;
constexpr REFERENCE_TIME kClockUnitsPerSecond = 10'000'000;
// name(1) ... name(kMaxNameCounter): a folder holding all of them takes no more outputs.
constexpr int kMaxNameCounter = 9999;
// The option of the notification that the music is almost at its end.
constexpr int kSegmentAlmostEnd = 2;
constexpr const char* kTempPrefix = "ovhal";

// What the window's thread and the worker share about the worker, under one lock, so
// that waking for a batch and a stop request are ordered: the worker becomes busy
// only while no stop is requested for it. A worker is known by its Convert! event,
// which its window makes before starting it, so a stop is never lost to a worker
// that has not run yet, and never holds for the worker of a later window.
struct WorkerState {
  std::mutex lock;
  bool busy = false;
  HANDLE stopped = nullptr;  // the event of the worker asked to stop
  HANDLE ended = nullptr;    // tests only: the event of the worker asked to return
  ConvertedFileObserver observer;
  SaveSettings save;
};

WorkerState& State() {
  static WorkerState state;
  return state;
}

bool StopRequested(HANDLE event) {
  WorkerState& state = State();
  std::lock_guard lock(state.lock);
  return state.stopped == event;
}

void ReportConverted(const ConvertedFile& file) {
  WorkerState& state = State();
  ConvertedFileObserver observer;
  {
    std::lock_guard lock(state.lock);
    observer = state.observer;
  }
  if (observer) observer(file);
}

// Cuts text at its last c, looking down to index 1: index 0 is never a cut.
void CutAtLast(std::string& text, char c) {
  const std::size_t at = text.rfind(c);
  if (at != std::string::npos && at >= 1) text.resize(at);
}

// The folder of a full path: everything before its last '/'. A file in the root
// folder has the folder "/"; a path without a folder stays whole.
std::string FolderOf(std::string path) {
  const std::size_t at = path.rfind('/');
  if (at == 0) return "/";
  CutAtLast(path, '/');
  return path;
}

// folder/name, without doubling a '/' that ends folder.
std::string Join(const std::string& folder, const std::string& name) {
  return !folder.empty() && folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The name as the "File:" label shows it: its first 36 characters and "..." when it
// is longer. Characters, not bytes: a character of several bytes is never split.
std::string LabelName(const std::string& name) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) == 0x80) continue;  // inside a character
    if (characters == kLabelChars) return name.substr(0, i) + "...";
    ++characters;
  }
  return name;
}

// The line under an error's text: what it concerns, and why.
std::string Because(const std::string& what, const std::string& why) { return what + ": " + why; }

// Reserves a free output name in folder by creating it empty: "base.ext", else
// "base(1).ext", "base(2).ext" and so on. Empty when no name can be made: the
// folder cannot take the file (missing, not a folder, no access, name too long) or
// every counter is taken; reason then says which name and why.
std::string ReserveOutputName(const std::string& folder, const std::string& base, const char* extension,
                              std::string& reason) {
  for (int counter = 0; counter <= kMaxNameCounter; ++counter) {
    const std::string name =
        counter == 0 ? base + "." + extension : base + "(" + std::to_string(counter) + ")." + extension;
    const std::string candidate = Join(folder, name);
    if (candidate.size() >= kPathBufferSize) {
      reason = platform::ReasonFor(candidate, ENAMETOOLONG);
      return {};
    }
    errno = 0;
    HANDLE file = CreateFileA(candidate.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return candidate;
    }
    if (GetLastError() != static_cast<DWORD>(ERROR_FILE_EXISTS)) {
      reason = platform::ReasonFor(candidate, errno != 0 ? errno : EIO);
      return {};
    }
  }
  reason = platform::ReasonFor(Join(folder, base + "(" + std::to_string(kMaxNameCounter) + ")." + extension), EEXIST);
  return {};
}

// The reason a writer's failure left: the system's, when it left one.
std::string WriteFailure(const std::string& path, int error) {
  return error != 0 ? platform::ReasonFor(path, error) : path + ": the file could not be written";
}

// One batch: from the Convert! signal until the list is empty, Abort, or an error.
class Batch {
 public:
  Batch(HWND hWnd, HANDLE event) : hWnd_(hWnd), dialog_(ui::Dlg(hWnd)), event_(event) {}
  void Run();

 private:
  // Each returns false when an error has ended the batch.
  bool ConvertFirstFile();
  // The folder the output of the file at path goes to: its own folder in
  // same-directory mode, else the output folder the window shows.
  std::string OutputFolderFor(const std::string& path, bool sameDirectory);
  void WaitForTheEnd();
  // mp3: through a temporary WAV file into an MP3 file, which encoder, when there is
  // one, has encoded while the music was recorded.
  bool SaveOutput(const std::string& base, bool mp3, RecordingMp3Encoder* encoder);
  // With the terminal program's FLAC or loudness, the recording read into memory
  // (and brought to the loudness) for SaveOutput to write; false with reason_ set.
  bool ReadAndShape(PcmRecording& recording);
  // Writes the recording as WAV to path: the capture's as it stands, or shaped.
  bool WriteWav(const std::string& path, const PcmRecording* shaped, DWORD* rate);

  // Abort pressed, or the window closing.
  bool Aborting() const { return bIsAborting.load() != 0 || StopRequested(event_); }
  // detail, when there is one, is the line under text: the file or folder, and why.
  bool Fail(const char* text, const std::string& detail = {});
  void GiveControlsBack(bool enableConvert);
  void Finish();
  void Up() {
    g_DebugLog.IndentUp();
    ++depth_;
  }
  void Down() {
    g_DebugLog.IndentDown();
    --depth_;
  }

  HWND hWnd_;
  ui::Dialog& dialog_;
  HANDLE event_;   // the worker's Convert! event, which names it
  int depth_ = 0;  // indentation levels this batch has added to the log
  DWORD tempo_ = 50;
  int mp3Rate_ = kDefaultMp3Rate;
  int converted_ = 0;
  SaveSettings save_;                       // as the batch started
  std::optional<LoudnessResult> loudness_;  // of the file just saved
  std::string folder_;                      // where the output of the file being converted goes
  std::string output_;                      // the file the current song was saved as, once saved
  std::string reason_;                      // why the step that failed failed: the file and the system's reason
};

void Batch::Run() {
  g_DebugLog.Print("WaitForSingleObject");
  Up();
  bIsConverting = 1;
  bIsAborting = 0;
  if (const HRESULT hr = StopMIDI(); FAILED(hr)) {  // ends an audition that may be playing
    Fail("Stop MIDI Failed", DescribeResult(hr));
    return;
  }
  ShowWindow(GetDlgItem(hWnd_, IDC_PLAYFILE), SW_SHOWNORMAL);
  ShowWindow(GetDlgItem(hWnd_, IDC_STOPPLAYING), SW_HIDE);
  tempo_ = static_cast<DWORD>(dialog_.SliderGetPos(IDC_TEMPO));
  g_DebugLog.Print("Tempo: %d", static_cast<int>(tempo_));
  const int quality = dialog_.ComboGetSel(IDC_MP3QUALITY);
  g_DebugLog.Print("Quality: %d", quality);
  mp3Rate_ = quality >= 0 && quality < static_cast<int>(std::size(kMp3Rates)) ? kMp3Rates[quality] : kDefaultMp3Rate;
  g_DebugLog.Print("Quality: %d", mp3Rate_);
  converted_ = 0;
  {
    WorkerState& state = State();
    std::lock_guard lock(state.lock);
    save_ = state.save;
  }

  while (dialog_.ListCount(IDC_FILELIST) > 0 && !Aborting()) {
    if (!ConvertFirstFile()) return;
  }

  if (!Aborting() && converted_ > 0) {
    // The worker's own buffer: the window uses the shared scratch text on its thread.
    char summary[platform::kFormatLimit + 1];
    platform::FormatTextTo(summary, "%d MIDI-file(s) was converted!", converted_);
    g_DebugLog.Print("%s", summary);
    MessageBoxA(hWnd_, summary, kProgramName, MB_OK);
  }
  GiveControlsBack(Aborting());
  g_DebugLog.Print("Thread - ok");
  Down();
  Finish();
}

bool Batch::ConvertFirstFile() {
  output_.clear();
  reason_.clear();
  loudness_.reset();
  // The file is taken once: this file's path and name are kept from here to the
  // end, whatever the list shows meanwhile.
  const std::string path = dialog_.ListItemText(IDC_FILELIST, 0, 1);
  const std::string name = dialog_.ListItemText(IDC_FILELIST, 0, 0);
  g_DebugLog.Print("File Name: %s", path.c_str());
  Up();

  // A folder that cannot take the output fails the file before it renders, not after.
  const bool sameDirectory = g_bSameDirectory.load() != 0;
  folder_ = OutputFolderFor(path, sameDirectory);
  if (const std::string problem = platform::FolderWriteProblem(folder_); !problem.empty())
    return Fail("Can't Save Output File", Because(folder_, problem));

  const int port = dialog_.ComboGetSel(IDC_DEVICE);
  iPort = port;
  g_DebugLog.Print("iPort: %d", port);
  // No Device selection (no usable port) has no engine port to configure.
  const int ports = g_nPortCount.load();
  if (port < 0 || port >= ports || port >= kPortIndexSize)
    return Fail("Configure Synthesizer Failed", Because(name, "no synthesizer device is selected"));
  if (const HRESULT hr = ConfigureSynthesizer(g_nPortIndex[port].load(), tempo_); FAILED(hr))
    return Fail("Configure Synthesizer Failed", Because(name, DescribeResult(hr)));
  // A path that does not fit the path buffers is refused rather than cut.
  if (path.size() >= kPathBufferSize)
    return Fail("Can't load MIDI File",
                Because(name, "its path is longer than " + std::to_string(kPathBufferSize - 1) + " bytes"));
  if (const HRESULT hr = LoadMIDI(path.c_str()); FAILED(hr)) {
    const std::string why = GetLoadFailureMIDI();
    return Fail("Can't load MIDI File", Because(name, why.empty() ? DescribeResult(hr) : why));
  }
  // A freshly attached capture effect records this file alone.
  if (const HRESULT hr = RemoveFilter(); FAILED(hr))
    return Fail("Can't Remove Filter", Because(name, DescribeResult(hr)));
  if (const HRESULT hr = SetFilter(); FAILED(hr)) return Fail("Can't Set Filter", Because(name, DescribeResult(hr)));
  if (const HRESULT hr = PlayMIDI(TRUE); FAILED(hr))
    return Fail("Can't Play MIDI File", Because(name, DescribeResult(hr)));
  // A song whose recording cannot fit a WAV file is refused before it renders.
  if (const std::string tooLong = WavTooLongReason(path, GetEndTimeMIDI() - GetTimeMIDI()); !tooLong.empty()) {
    StopMIDI();
    return Fail("Can't Save Output File", tooLong);
  }

  char text[platform::kFormatLimit + 1];
  platform::FormatTextTo(text, "%s -- %s", kProgramName, name.c_str());
  SetWindowTextA(hWnd_, text);
  platform::FormatTextTo(text, "File: %s", LabelName(name).c_str());
  dialog_.SetItemText(IDC_FILELABEL, text);
  for (int id : kLockedWhilePlaying) dialog_.EnableItem(id, false);
  dialog_.EnableItem(IDC_ABORT, true);

  // The format is locked from here on. An MP3 is encoded while the music renders;
  // an encoder still running when the file is left (Abort, the window closing, an
  // error) is stopped with it, and what it made was only ever in memory.
  const bool mp3 = dialog_.ComboGetSel(IDC_FORMAT) != 0;
  // A recording brought to a loudness is encoded once it is shaped, not before.
  const std::unique_ptr<RecordingMp3Encoder> encoder =
      mp3 && !save_.loudnessLufs ? RecordingMp3Encoder::Start(mp3Rate_) : nullptr;

  WaitForTheEnd();

  g_DebugLog.Print("bIsAborting: %d", Aborting() ? 1 : 0);
  if (const HRESULT hr = StopMIDI(); FAILED(hr)) return Fail("Stop MIDI Failed", Because(name, DescribeResult(hr)));
  // The music has stopped: the encoder finishes the rest while the WAV is saved.
  if (encoder) encoder->RecordingEnded();
  if (Aborting()) {
    // The file stays first in the list; nothing is written for it.
    Down();
    return true;
  }

  // The shared output folder follows the chosen one. In same-directory mode the
  // input's folder stays the worker's own: the output folder the user chose is
  // what the window shows and what is kept for the next start.
  if (!sameDirectory) {
    std::lock_guard lock(g_OutputDirLock);
    const std::size_t n = std::min(folder_.size(), kTextBufferSize - 1);
    std::memcpy(g_szOutputDir, folder_.data(), n);
    g_szOutputDir[n] = '\0';
  }

  std::string base = name;
  CutAtLast(base, '.');
  if (!SaveOutput(base, mp3, encoder.get())) {
    // Abort while the recording was brought to a loudness: left as any aborted file is.
    if (save_.loudnessLufs && Aborting()) {
      Down();
      return true;
    }
    return Fail("Can't Save Output File",
                reason_.empty() ? Because(folder_, "the output file could not be written") : reason_);
  }

  g_DebugLog.Print("done");
  ReportConverted({path, output_, GetLoadRepairsMIDI(), loudness_});
  // Item 0 is still this file: nothing but the worker removes items during a batch.
  if (dialog_.ListItemText(IDC_FILELIST, 0, 1) == path) dialog_.ListDeleteItem(IDC_FILELIST, 0);
  ++converted_;
  Down();
  return true;
}

std::string Batch::OutputFolderFor(const std::string& path, bool sameDirectory) {
  if (sameDirectory) return FolderOf(path);
  char edit[kPathBufferSize];
  GetDlgItemTextA(hWnd_, IDC_OUTPUTDIR, edit, sizeof edit);
  return edit;
}

// Shows the time and progress until the music is almost at its end or the batch is
// aborted. Each pass renders kPollMs of music on the recording clock; a text or
// position that has not changed since the last pass is not sent again.
void Batch::WaitForTheEnd() {
  // Both ends of the span are exact clock readings: whole-second readings of the
  // same music differ by one depending on where the clock stood within a second.
  const REFERENCE_TIME start = GetReferenceTimeMIDI();
  // Whole seconds from now to the end, less one; 0 or less shows as 00:00 with the
  // bar left at 0.
  const int total = static_cast<int>((GetEndReferenceTimeMIDI() - start) / kClockUnitsPerSecond) - 1;
  const DWORD shownTotal = total > 0 ? static_cast<DWORD>(total) : 0;
  char totalText[8];
  FormatMinSec(shownTotal, totalText);

  std::string shownTime;
  int shownPosition = -1;
  while (!Aborting()) {
    if (GetNotifyMIDI() == kSegmentAlmostEnd) {
      g_DebugLog.Print("DMUS_NOTIFICATION_MUSICALMOSTEND");
      RemoveNotifyMIDI();
      return;
    }
    // The last notes' release sounds on past the end: the time stops at the total.
    const REFERENCE_TIME since = GetReferenceTimeMIDI() - start;
    const DWORD elapsed = std::min(since > 0 ? static_cast<DWORD>(since / kClockUnitsPerSecond) : 0u, shownTotal);
    char elapsedText[8];
    FormatMinSec(elapsed, elapsedText);
    char label[platform::kFormatLimit + 1];
    platform::FormatTextTo(label, "Time elapsed: %s / %s", elapsedText, totalText);
    if (shownTime != label) {
      dialog_.SetItemText(IDC_TIMELABEL, label);
      shownTime = label;
    }
    const DWORD position = shownTotal > 0 ? elapsed * 100u / shownTotal : 0;
    const int clamped = position > 100 ? 100 : static_cast<int>(position);
    if (clamped != shownPosition) {
      dialog_.ProgressSetPos(IDC_PROGRESS, clamped);
      shownPosition = clamped;
    }
    platform::Sleep(kPollMs);
  }
}

bool Batch::ReadAndShape(PcmRecording& recording) {
  if (const std::string why = ReadCapturedRecording(recording); !why.empty()) {
    reason_ = Because(folder_, why);
    return false;
  }
  if (!save_.loudnessLufs) return true;
  LoudnessResult loudness;
  if (const std::string why =
          NormaliseLoudness(recording, *save_.loudnessLufs, loudness, [this] { return Aborting(); });
      !why.empty()) {
    reason_ = Because(folder_, why);
    return false;
  }
  // The log's own formatting has no real numbers.
  char line[160];
  std::snprintf(line, sizeof line,
                "Loudness: %.2f LUFS measured, gain %+.2f dB; written at %.2f LUFS, true peak %.2f dBTP",
                loudness.measuredLufs, loudness.gainDb, loudness.outputLufs, loudness.truePeakDbtp);
  g_DebugLog.Print("%s", line);
  loudness_ = loudness;
  return true;
}

bool Batch::WriteWav(const std::string& path, const PcmRecording* shaped, DWORD* rate) {
  if (shaped == nullptr) return SUCCEEDED(SaveFileWAV(path.c_str(), rate));
  *rate = static_cast<DWORD>(shaped->rate);
  return SUCCEEDED(SaveRecordingWav(path.c_str(), *shaped));
}

// Writes the recording as base.wav (base.flac with the terminal program's FLAC),
// or through a temporary WAV file as base.mp3, in folder_. The output is written
// under a part name beside the reserved one and renamed onto it when whole; the
// temporary WAV has no name once it is open. The transcoder writes the encoder's
// MP3 when the temporary WAV holds the sound it encoded, else it encodes the WAV
// (always, for a recording brought to a loudness). On failure nothing of it is
// left: not the reserved output, not the temporary file.
bool Batch::SaveOutput(const std::string& base, bool mp3, RecordingMp3Encoder* encoder) {
  // What a killed run left here (its part files and the names they reserved) goes
  // first, so those names are free again.
  platform::RemoveStaleParts(folder_);
  // The window's WAV and MP3 read the recording as they write it; FLAC and a
  // loudness have it in memory first.
  PcmRecording recording;
  const bool inMemory = save_.loudnessLufs || (save_.flac && !mp3);
  if (inMemory && !ReadAndShape(recording)) return false;
  const PcmRecording* shaped = inMemory ? &recording : nullptr;
  std::unique_ptr<platform::UnlinkedFile> temp;
  DWORD inRate = 0;
  if (mp3) {
    char tempPath[kPathBufferSize];
    const DWORD length = GetTempPathA(sizeof tempPath, tempPath);
    if (length == 0 || length >= sizeof tempPath) {
      reason_ = platform::ReasonFor(length == 0 ? "$TMPDIR" : tempPath, ENAMETOOLONG);
      return false;
    }
    g_DebugLog.Print("temp path: %s", tempPath);
    char tempName[kPathBufferSize];
    errno = 0;
    if (GetTempFileNameA(tempPath, kTempPrefix, 0, tempName) == 0) {
      reason_ = WriteFailure(tempPath, errno);
      return false;
    }
    g_DebugLog.Print("temp file: %s", tempName);
    temp = platform::UnlinkedFile::Take(tempName, reason_);
    if (!temp) {
      DeleteFileA(tempName);
      return false;
    }
    errno = 0;
    if (!WriteWav(temp->Path(), shaped, &inRate)) {
      reason_ = WriteFailure(tempName, errno);
      return false;
    }
  }
  const bool flac = save_.flac && !mp3;
  const std::string output = ReserveOutputName(folder_, base, mp3 ? "mp3" : flac ? "flac" : "wav", reason_);
  if (output.empty()) return false;
  g_DebugLog.Print("file: %s", output.c_str());
  std::unique_ptr<platform::PartFile> part = platform::PartFile::Create(output, reason_);
  bool written = part != nullptr;
  errno = 0;
  if (written && mp3) {
    written = SUCCEEDED(wavtomp3(temp->Path().c_str(), part->WriterPath().c_str(), static_cast<int>(inRate), mp3Rate_,
                                 encoder != nullptr ? &encoder->Result() : nullptr));
  } else if (written && flac) {
    const std::string why = SaveRecordingFlac(part->WriterPath(), recording);
    written = why.empty();
    if (!written) reason_ = Because(output, why);
  } else if (written) {
    DWORD rate = 0;
    written = WriteWav(part->WriterPath(), shaped, &rate);
  }
  if (part != nullptr && !written && reason_.empty()) reason_ = WriteFailure(output, errno);
  if (!written || !part->Commit(reason_)) {
    DeleteFileA(output.c_str());
    return false;
  }
  output_ = output;
  return true;
}

// An error: logged and shown, then the batch ends as an aborted one ends, with the
// log back at its level before the batch. Always false.
bool Batch::Fail(const char* text, const std::string& detail) {
  g_DebugLog.Print("%s", text);
  std::string box = text;
  if (!detail.empty()) {
    g_DebugLog.Print("%s", detail.c_str());
    box += "\n" + detail;
  }
  MessageBoxA(hWnd_, box.c_str(), "Error", MB_OK);
  while (depth_ > 0) Down();
  GiveControlsBack(true);
  Finish();
  return false;
}

void Batch::GiveControlsBack(bool enableConvert) {
  for (int id : kUnlockedAtEnd) dialog_.EnableItem(id, true);
  if (enableConvert) dialog_.EnableItem(IDC_CONVERT, true);
  if (dialog_.GetCheck(IDC_SAMEDIRECTORY) == BST_UNCHECKED) dialog_.EnableItem(IDC_CHANGEWAVPATH, true);
  SetFocus(GetDlgItem(hWnd_, IDC_CONVERT));
  dialog_.EnableItem(IDC_ABORT, false);
}

void Batch::Finish() {
  SetWindowTextA(hWnd_, kProgramName);
  bIsConverting = 0;
  bIsAborting = 0;
}

}  // namespace

DWORD ConversionThread(void* hWnd) {
  CoInitialize(nullptr);
  WorkerState& state = State();
  // This worker's Convert! signal: its window made it before starting the worker.
  HANDLE event = hConvertEvent;
  for (;;) {
    WaitForSingleObject(event, INFINITE);
    bool end = false, convert = false;
    {
      std::lock_guard lock(state.lock);
      if (state.ended == event) {
        state.ended = state.stopped = nullptr;
        end = true;
      } else if (state.stopped != event) {
        state.busy = convert = true;
      }
    }
    if (end) break;
    if (!convert) continue;  // the window is closing: no more batches
    Batch(static_cast<HWND>(hWnd), event).Run();
    std::lock_guard lock(state.lock);
    state.busy = false;
  }
  CoUninitialize();
  return 0;
}

void SetConvertedFileObserver(ConvertedFileObserver observer) {
  WorkerState& state = State();
  std::lock_guard lock(state.lock);
  state.observer = std::move(observer);
}

void SetSaveSettings(const SaveSettings& settings) {
  WorkerState& state = State();
  std::lock_guard lock(state.lock);
  state.save = settings;
}

void RequestWorkerStop() {
  WorkerState& state = State();
  std::lock_guard lock(state.lock);
  state.stopped = hConvertEvent;
}

bool WorkerBusy() {
  WorkerState& state = State();
  std::lock_guard lock(state.lock);
  return state.busy;
}

void FormatMinSec(DWORD seconds, char* text) {
  const DWORD rest = seconds % 3600;
  const DWORD minutes = rest / 60, secs = rest % 60;
  text[0] = static_cast<char>('0' + minutes / 10);
  text[1] = static_cast<char>('0' + minutes % 10);
  text[2] = ':';
  text[3] = static_cast<char>('0' + secs / 10);
  text[4] = static_cast<char>('0' + secs % 10);
  text[5] = '\0';
}

void EndConversionThreadForTesting() {
  {
    WorkerState& state = State();
    std::lock_guard lock(state.lock);
    state.stopped = state.ended = hConvertEvent;
  }
  SetEvent(hConvertEvent);
}
