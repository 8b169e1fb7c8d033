#include "app/startup.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>
#include <system_error>
#include <thread>

#include "base/debug_log.h"
#include "base/files_to_add.h"
#include "base/process_state.h"
#include "base/settings_store.h"
#include "base/shell_handles.h"
#include "base/user_folders.h"
#include "platform/com/com.h"
#include "platform/core/format.h"
#include "platform/core/kernel.h"
#include "platform/instance/single_instance.h"
#include "platform/window/dialog.h"
#include "ui/dialog_template.h"
#include "ui/drawing_helpers.h"
#include "ui/main_window.h"
#include "ui/qt/qt_session.h"
#include "platform/window/winuser.h"

namespace {

constexpr const char* kMutexName = "halvane - mutex";
constexpr std::size_t kModuleNameLimit = 1024;
constexpr std::size_t kFullPathLimit = 4096;
// How long a second start keeps trying to reach a first instance that holds the
// lock but is not listening yet (it is still starting up).
constexpr auto kHandOverPatience = std::chrono::seconds(5);
constexpr auto kHandOverRetry = std::chrono::milliseconds(100);

// The program's path, at most limit - 1 characters and a NUL, into buffer.
void GetModuleFileName(char* buffer, std::size_t limit) {
  const std::string path = platform::ProgramPath();
  const std::size_t count = std::min(path.size(), limit - 1);
  std::memcpy(buffer, path.data(), count);
  buffer[count] = '\0';
}

// The absolute form of path into buffer (at most limit - 1 characters); returns the
// length written.
std::size_t GetFullPathName(const char* path, char* buffer, std::size_t limit) {
  std::error_code error;
  std::string full = std::filesystem::absolute(path, error).lexically_normal().string();
  if (error) full = path;
  const std::size_t count = std::min(full.size(), limit - 1);
  std::memcpy(buffer, full.data(), count);
  buffer[count] = '\0';
  return count;
}

// The files and folders named on the command line, as absolute paths. Options (words
// starting with '-') are the window toolkit's; "--" ends them.
std::vector<std::string> FilesToOpen(int argc, char** argv) {
  std::vector<std::string> files;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options && arg == "--") {
      options = false;
      continue;
    }
    if (arg.empty() || (options && arg[0] == '-')) continue;
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(arg, error);
    files.push_back(error ? arg : path.lexically_normal().string());
  }
  return files;
}

// The files in messages of at most kMaxMessageArgBytes each (a file too long for
// one goes alone, and cannot be sent); at least one message, even without files.
std::vector<std::vector<std::string>> InPieces(std::vector<std::string> files) {
  std::vector<std::vector<std::string>> pieces(1);
  std::size_t bytes = 0;
  for (std::string& file : files) {
    const std::size_t size = file.size() + 1;
    if (!pieces.back().empty() && bytes + size > kMaxMessageArgBytes) {
      pieces.emplace_back();
      bytes = 0;
    }
    bytes += size;
    pieces.back().push_back(std::move(file));
  }
  return pieces;
}

// A second start: "open halvane" to the running instance, with the files it was
// given, as many messages as they need. 0 when everything was handed over;
// otherwise says on standard error how many files were not, and returns 1.
int HandOverToRunningInstance(std::vector<std::string> files) {
  const std::size_t total = files.size();
  std::size_t handed = 0;
  const auto deadline = std::chrono::steady_clock::now() + kHandOverPatience;
  for (const std::vector<std::string>& piece : InPieces(std::move(files))) {
    // The running instance may be starting up still: its listener comes last.
    while (BroadcastRegisteredMessage(msgMutex, kMutexName, piece) == FALSE) {
      if (handed > 0 || std::chrono::steady_clock::now() >= deadline) {
        std::fprintf(stderr, "halvane: the running Halvane cannot be reached; %zu of %zu file(s) not handed to it\n",
                     total - handed, total);
        return 1;
      }
      std::this_thread::sleep_for(kHandOverRetry);
    }
    handed += piece.size();
  }
  return 0;
}

// A second start of the program: only "open halvane" reaches the window, which comes
// to the front and adds the files the second start was given. The listener thread
// hands the message over without waiting.
void OnRegisteredMessage(UINT msg, std::vector<std::string> files) {
  if (msg != msgMutex) return;
  HandFilesToWindow(std::move(files));
  if (ui::Toolkit* toolkit = ui::CurrentToolkit()) toolkit->Broadcast(msg, 0, 0);
}

}  // namespace

void CutAtLastSlash(char* path, std::size_t length) {
  for (std::size_t i = length + 1; i-- > 0;) {
    if (path[i] == '/') {
      path[i] = '\0';
      return;
    }
  }
}

int HalvaneMain(int& argc, char** argv) {
  msgMutex = RegisterWindowMessageA("open halvane");
  hMutex = CreateMutexA(nullptr, TRUE, kMutexName);
  if (GetLastError() == static_cast<DWORD>(ERROR_ALREADY_EXISTS)) {
    return HandOverToRunningInstance(FilesToOpen(argc, argv));
  }

  // The window toolkit (stands in for registering the common controls); it takes its
  // own options out of the command line, and the files named there wait for the window.
  ui::qt::QtSession session(argc, argv);
  HandFilesToWindow(FilesToOpen(argc, argv));

  AllocateProcessBuffers();
  CoInitialize(nullptr);

  GetModuleFileName(g_szScratch, kModuleNameLimit);
  const std::size_t length = GetFullPathName(g_szScratch, g_szProgramDir, kFullPathLimit);
  CutAtLastSlash(g_szProgramDir, length);
  std::error_code ignored;
  std::filesystem::current_path(g_szProgramDir, ignored);

  // Beside the program, or in the user's state folder for an installed program.
  if (const std::string log = base::LogFileFor(g_szProgramDir); !log.empty()) g_DebugLog.CreateLogFile(log.c_str());
  g_DebugLog.Print("Start Halvane");
  g_DebugLog.Print("msgMutex = 0x%x", msgMutex);
  g_DebugLog.Print("hMutex = 0x%x", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(hMutex)));
  g_DebugLog.Print("Heap = 0x%x", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(g_hHeap)));
  g_DebugLog.Print("Full Path Name = %s", g_szProgramDir);
  g_DebugLog.Print("Current Directory = %s", g_szProgramDir);

  const RECT patternRect{0, 0, 128, 128};
  CreateFillBmp(1, &patternRect, 30, 15, 0, 0, &g_hBackgroundBitmap, &g_hFillObject);

  LoadRegistry();

  StartRegisteredMessageListener(kMutexName, OnRegisteredMessage);

  // A C++ exception from the main window or the settings save ends here.
  bool failed = false;
  try {
    DialogBoxParamA(g_hInstance, ui::IDD_MAIN, nullptr, MainDlgProc, 0);
    SaveRegistry();
  } catch (...) {
    failed = true;
  }
  if (failed) MessageBoxA(nullptr, "Failed", "Error", MB_OK);

  g_DebugLog.Print("End Halvane\n");
  StopRegisteredMessageListener();
  return 0;
}
