// Auditioning the selected file through the speakers: Play File starts it (the
// button turns into Stop Playing), Stop Playing ends it.
#pragma once

#include "platform/window/windows_ui.h"

void OnPlayFile(HWND hDlg);
void OnStopPlaying(HWND hDlg);
