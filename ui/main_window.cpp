// The main window: its creation, the commands and notifications, painting,
// bring-to-front, and leaving by Exit or the close box.
#include "ui/main_window.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/debug_log.h"
#include "base/files_to_add.h"
#include "base/process_state.h"
#include "base/shell_handles.h"
#include "base/user_folders.h"
#include "convert/conversion_thread.h"
#include "engine/capture_attachment.h"
#include "engine/music_engine.h"
#include "engine/segment_playback.h"
#include "platform/com/com.h"
#include "platform/core/folder_check.h"
#include "platform/core/format.h"
#include "platform/core/kernel.h"
#include "platform/core/sync.h"
#include "platform/instance/single_instance.h"
#include "platform/shell/shell.h"
#include "platform/window/common_dialogs.h"
#include "platform/window/drop_files.h"
#include "platform/window/winuser.h"
#include "ui/about_dialog.h"
#include "ui/audition.h"
#include "ui/dialog_background.h"
#include "ui/drawing_helpers.h"
#include "ui/file_list.h"
#include "ui/gdi.h"
#include "ui/handed_files.h"
#include "convert/main_window_ids.h"

namespace {

constexpr std::size_t kOutputDirLimit = 4096;

struct ButtonDecorationRow {
  int id;
  int icon;
  const char* tooltip;
  DWORD style;
};

// The decorated push buttons, in the order they are decorated.
constexpr ButtonDecorationRow kDecoratedButtons[] = {
    {IDC_ABOUT, 201, "About Halvane", 0x8000006D},
    {IDOK, 203, "Exit", 0x800000AD},
    {IDC_ADDFILE, 204, "Add one or more MIDI-file(s) to list", 0x8000006F},
    {IDC_REMOVEALL, 205, "Remove all files from list", 0x8000006F},
    {IDC_REMOVEFILE, 205, "Remove selected file from list", 0x8000006F},
    {IDC_PLAYFILE, 206, "Play selected file from list", 0x8000006F},
    {IDC_STOPPLAYING, 207, "Stop playing", 0x8000006F},
    {IDC_CONVERT, 208, "Convert all files from list", 0x8000006F},
    {IDC_ABORT, 209, "Stop converting", 0x8000006F},
};

// Gives each push button its icon and tooltip; one record, zero-filled once.
void DecorateButtons(HWND hDlg) {
  BUTTON_DECORATION decoration;
  std::memset(&decoration, 0, sizeof decoration);
  for (const ButtonDecorationRow& row : kDecoratedButtons) {
    decoration.words[kDecorationIcon] = static_cast<ULONG_PTR>(row.icon);
    decoration.words[kDecorationTooltip] = reinterpret_cast<ULONG_PTR>(row.tooltip);
    decoration.words[kDecorationStyle] = row.style;
    RedrawButton(GetDlgItem(hDlg, row.id), &decoration);
  }
}

void Enable(HWND hDlg, int id, bool enable) { EnableWindow(GetDlgItem(hDlg, id), enable ? TRUE : FALSE); }

// Shows the output folder in its edit box and logs it.
void ShowOutputDir(HWND hDlg) {
  std::string folder;
  {
    std::lock_guard lock(g_OutputDirLock);
    folder = g_szOutputDir;
  }
  SetDlgItemTextA(hDlg, IDC_OUTPUTDIR, folder.c_str());
  g_DebugLog.Print("WAV path: %s", folder.c_str());
}

// The program folder's "wav" folder (or, for an installed program, the user's music
// folder's "Halvane") when no output folder is set.
void DefaultOutputDir() {
  std::lock_guard lock(g_OutputDirLock);
  if (g_szOutputDir[0] != '\0') return;
  const std::string folder = base::DefaultOutputFolderFor(g_szProgramDir);
  std::snprintf(g_szOutputDir, kOutputDirLimit, "%s", folder.c_str());
}

// Fills the Device list with the named ports and remembers each one's engine index.
void FillDeviceList(HWND hDlg) {
  g_DebugLog.Print("Enumarate Ports:");
  g_DebugLog.IndentUp();
  g_nPortCount.store(0);
  for (DWORD index = 0; PortLoopGoesOn(index, g_nPortCount.load()); ++index) {
    if (EnumerateAllPorts(index, g_szScratch) == 0) break;
    if (g_szScratch[0] == '\0') continue;
    ui::Dlg(hDlg).ComboAddString(IDC_DEVICE, g_szScratch);
    g_DebugLog.Print("Port: %s", g_szScratch);
    const int count = g_nPortCount.load();
    g_nPortIndex[count].store(index);
    g_nPortCount.store(count + 1);
  }
  ui::Dlg(hDlg).ComboSetSel(IDC_DEVICE, 0);
  g_DebugLog.IndentDown();
}

// Without a SoundFont nothing can sound: says where they were looked for, and tells
// the person once how to get one.
void ReportMissingSoundFonts(HWND hDlg) {
  if (g_nPortCount.load() > 0) return;
  std::string folders;
  for (const std::string& folder : SoundFontFolders()) {
    if (!folders.empty()) folders += ":";
    folders += folder;
  }
  g_DebugLog.Print("No SoundFont found in: %s", folders.c_str());
  MessageBoxA(hDlg,
              "No synthesizer was found: Halvane needs a SoundFont to play and convert MIDI files.\n\n"
              "Install a General MIDI SoundFont (for example the Debian package fluid-soundfont-gm), "
              "or put a .sf2 file in ~/.local/share/soundfonts, then start Halvane again.",
              "Halvane", MB_OK | MB_ICONINFORMATION);
}

// Finds the capture effect, registering its library once when it is missing. False
// when it cannot be found even then (the process has been asked to end).
bool CheckCaptureEffect(HWND hDlg) {
  if (FindFilter() == S_OK) return true;
  g_DebugLog.Print("DMO filter not installed");
  ShellExecuteA(nullptr, "open", "regsvr32", "/s OVDMOFilter.dll", nullptr, SW_HIDE);
  platform::Sleep(1500);
  if (FindFilter() == S_OK) return true;
  g_DebugLog.Print("DMO filter hasn't been installed");
  MessageBoxA(hDlg, "FindFilter Failed", "Error", MB_OK);
  platform::ExitProcess(0);
  return false;
}

// Adds the files handed to the program from outside (command line, second start).
void AddFilesHandedOver(HWND hDlg) {
  const std::vector<std::string> paths = TakeFilesHandedToWindow();
  if (paths.empty()) return;
  g_DebugLog.Print("Message: OPENFILES");
  g_DebugLog.IndentUp();
  const std::vector<std::string> notAdded = AddHandedFiles(hDlg, paths);
  g_DebugLog.IndentDown();
  ReportFilesNotAdded(hDlg, notAdded);
}

void OnDropFiles(HWND hDlg, HDROP drop) {
  g_DebugLog.Print("Message: DROPFILES");
  g_DebugLog.IndentUp();
  std::vector<std::string> paths;
  const UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::string path(DragQueryFileA(drop, i, nullptr, 0), '\0');
    DragQueryFileA(drop, i, path.data(), static_cast<UINT>(path.size() + 1));
    paths.push_back(std::move(path));
  }
  DragFinish(drop);
  AddHandedFiles(hDlg, paths);
  g_DebugLog.IndentDown();
}

