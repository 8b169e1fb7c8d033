// The main window's part when a program without a screen runs the conversion worker
// the way the window runs it (halvane-bench, halvane-convert): the controls set as
// the user would leave them, the worker started as the window starts it, and each
// file that leaves the list handed to the program.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/headless/headless_dialog.h"

namespace ui {

// What the main window's controls hold when the worker starts.
struct WorkerWindowSettings {
  int format = 0;                    // the format list's entry: 0 WAV, 1 MP3
  int mp3Rate = 0;                   // the MP3 rate list's entry
  std::vector<std::string> devices;  // the device list's entries
  int device = 0;
  int tempo = 0;  // the tempo slider's position
  std::string outDir;
  bool sameDir = false;
  std::vector<std::string> files;  // listed before the worker starts
};

struct WorkerWindowHooks {
  // The worker runs (on the window's thread, after WM_INITDIALOG set the controls).
  std::function<void()> started{};
  // A file left the list; the worker waits in this call.
  std::function<void()> fileLeft{};
};

// The main window's procedure for a headless dialog of its template.
HeadlessDialog::Procedure WorkerWindowProcedure(WorkerWindowSettings settings, WorkerWindowHooks hooks);

}  // namespace ui
