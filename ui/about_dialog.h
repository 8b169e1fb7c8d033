// The About dialog (dialog template IDD_ABOUT): the product, its maker, the encoder and
// the synthesiser it runs with, and a button to the product's home page. The main
// window runs it modally for its About command.
#pragma once

#include "platform/window/windows_ui.h"
#include "ui/dialog_template.h"

// The product's home page, opened by Visit Home Page...
inline constexpr char kHomePageAddress[] = "https://example.org/halvane";
// The maker's web site, the tooltip of Visit Home Page...
inline constexpr char kMakerSiteAddress[] = "https://example.org";

// Controls of the About dialog besides OK (IDOK).
constexpr int IDC_VISITHOMEPAGE = 2101;
constexpr int IDC_ABOUTTEXT = 2102;

// The dialog procedure: OK ends the dialog with 1; Esc, the close box and Visit Home
// Page... (after opening the home page) end it with 0.
INT_PTR AboutDlgProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam);
