#include "ui/audition.h"

#include <cstring>
#include <string>

#include "base/debug_log.h"
#include "base/process_state.h"
#include "engine/capture_attachment.h"
#include "engine/music_engine.h"
#include "engine/result_descriptions.h"
#include "engine/segment_playback.h"
#include "platform/window/winuser.h"
#include "ui/file_list.h"
#include "convert/main_window_ids.h"

namespace {

// Logs text and the line under it (the file and why) and shows both in an error
// box owned by the window.
void Fail(HWND hDlg, const char* text, const std::string& detail) {
  g_DebugLog.Print("%s", text);
  g_DebugLog.Print("%s", detail.c_str());
  MessageBoxA(hDlg, (std::string(text) + "\n" + detail).c_str(), "Error", MB_OK);
}

}  // namespace

void OnPlayFile(HWND hDlg) {
  g_DebugLog.Print("Play file");
  g_DebugLog.IndentUp();

  ShowWindow(GetDlgItem(hDlg, IDC_PLAYFILE), SW_HIDE);
  // Convert! disables Stop Playing with Play File; an audition makes it usable again.
  EnableWindow(GetDlgItem(hDlg, IDC_STOPPLAYING), TRUE);
  ShowWindow(GetDlgItem(hDlg, IDC_STOPPLAYING), SW_SHOWNORMAL);
  StopMIDI();

  ui::Dialog& dialog = ui::Dlg(hDlg);
  const int selected = dialog.ListGetSel(IDC_FILELIST);
  std::string name;
  if (selected >= 0) {
    name = dialog.ListItemText(IDC_FILELIST, selected, 0);
    const std::string path = dialog.ListItemText(IDC_FILELIST, selected, 1);
    const std::size_t count = std::min(path.size(), static_cast<std::size_t>(kListPathSize - 1));
    std::memcpy(g_szFileBuffer, path.data(), count);
    g_szFileBuffer[count] = '\0';
  }

  iPort.store(dialog.ComboGetSel(IDC_DEVICE));
  DWORD portIndex = 0;
  const bool hasPort = PortIndexAt(iPort.load(), &portIndex);
  g_DebugLog.Print("Port: %d", iPort.load());
  g_DebugLog.Print("mPort: %d", hasPort ? static_cast<int>(portIndex) : -1);
  g_DebugLog.Print("Tempo: %d", dialog.SliderGetPos(IDC_TEMPO));
  if (!hasPort) {
    // No SoundFont was found: there is nothing to play through.
    Fail(hDlg, "Configure Synthesizer Failed", name + ": no synthesizer device is selected");
    g_DebugLog.IndentDown();
    return;
  }
  ConfigureSynthesizer(portIndex, static_cast<DWORD>(dialog.SliderGetPos(IDC_TEMPO)));
  RemoveFilter();

  if (const HRESULT hr = LoadMIDI(g_szFileBuffer); hr < 0) {
    const std::string why = GetLoadFailureMIDI();
    Fail(hDlg, "Can't load MIDI File", name + ": " + (why.empty() ? DescribeResult(hr) : why));
    g_DebugLog.IndentDown();
    return;
  }
  if (const HRESULT hr = PlayMIDI(FALSE); hr < 0) {
    Fail(hDlg, "Can't Play MIDI File", name + ": " + DescribeResult(hr));
    g_DebugLog.IndentDown();
    return;
  }

  SetFocus(GetDlgItem(hDlg, IDC_FILELIST));
  g_DebugLog.IndentDown();
}

void OnStopPlaying(HWND hDlg) {
  g_DebugLog.Print("Stop MIDI");
  g_DebugLog.IndentUp();
  StopMIDI();
  ShowWindow(GetDlgItem(hDlg, IDC_PLAYFILE), SW_SHOWNORMAL);
  ShowWindow(GetDlgItem(hDlg, IDC_STOPPLAYING), SW_HIDE);
  SetFocus(GetDlgItem(hDlg, IDC_FILELIST));
  g_DebugLog.IndentDown();
}
