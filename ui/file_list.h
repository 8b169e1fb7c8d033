// The MIDI file list of the main window (control 2003): the files waiting to be
// converted, in the order they were added, each with its name and full path. The
// worker takes them from the top; the list decides which buttons are usable.
#pragma once

#include "platform/window/windows_ui.h"

// Longest full path the list takes, terminator included: the size of the buffers
// that the worker and the audition read paths into.
constexpr int kListPathSize = 4096;

// Extended styles and the two columns, "MIDI File" and "Path".
void SetupFileList(HWND hDlg);

// Appends one file unless its full path (compared byte for byte) is listed already,
// which takes the same time however many files are listed. A path too long for
// kListPathSize is refused with a message instead of being cut.
void AddFileToList(HWND hDlg, const char* name, const char* fullPath);

// The commands Add File(s), Remove File and Remove All.
void OnAddFiles(HWND hDlg);
void OnRemoveFile(HWND hDlg);
void OnRemoveAll(HWND hDlg);

// The button rule, on the list's insert, delete and item-changed notifications while
// no batch runs: Convert! usable while the list has files, Remove File and Play File
// while one is selected.
void OnFileListNotify(HWND hDlg, const NMHDR* header);
