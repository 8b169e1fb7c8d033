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
// file; paths that name neither are logged and skipped. During a long addition the
// window keeps painting and serving (ServeWhile) for a moment now and then; paths
// handed over meanwhile are added after the ones before them, in order.
void AddHandedFiles(HWND hDlg, const std::vector<std::string>& paths);
