#include "platform/window/common_dialogs.h"

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/window/dialog.h"

namespace {

constexpr std::size_t kPathLimit = 4096;

// The filter list: description and patterns in turn, ending with an empty string.
std::vector<std::pair<std::string, std::string>> ReadFilters(const char* list) {
  std::vector<std::pair<std::string, std::string>> filters;
  if (list == nullptr) return filters;
  while (*list != '\0') {
    std::string description = list;
    list += description.size() + 1;
    if (*list == '\0') break;
    std::string patterns = list;
    list += patterns.size() + 1;
    filters.emplace_back(std::move(description), std::move(patterns));
  }
  return filters;
}

// Copies text and its NUL into buffer when it fits in size bytes.
bool CopyFits(const std::string& text, char* buffer, std::size_t size) {
  if (buffer == nullptr || text.size() + 1 > size) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

// The folder browser while it opens: where the callback may send its selection.
struct FolderBrowser {
  std::string selection;
};
thread_local FolderBrowser* t_browser = nullptr;

}  // namespace

BOOL GetOpenFileNameA(OPENFILENAMEA* ofn) {
  if (ofn == nullptr || ofn->lpstrFile == nullptr || ofn->nMaxFile == 0) return FALSE;
  ui::Dialog* owner = ui::DialogFromHandle(ofn->hwndOwner);
  if (owner == nullptr) return FALSE;
  ui::OpenFileRequest request;
  request.filters = ReadFilters(ofn->lpstrFilter);
  request.initialFolder = ofn->lpstrInitialDir == nullptr ? "" : ofn->lpstrInitialDir;
  request.title = ofn->lpstrTitle == nullptr ? "" : ofn->lpstrTitle;
  request.multiSelect = (ofn->Flags & OFN_ALLOWMULTISELECT) != 0;
  const std::optional<std::vector<std::string>> chosen = owner->OpenFiles(request);
  if (!chosen || chosen->empty()) return FALSE;

  std::string answer;
  std::string title;
  const std::vector<std::string>& paths = *chosen;
  if (paths.size() == 1) {
    answer = paths[0];
    title = std::filesystem::path(paths[0]).filename().string();
  } else {
    // One folder, then the names: a dialog offers files of one folder at a time.
    const std::string folder = std::filesystem::path(paths[0]).parent_path().string();
    answer = folder;
    answer.push_back('\0');
    for (const std::string& path : paths) {
      const std::filesystem::path p(path);
      if (p.parent_path().string() != folder) return FALSE;
      answer += p.filename().string();
      answer.push_back('\0');
    }
  }
  // Multi-selection answers end with an extra NUL (CopyFits adds the final one).
  if (answer.size() + 1 > ofn->nMaxFile) return FALSE;
  if (!title.empty() && (ofn->lpstrFileTitle == nullptr || title.size() + 1 > ofn->nMaxFileTitle)) return FALSE;
  std::memcpy(ofn->lpstrFile, answer.data(), answer.size());
  ofn->lpstrFile[answer.size()] = '\0';
  if (ofn->lpstrFileTitle != nullptr && ofn->nMaxFileTitle > 0) {
    if (!CopyFits(title, ofn->lpstrFileTitle, ofn->nMaxFileTitle)) ofn->lpstrFileTitle[0] = '\0';
  }
  return TRUE;
}

PIDLIST_ABSOLUTE SHBrowseForFolderA(const BROWSEINFOA* bi) {
  if (bi == nullptr) return nullptr;
  ui::Dialog* owner = ui::DialogFromHandle(bi->hwndOwner);
  if (owner == nullptr) return nullptr;
  FolderBrowser browser;
  if (bi->lpfn != nullptr) {
    FolderBrowser* const outer = t_browser;
    t_browser = &browser;
    bi->lpfn(static_cast<HWND>(&browser), BFFM_INITIALIZED, 0, bi->lParam);
    t_browser = outer;
  }
  const std::optional<std::string> folder =
      owner->BrowseForFolder(bi->lpszTitle == nullptr ? "" : bi->lpszTitle, browser.selection);
  if (!folder || folder->empty() || folder->size() + 1 > kPathLimit) return nullptr;
  auto* list = static_cast<char*>(CoTaskMemAlloc(folder->size() + 1));
  if (list == nullptr) return nullptr;
  std::memcpy(list, folder->c_str(), folder->size() + 1);
  return list;
}

BOOL SHGetPathFromIDListA(PIDLIST_ABSOLUTE pidl, char* path) {
  if (pidl == nullptr || path == nullptr) return FALSE;
  return CopyFits(static_cast<const char*>(pidl), path, kPathLimit) ? TRUE : FALSE;
}

BOOL SendToFolderBrowser(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hWnd == nullptr || hWnd != static_cast<HWND>(t_browser)) return FALSE;
  if (msg == BFFM_SETSELECTIONA && wParam != 0 && lParam != 0) {
    t_browser->selection = reinterpret_cast<const char*>(lParam);
  }
  return TRUE;
}
