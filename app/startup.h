// The program's start and end: the single-instance rule, the process-wide buffers,
// the program folder, the diagnostic log's banner, the background pattern, the
// settings, and the main window run between loading and saving them.
#pragma once

#include <cstddef>

// Runs the program; returns the process exit code: 0, or 1 for a second start that
// could not hand its files to the running window (it says so on standard error).
// argc and argv go to the window toolkit first; the files and folders named after
// its options are added to the list (or, when the program already runs, handed to
// the running window).
int HalvaneMain(int& argc, char** argv);

// Cuts a program path at its last '/': scanning back from index length (the
// terminating NUL), the first '/' becomes the end of the text. "/opt/halvane/halvane"
// gives "/opt/halvane"; a program in "/" gives the empty folder; a path without '/'
// stays as it is.
void CutAtLastSlash(char* path, std::size_t length);
