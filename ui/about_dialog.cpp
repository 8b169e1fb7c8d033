#include "ui/about_dialog.h"

#include <cstring>
#include <string>

#include "engine/music_engine.h"
#include "output/mp3_transcoder.h"
#include "platform/window/winuser.h"
#include "ui/dialog_background.h"
#include "ui/drawing_helpers.h"
#include "ui/web_launcher.h"

namespace {

constexpr int kVisitIcon = 212;
constexpr int kOkIcon = 208;  // the icon of the main window's Convert! button
constexpr DWORD kButtonStyle = 0x8000006B;

// The dialog's text: the product and its maker, the rights notice, and the encoder and
// synthesiser as the program actually runs them.
std::string AboutText() {
  std::string text;
  text += "Halvane v1.9\n";
  text += "by Orvande\n";
  text += "\n";
  text += "Copyright (C) 2026 Orvande.\n";
  text += "All rights reserved.\n";
  text += "\n";
  text += std::string("MP3 Encoder: LAME v") + Mp3EncoderVersion() + "\n";
  text += "https://lame.sourceforge.io\n";
  text += std::string("Synthesizer: FluidSynth v") + SynthesizerVersion();
  return text;
}

// Visit Home Page... shows the maker's site as its tooltip; OK has none.
void DecorateButtons(HWND hDlg) {
  BUTTON_DECORATION decoration;
  std::memset(&decoration, 0, sizeof decoration);
  decoration.words[kDecorationIcon] = kVisitIcon;
  decoration.words[kDecorationTooltip] = reinterpret_cast<ULONG_PTR>(kMakerSiteAddress);
  decoration.words[kDecorationStyle] = kButtonStyle;
  RedrawButton(GetDlgItem(hDlg, IDC_VISITHOMEPAGE), &decoration);
  decoration.words[kDecorationIcon] = kOkIcon;
  decoration.words[kDecorationTooltip] = 0;
  decoration.words[kDecorationStyle] = kButtonStyle;
  RedrawButton(GetDlgItem(hDlg, IDOK), &decoration);
}

}  // namespace

INT_PTR AboutDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      DecorateButtons(hDlg);
      SetDlgItemTextA(hDlg, IDC_ABOUTTEXT, AboutText().c_str());
      return FALSE;

    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          EndDialog(hDlg, 1);
          break;
        case IDCANCEL:
          EndDialog(hDlg, 0);
          break;
        case IDC_VISITHOMEPAGE:
          // The dialog closes whether or not a browser starts.
          OpenInBrowser(kHomePageAddress);
          EndDialog(hDlg, 0);
          break;
        default:
          break;
      }
      return FALSE;

    case WM_CLOSE:
      EndDialog(hDlg, 0);
      return TRUE;

    case WM_ERASEBKGND:
      PaintPatternBackground(hDlg, reinterpret_cast<HDC>(wParam));
      return TRUE;

    case WM_CTLCOLORSTATIC:
      return TransparentStatic(reinterpret_cast<HDC>(wParam));

    default:
      return FALSE;
  }
}