bool OnInitDialog(HWND hDlg) {
  ui::Dialog& dialog = ui::Dlg(hDlg);
  DecorateButtons(hDlg);
  SetupFileList(hDlg);
  ShowWindow(GetDlgItem(hDlg, IDC_STOPPLAYING), SW_HIDE);

  CheckDlgButton(hDlg, IDC_SAMEDIRECTORY, g_bSameDirectory.load() != 0 ? BST_CHECKED : BST_UNCHECKED);
  SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDC_SAMEDIRECTORY, 0), 0);

  DefaultOutputDir();
  ShowOutputDir(hDlg);

  for (int id : {IDC_REMOVEFILE, IDC_PLAYFILE, IDC_CONVERT, IDC_ABORT}) Enable(hDlg, id, false);

  dialog.SliderSetRange(IDC_TEMPO, 0, 100);
  dialog.SliderSetPos(IDC_TEMPO, 50);
  for (int tick = 10; tick <= 90; tick += 10) dialog.SliderSetTick(IDC_TEMPO, tick);

  dialog.ComboAddString(IDC_FORMAT, "Wav");
  dialog.ComboAddString(IDC_FORMAT, "Mp3");
  dialog.ComboSetSel(IDC_FORMAT, 0);
  for (const char* rate : {"11025 Hz", "22050 Hz", "44100 Hz", "48000 Hz"}) dialog.ComboAddString(IDC_MP3QUALITY, rate);
  dialog.ComboSetSel(IDC_MP3QUALITY, 2);
  ShowWindow(GetDlgItem(hDlg, IDC_MP3QUALITY), SW_HIDE);
  dialog.ComboAddString(IDC_WAVQUALITY, "Origin");
  dialog.ComboSetSel(IDC_WAVQUALITY, 0);

  hConvertEvent = CreateEventA(nullptr, FALSE, FALSE, "ConvertMIDI");
  CloseHandle(CreateThread(nullptr, 0, ConversionThread, hDlg, 0, nullptr));
  bIsConverting.store(0);

  if (InitDirectMusic(GetDesktopWindow()) < 0) {
    g_DebugLog.Print("Init DirectMusic Failed");
    MessageBoxA(hDlg, "Init DirectMusic Failed", "Error", MB_OK);
    platform::ExitProcess(0);
    return true;
  }
  FillDeviceList(hDlg);
  if (g_nPortCount.load() > 0) PrepareSynthesizer(g_nPortIndex[0].load());
  ReportMissingSoundFonts(hDlg);
  if (!CheckCaptureEffect(hDlg)) return true;

  // Files from a file manager, and those the program was started with.
  DragAcceptFiles(hDlg, TRUE);
  AddFilesHandedOver(hDlg);
  return true;
}

