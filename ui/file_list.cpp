#include "ui/file_list.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "base/debug_log.h"
#include "base/process_state.h"
#include "base/user_folders.h"
#include "convert/conversion_thread.h"
#include "engine/segment_playback.h"
#include "platform/core/format.h"
#include "platform/window/common_dialogs.h"
#include "platform/window/winuser.h"
#include "convert/main_window_ids.h"

namespace {

constexpr DWORD kListExtendedStyles = 0x21;  // grid lines, full-row selection
constexpr int kNameColumnWidth = 120;
constexpr int kPathColumnWidth = 240;
constexpr DWORD kFileBufferSize = 65535;

// The two filters of the file-open dialog, the first in effect.
constexpr char kFilter[] =
    "MIDI Files (*.MID, *.MIDI)\0*.MID;*.MIDI\0"
    "Karaoke Files (*.KAR)\0*.KAR\0";

ui::Dialog& List(HWND hDlg) { return ui::Dlg(hDlg); }

// The full paths each window's list holds, beside the list, so that a file is
// checked against all of them at once however long the list is. A path counts
// from the moment AddFileToList adds it until the list announces its deletion.
// A list whose item count differs from what was counted here (its first use, or
// an item that could not be added) is read back whole, once.
class ListedPaths {
 public:
  // True when path is not listed yet; from now on it counts as listed.
  bool Add(HWND hDlg, const std::string& path) {
    ui::Dialog& list = List(hDlg);
    const int count = list.ListCount(IDC_FILELIST);
    {
      std::lock_guard lock(lock_);
      Listed& listed = byWindow_[hDlg];
      if (listed.items == count) return Insert(listed, path);
    }
    // Read back without the lock: the list calls into the window procedure.
    Listed fresh;
    for (int i = 0; i < count; ++i) fresh.paths.insert(list.ListItemText(IDC_FILELIST, i, 1));
    fresh.items = count;
    std::lock_guard lock(lock_);
    Listed& listed = byWindow_[hDlg] = std::move(fresh);
    return Insert(listed, path);
  }

  // Item item is about to leave the list.
  void Remove(HWND hDlg, int item) {
    const std::string path = List(hDlg).ListItemText(IDC_FILELIST, item, 1);
    std::lock_guard lock(lock_);
    Listed& listed = byWindow_[hDlg];
    listed.paths.erase(path);
    --listed.items;
  }

 private:
  struct Listed {
    std::unordered_set<std::string> paths;
    int items = 0;  // the list's item count as counted here
  };

  static bool Insert(Listed& listed, const std::string& path) {
    if (!listed.paths.insert(path).second) return false;
    ++listed.items;
    return true;
  }

  std::mutex lock_;
  std::unordered_map<HWND, Listed> byWindow_;
};

ListedPaths& Listed() {
  static ListedPaths listed;
  return listed;
}

}  // namespace

void SetupFileList(HWND hDlg) {
  List(hDlg).ListSetFullRowSelect(IDC_FILELIST, (kListExtendedStyles & 0x20) != 0);
  List(hDlg).ListInsertColumn(IDC_FILELIST, 0, "MIDI File", kNameColumnWidth);
  List(hDlg).ListInsertColumn(IDC_FILELIST, 1, "Path", kPathColumnWidth);
}

void AddFileToList(HWND hDlg, const char* name, const char* fullPath) {
  if (std::strlen(fullPath) >= static_cast<std::size_t>(kListPathSize)) {
    // Cutting it would name another file; the worker and the audition read at most
    // kListPathSize - 1 characters back.
    g_DebugLog.Print("Path too long, not added: %s", name);
    const std::string text = "The path of \"" + std::string(name) + "\" is longer than " +
                             std::to_string(kListPathSize - 1) + " bytes; Halvane cannot convert it.";
    MessageBoxA(hDlg, text.c_str(), "Error", MB_OK);
    return;
  }
  if (!Listed().Add(hDlg, fullPath)) return;
  ui::Dialog& list = List(hDlg);
  const int item = list.ListInsertItem(IDC_FILELIST, list.ListCount(IDC_FILELIST), name);
  if (item >= 0) list.ListSetItemText(IDC_FILELIST, item, 1, fullPath);
}

