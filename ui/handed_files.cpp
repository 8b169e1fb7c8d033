#include "ui/handed_files.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/debug_log.h"
#include "platform/window/winuser.h"
#include "platform/window/dialog.h"
#include "ui/file_list.h"

namespace fs = std::filesystem;

namespace {

bool IsMidiName(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  // What the loader reads and people keep beside their MIDI files: Standard MIDI
  // files under their usual names, karaoke files, and MIDI in a RIFF wrapper.
  return extension == ".mid" || extension == ".midi" || extension == ".kar" || extension == ".smf" ||
         extension == ".rmi";
}

// A long addition (a folder of a hundred thousand files) lets the window paint and
// answer in between: every kSlice of adding, the window serves for a moment.
class KeepServing {
 public:
  explicit KeepServing(HWND hDlg) : dialog_(ui::Dlg(hDlg)) {}

  void Added() {
    if (++added_ % kLookEvery != 0) return;
    if (std::chrono::steady_clock::now() - served_ < kSlice) return;
    bool once = true;
    dialog_.ServeWhile([&] { return std::exchange(once, false); });
    served_ = std::chrono::steady_clock::now();
  }

 private:
  static constexpr int kLookEvery = 256;  // files between looks at the clock
  static constexpr auto kSlice = std::chrono::milliseconds(40);
  ui::Dialog& dialog_;
  int added_ = 0;
  std::chrono::steady_clock::time_point served_ = std::chrono::steady_clock::now();
};

}  // namespace

std::vector<std::string> MidiFilesIn(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code statError;
    if (it->is_regular_file(statError) && IsMidiName(it->path())) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<std::string> AddHandedFiles(HWND hDlg, const std::vector<std::string>& paths) {
  std::vector<std::string> notAdded;
  KeepServing serving(hDlg);
  for (const std::string& path : paths) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
      for (const std::string& file : MidiFilesIn(path)) {
        const std::string name = fs::path(file).filename().string();
        g_DebugLog.Print("file: %s", name.c_str());
        AddFileToList(hDlg, name.c_str(), file.c_str());
        serving.Added();
      }
    } else if (fs::is_regular_file(path, error)) {
      const std::string name = fs::path(path).filename().string();
      g_DebugLog.Print("file: %s", name.c_str());
      AddFileToList(hDlg, name.c_str(), path.c_str());
      serving.Added();
    } else {
      g_DebugLog.Print("not a file or folder: %s", path.c_str());
      notAdded.push_back(path);
    }
  }
  return notAdded;
}

void ReportFilesNotAdded(HWND hDlg, const std::vector<std::string>& paths) {
  if (paths.empty()) return;
  constexpr std::size_t kShown = 5;
  std::string text = "These are not files or folders and were not added to the list:";
  for (std::size_t i = 0; i < paths.size() && i < kShown; ++i) text += "\n" + paths[i];
  if (paths.size() > kShown) text += "\nand " + std::to_string(paths.size() - kShown) + " more";
  MessageBoxA(hDlg, text.c_str(), "Error", MB_OK | MB_ICONERROR);
}