// The browser opens with the current output folder selected.
int BrowseCallback(HWND hwnd, UINT msg, LPARAM, LPARAM lpData) {
  if (msg == BFFM_INITIALIZED && lpData != 0) SendMessageA(hwnd, BFFM_SETSELECTIONA, TRUE, lpData);
  return 0;
}

void OnChangeWavPath(HWND hDlg) {
  g_DebugLog.Print("Message: CHANGEWAVPATH");
  g_DebugLog.IndentUp();
  // The browser starts from a copy: the worker may rewrite the folder meanwhile.
  char current[kOutputDirLimit];
  {
    std::lock_guard lock(g_OutputDirLock);
    std::snprintf(current, sizeof current, "%s", g_szOutputDir);
  }
  BROWSEINFOA info{};
  info.hwndOwner = hDlg;
  info.pidlRoot = nullptr;
  info.pszDisplayName = nullptr;
  info.lpszTitle = "Select a folder";
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(current);
  info.iImage = 0;
  if (PIDLIST_ABSOLUTE chosen = SHBrowseForFolderA(&info)) {
    {
      std::lock_guard lock(g_OutputDirLock);
      SHGetPathFromIDListA(chosen, g_szOutputDir);
    }
    CoTaskMemFree(chosen);
    ShowOutputDir(hDlg);
  }
  g_DebugLog.IndentDown();
}

void OnSameDirectory(HWND hDlg) {
  g_DebugLog.Print("Message: SAMEDIRECTORY");
  g_bSameDirectory.store(IsDlgButtonChecked(hDlg, IDC_SAMEDIRECTORY) == BST_CHECKED ? 1 : 0);
  const bool same = g_bSameDirectory.load() != 0;
  Enable(hDlg, IDC_CHANGEWAVPATH, !same);
  Enable(hDlg, IDC_OUTPUTDIR, !same);
}

void OnFormatChange(HWND hDlg, WORD code) {
  if (code != CBN_SELCHANGE) return;
  const bool wav = ui::Dlg(hDlg).ComboGetSel(IDC_FORMAT) == 0;
  ShowWindow(GetDlgItem(hDlg, IDC_WAVQUALITY), wav ? SW_SHOWNORMAL : SW_HIDE);
  ShowWindow(GetDlgItem(hDlg, IDC_MP3QUALITY), wav ? SW_HIDE : SW_SHOWNORMAL);
}

