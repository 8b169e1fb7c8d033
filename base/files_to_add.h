// Files and folders handed to the program from outside its window (its command
// line, or a second start of the program), waiting for the main window to add them
// to its list. Any thread may hand some over; the window's thread takes them.
#pragma once

#include <string>
#include <vector>

void HandFilesToWindow(std::vector<std::string> paths);
// Everything handed over since the last call, in order.
std::vector<std::string> TakeFilesHandedToWindow();
