// Files that reach the list without the file-open dialog: dropped on the window from
// a file manager, named on the command line, or handed over by a second start of
// the program. A folder stands for the MIDI files it holds.
#pragma once

#include <string>
#include <vector>

#include "platform/window/windows_ui.h"

// The *.mid, *.midi, *.kar, *.smf and *.rmi files (any letter case) under folder and its
// subfolders, sorted by path; links are not followed into other folders.
std::vector<std::string> MidiFilesIn(const std::string& folder);

// Adds each file, and the MIDI files of each folder, as Add File(s) adds a chosen
// file; paths that name neither are logged and skipped, and returned. During a long
// addition the window keeps painting and serving (ServeWhile) for a moment now and
// then, so other commands and hand-overs may be handled in between.
std::vector<std::string> AddHandedFiles(HWND hDlg, const std::vector<std::string>& paths);

// Tells the person in one error box which paths could not be added (the first few,
// then how many more); nothing when there are none.
void ReportFilesNotAdded(HWND hDlg, const std::vector<std::string>& paths);