// The chosen device's SoundFont loads while the person picks a file, so that Play
// File sounds at once.
void OnDeviceChange(HWND hDlg, WORD code) {
  if (code != CBN_SELCHANGE) return;
  const int selected = ui::Dlg(hDlg).ComboGetSel(IDC_DEVICE);
  if (selected >= 0 && selected < g_nPortCount.load()) PrepareSynthesizer(g_nPortIndex[selected].load());
}

// The default output folder is made the first time it is needed; a folder the user
// chose is left as it is (the worker says so when it cannot take the files).
void MakeDefaultOutputDir(HWND hDlg) {
  if (g_bSameDirectory.load() != 0) return;
  char folder[kOutputDirLimit];
  GetDlgItemTextA(hDlg, IDC_OUTPUTDIR, folder, static_cast<int>(sizeof folder));
  if (folder[0] == '\0' || folder != base::DefaultOutputFolderFor(g_szProgramDir)) return;
  if (const std::string reason = platform::MakeFolders(folder); !reason.empty()) {
    g_DebugLog.Print("Can't make the output folder %s: %s", folder, reason.c_str());
  }
}

void OnConvert(HWND hDlg) {
  g_DebugLog.Print("Message: CONVERT");
  Enable(hDlg, IDC_CONVERT, false);
  // From here on the worker owns the engine: no audition may start or overlap the
  // first file's set-up, and list changes leave the buttons to the worker.
  Enable(hDlg, IDC_PLAYFILE, false);
  Enable(hDlg, IDC_STOPPLAYING, false);
  // The worker takes its files from the top of the list: none may go before it has.
  Enable(hDlg, IDC_REMOVEFILE, false);
  Enable(hDlg, IDC_REMOVEALL, false);
  MakeDefaultOutputDir(hDlg);
  bIsConverting.store(1);
  SetEvent(hConvertEvent);
}

void OnAbort(HWND hDlg) {
  g_DebugLog.Print("Message: ABORT");
  Enable(hDlg, IDC_ABORT, false);
  bIsAborting.store(1);
}

// Before the window lets the engine go: the worker leaves any batch (the file in
// progress stays unconverted) while the window keeps serving its calls.
void StopWorker(HWND hDlg) {
  RequestWorkerStop();
  if (!WorkerBusy()) return;
  g_DebugLog.Print("Waiting for the conversion to stop");
  ui::Dlg(hDlg).ServeWhile(WorkerBusy);
}

bool IsAuditionPlaying(HWND hDlg) { return IsWindowVisible(GetDlgItem(hDlg, IDC_STOPPLAYING)) != FALSE; }

void OnClose(HWND hDlg) {
  g_DebugLog.Print("Message: CLOSE");
  g_DebugLog.IndentUp();
  StopWorker(hDlg);
  StopMIDI();
  char folder[kOutputDirLimit];
  GetDlgItemTextA(hDlg, IDC_OUTPUTDIR, folder, static_cast<int>(sizeof folder));
  {
    std::lock_guard lock(g_OutputDirLock);
    std::memcpy(g_szOutputDir, folder, std::strlen(folder) + 1);
  }
  g_DebugLog.Print("WAV path: %s", folder);
  DeleteObject(g_hBackgroundBitmap);
  DeleteObject(g_hFillObject);
  EndDialog(hDlg, 0);
  g_DebugLog.IndentDown();
}

void OnDestroy(HWND hDlg) {
  g_DebugLog.Print("Message: DESTROY");
  g_DebugLog.IndentUp();
  StopWorker(hDlg);
  // Leaving by Exit skips the close steps: an audition still playing is stopped
  // before the engine goes, so nothing renders into a removed engine.
  if (IsAuditionPlaying(hDlg)) StopMIDI();
  RemoveDirectMusic();
  ReleaseMutex(hMutex);
  g_DebugLog.IndentDown();
}

