#include "ui/headless/worker_window.h"

#include <filesystem>

#include "base/process_state.h"
#include "convert/conversion_thread.h"
#include "convert/main_window_ids.h"
#include "platform/core/kernel.h"
#include "platform/core/sync.h"

namespace ui {

namespace {

void SetControls(Dialog& d, const WorkerWindowSettings& settings) {
  d.ComboAddString(IDC_FORMAT, "Wav");
  d.ComboAddString(IDC_FORMAT, "Mp3");
  d.ComboSetSel(IDC_FORMAT, settings.format);
  for (const char* rate : {"11025 Hz", "22050 Hz", "44100 Hz", "48000 Hz"}) d.ComboAddString(IDC_MP3QUALITY, rate);
  d.ComboSetSel(IDC_MP3QUALITY, settings.mp3Rate);
  d.ComboAddString(IDC_WAVQUALITY, "Origin");
  d.ComboSetSel(IDC_WAVQUALITY, 0);
  for (const std::string& device : settings.devices) d.ComboAddString(IDC_DEVICE, device);
  d.ComboSetSel(IDC_DEVICE, settings.device);
  d.SliderSetRange(IDC_TEMPO, 0, 100);
  d.SliderSetPos(IDC_TEMPO, settings.tempo);
  d.SetItemText(IDC_OUTPUTDIR, settings.outDir);
  d.SetCheck(IDC_SAMEDIRECTORY, settings.sameDir ? BST_CHECKED : BST_UNCHECKED);
  g_bSameDirectory.store(settings.sameDir ? 1 : 0);
  for (const std::string& file : settings.files) {
    const int at =
        d.ListInsertItem(IDC_FILELIST, d.ListCount(IDC_FILELIST), std::filesystem::path(file).filename().string());
    d.ListSetItemText(IDC_FILELIST, at, 1, file);
  }
  d.EnableItem(IDC_ABORT, false);
}

}  // namespace

HeadlessDialog::Procedure WorkerWindowProcedure(WorkerWindowSettings settings, WorkerWindowHooks hooks) {
  return [settings = std::move(settings), hooks = std::move(hooks)](HWND hDlg, UINT msg, WPARAM,
                                                                    LPARAM lParam) -> INT_PTR {
    switch (msg) {
      case WM_INITDIALOG:
        SetControls(Dlg(hDlg), settings);
        hConvertEvent = CreateEventA(nullptr, FALSE, FALSE, "ConvertMIDI");
        CloseHandle(CreateThread(nullptr, 0, ConversionThread, hDlg, 0, nullptr));
        if (hooks.started) hooks.started();
        return TRUE;
      case WM_NOTIFY: {
        const auto* record = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if (record->hdr.idFrom == IDC_FILELIST && record->hdr.code == LVN_DELETEITEM && hooks.fileLeft)
          hooks.fileLeft();
        return TRUE;
      }
      default:
        return FALSE;
    }
  };
}

}  // namespace ui
