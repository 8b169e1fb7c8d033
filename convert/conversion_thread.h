// The batch conversion worker: a thread of its own, started once by the main window,
// that converts the window's MIDI file list from the top into WAV or MP3 files each
// time Convert! signals hConvertEvent.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output/loudness.h"
#include "platform/core/wintypes.h"

// The worker's thread procedure; hWnd is the main window's handle. It waits for
// hConvertEvent (as it is when the thread starts: the window makes it first) and runs
// one batch per signal, for the life of the process.
DWORD ConversionThread(void* hWnd);

// The window is closing: its worker (the one waiting on the current hConvertEvent,
// started or about to start) leaves the batch it runs (as after Abort) and starts no
// other. Returns at once; WorkerBusy tells when the worker has left. A worker that a
// later window starts with an event of its own is not stopped.
void RequestWorkerStop();

// True from the moment the worker wakes for a batch until it waits again; while true
// it may be inside the engine or waiting on a call to the window.
bool WorkerBusy();

// One file the worker has converted: the path it loaded, the file it wrote (the
// name it reserved, counter included), and what the MIDI reader repaired to play
// it, one reason each, as the log gives them (empty for a sound file).
struct ConvertedFile {
  std::string input;
  std::string output;
  std::vector<std::string> repairs;
  std::optional<LoudnessResult> loudness;  // when it was brought to a loudness
};
// Called on the worker's thread once per converted file, right after its "done"
// log line and before the file leaves the list. One observer for the process (the
// terminal program's); an empty function removes it.
using ConvertedFileObserver = std::function<void(const ConvertedFile&)>;
void SetConvertedFileObserver(ConvertedFileObserver observer);

// How the terminal program saves what the window saves: a recording the Format
// list says is WAV is written as FLAC instead, and every recording (the MP3's too)
// may be brought to a loudness before it is written. The window's own is the
// default: WAV as recorded. Read by the worker when a batch starts.
struct SaveSettings {
  bool flac = false;
  std::optional<double> loudnessLufs;  // the target of the integrated loudness
};
void SetSaveSettings(const SaveSettings& settings);

// Writes seconds, whole hours dropped, as "mm:ss" (each part two digits at least)
// into text, which has room for 6 bytes.
void FormatMinSec(DWORD seconds, char* text);

// For tests only, which start a worker per test on a thread of their own: the
// worker of the current hConvertEvent ends the batch it runs as RequestWorkerStop
// makes it, then returns from ConversionThread (which the program never does) with
// its stop request cleared, so that a later event at the same address names a fresh
// worker. hConvertEvent must stay open until the thread has returned.
void EndConversionThreadForTesting();