INT_PTR OnCommand(HWND hDlg, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case IDC_CONVERT:
      OnConvert(hDlg);
      return TRUE;
    case IDC_ABORT:
      OnAbort(hDlg);
      return TRUE;
    case IDC_CHANGEWAVPATH:
      OnChangeWavPath(hDlg);
      return TRUE;
    case IDC_SAMEDIRECTORY:
      OnSameDirectory(hDlg);
      return TRUE;
    case IDC_FORMAT:
      OnFormatChange(hDlg, HIWORD(wParam));
      return TRUE;
    case IDC_DEVICE:
      OnDeviceChange(hDlg, HIWORD(wParam));
      return TRUE;
    case IDC_ABOUT:
      g_DebugLog.Print("Message: ABOUT");
      DialogBoxParamA(g_hInstance, ui::IDD_ABOUT, hDlg, AboutDlgProc, 0);
      return TRUE;
    case IDOK:
      // Exit: the modal loop ends and the window is destroyed without the close steps.
      g_DebugLog.Print("Message: OK");
      PostQuitMessage(0);
      return TRUE;
    case IDC_ADDFILE:
      OnAddFiles(hDlg);
      return TRUE;
    case IDC_REMOVEFILE:
      OnRemoveFile(hDlg);
      return TRUE;
    case IDC_REMOVEALL:
      OnRemoveAll(hDlg);
      return TRUE;
    case IDC_PLAYFILE:
      OnPlayFile(hDlg);
      return TRUE;
    case IDC_STOPPLAYING:
      OnStopPlaying(hDlg);
      return TRUE;
    default:
      return FALSE;
  }
}

void OnNotify(HWND hDlg, const NMHDR* header) {
  if (header == nullptr) return;
  if (header->idFrom == IDC_FILELIST) {
    OnFileListNotify(hDlg, header);
  } else if (header->idFrom == IDC_TEMPO) {
    // The window's own caption buffer: the slider position + 50 is the tempo in percent.
    char caption[64];
    platform::FormatTextTo(caption, "Tempo (%d%%)", ui::Dlg(hDlg).SliderGetPos(IDC_TEMPO) + 50);
    SetDlgItemTextA(hDlg, IDC_TEMPOGROUP, caption);
  }
}

// Controls drawn in the system's colours; every other static lies on the pattern.
bool KeepsSystemColours(int id) {
  switch (id) {
    case IDC_OUTPUTDIR:
    case IDC_CONVERTERGROUP:
    case IDC_OUTPUTGROUP:
    case IDC_PROGRESSGROUP:
    case IDC_TEMPOGROUP:
    case IDC_TEMPO:
    case IDC_SAMEDIRECTORY:
    case IDC_FILELABEL:
    case IDC_TIMELABEL:
      return true;
    default:
      return false;
  }
}

}  // namespace

INT_PTR MainDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == msgMutex && msgMutex != 0) {
    // A second start of the program: come to the front, with the files it was given.
    SetForegroundWindow(hDlg);
    ShowWindow(hDlg, SW_SHOWNORMAL);
    AddFilesHandedOver(hDlg);
    return TRUE;
  }

  switch (msg) {
    case WM_INITDIALOG:
      return OnInitDialog(hDlg) ? TRUE : FALSE;

    case WM_COMMAND:
      return OnCommand(hDlg, wParam);

    case WM_NOTIFY:
      OnNotify(hDlg, reinterpret_cast<const NMHDR*>(lParam));
      return TRUE;

    case WM_DROPFILES:
      OnDropFiles(hDlg, reinterpret_cast<HDROP>(wParam));
      return TRUE;

    case WM_ERASEBKGND:
      PaintPatternBackground(hDlg, reinterpret_cast<HDC>(wParam));
      return TRUE;

    case WM_CTLCOLORSTATIC:
      if (KeepsSystemColours(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)))) return FALSE;
      return TransparentStatic(reinterpret_cast<HDC>(wParam));

    case WM_CLOSE:
      OnClose(hDlg);
      return TRUE;

    case WM_DESTROY:
      OnDestroy(hDlg);
      return TRUE;

    default:
      return FALSE;
  }
}