void OnAddFiles(HWND hDlg) {
  g_DebugLog.Print("Message: ADDFILE");
  g_DebugLog.IndentUp();

  OPENFILENAMEA ofn;
  std::memset(&ofn, 0, sizeof ofn);
  // The last answer (a file's path, or a selection's folder) is where the dialog opens.
  std::strcpy(g_szScratch, g_szFileBuffer);
  g_szFileTitle[0] = '\0';
  g_szFileBuffer[0] = '\0';
  if (g_szScratch[0] == '\0') {
    const std::string folder = base::DefaultMidiFolderFor(g_szProgramDir);
    std::snprintf(g_szScratch, kTextBufferSize, "%s", folder.c_str());
  }

  ofn.lStructSize = 76;
  ofn.hwndOwner = hDlg;
  ofn.hInstance = nullptr;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = g_szFileBuffer;
  ofn.nMaxFile = kFileBufferSize;
  ofn.lpstrFileTitle = g_szFileTitle;
  ofn.nMaxFileTitle = kFileBufferSize;
  ofn.lpstrInitialDir = g_szScratch;
  ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_ALLOWMULTISELECT;

  if (!GetOpenFileNameA(&ofn)) {
    g_DebugLog.IndentDown();
    return;
  }

  if (g_szFileTitle[0] != '\0') {
    AddFileToList(hDlg, g_szFileTitle, g_szFileBuffer);
  } else {
    // Several files: the folder, then each name; the buffer itself stays as it is.
    std::strcpy(g_szFileTitle, g_szFileBuffer);
    for (const char* name = g_szFileBuffer + std::strlen(g_szFileBuffer) + 1; *name != '\0';
         name += std::strlen(name) + 1) {
      // Joined directly: a formatted text would be cut at 1024 characters.
      const std::string path = std::string(g_szFileTitle) + "/" + name;
      std::snprintf(g_szScratch, kTextBufferSize, "%s", path.c_str());
      g_DebugLog.Print("file: %s", name);
      AddFileToList(hDlg, name, path.c_str());
    }
  }

  SetFocus(GetDlgItem(hDlg, IDC_FILELIST));
  g_DebugLog.IndentDown();
}

void OnRemoveFile(HWND hDlg) {
  g_DebugLog.Print("Message: REMOVEFILE");
  g_DebugLog.IndentUp();

  // Ends an audition; while the worker holds the engine, the worker has ended it.
  if (!WorkerBusy()) StopMIDI();
  ShowWindow(GetDlgItem(hDlg, IDC_PLAYFILE), SW_SHOWNORMAL);
  ShowWindow(GetDlgItem(hDlg, IDC_STOPPLAYING), SW_HIDE);

  ui::Dialog& list = List(hDlg);
  const int selected = list.ListGetSel(IDC_FILELIST);
  if (selected >= 0) {
    list.ListDeleteItem(IDC_FILELIST, selected);
    g_DebugLog.Print("file #%d", selected);
    // The item before it when the last went, else the one that moved into its place.
    if (list.ListCount(IDC_FILELIST) == selected) {
      list.ListSetSel(IDC_FILELIST, selected - 1);
    } else {
      list.ListSetSel(IDC_FILELIST, selected);
    }
  }
  // The deletion was announced while the item still counted, so the button rule saw
  // a list that was not yet empty.
  if (list.ListCount(IDC_FILELIST) == 0) EnableWindow(GetDlgItem(hDlg, IDC_CONVERT), FALSE);

  SetFocus(GetDlgItem(hDlg, IDC_FILELIST));
  g_DebugLog.IndentDown();
}

void OnRemoveAll(HWND hDlg) {
  g_DebugLog.Print("Message: REMOVEALL");
  List(hDlg).ListDeleteAllItems(IDC_FILELIST);
  EnableWindow(GetDlgItem(hDlg, IDC_CONVERT), FALSE);
  EnableWindow(GetDlgItem(hDlg, IDC_REMOVEFILE), FALSE);
  EnableWindow(GetDlgItem(hDlg, IDC_PLAYFILE), FALSE);
}

void OnFileListNotify(HWND hDlg, const NMHDR* header) {
  if (header->code == LVN_KEYDOWN) {
    // Delete removes the selected file whenever Remove File would.
    if (reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey == VK_DELETE && List(hDlg).IsItemEnabled(IDC_REMOVEFILE))
      OnRemoveFile(hDlg);
    return;
  }
  if (header->code != LVN_ITEMCHANGED && header->code != LVN_INSERTITEM && header->code != LVN_DELETEITEM) return;
  // Whoever deletes it (the worker too), a deleted file may be added again.
  if (header->code == LVN_DELETEITEM) Listed().Remove(hDlg, reinterpret_cast<const NMLISTVIEW*>(header)->iItem);
  if (bIsConverting.load() != 0) return;
  ui::Dialog& list = List(hDlg);
  // Without a device (no SoundFont) nothing can be played or converted.
  const bool device = list.ComboCount(IDC_DEVICE) > 0;
  bool selection = false;
  if (list.ListCount(IDC_FILELIST) > 0) {
    EnableWindow(GetDlgItem(hDlg, IDC_CONVERT), device ? TRUE : FALSE);
    // An item being deleted still counts, but its selection goes with it.
    const int selected = list.ListGetSel(IDC_FILELIST);
    const int deleted = header->code == LVN_DELETEITEM ? reinterpret_cast<const NMLISTVIEW*>(header)->iItem : -1;
    selection = selected >= 0 && selected != deleted;
  } else {
    EnableWindow(GetDlgItem(hDlg, IDC_CONVERT), FALSE);
  }
  EnableWindow(GetDlgItem(hDlg, IDC_REMOVEFILE), selection ? TRUE : FALSE);
  EnableWindow(GetDlgItem(hDlg, IDC_PLAYFILE), selection && device ? TRUE : FALSE);
}
