// Which files a run takes and where each one's output goes: the share of a split
// list this run converts, the folder of each output (mirroring the input folders
// when asked), and the name the output is expected under, so that a file whose
// output a former run has already written can be passed over.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace convert_cli {

struct PlannedFile {
  std::string input;     // the MIDI file's full path
  std::string folder;    // where its output goes
  std::string expected;  // the output's name in a folder where nothing else is taken
};

// Part index of count parts of files: the list sorted by path, every count-th file
// from the index-th on. The parts of 0 .. count-1 hold every file exactly once,
// and the same list always splits the same way.
std::vector<std::size_t> ShardOf(const std::vector<std::string>& files, int index, int count);

// The output folder of input found under root (the folder given on the command line;
// empty for a file given by itself): outDir, or with keepTree the same subfolders
// under outDir as input has under root.
std::string OutputFolderFor(const std::string& input, const std::string& root, const std::string& outDir,
                            bool keepTree);

// Fills in each file's expected output: "base.ext", and for the n-th file (from 1)
// of the same base name into the same folder "base(n).ext", as the worker names
// them in an empty folder.
void NameExpectedOutputs(std::vector<PlannedFile>& files, const std::string& extension);

// For each file, whether its expected output is there, finished. An output is
// renamed into place only when whole, but while it is written its name is held by
// an empty file, which a killed run leaves behind with its part file: that is
// cleared first (as the worker clears it), and an empty file never counts.
std::vector<bool> OutputsThere(const std::vector<PlannedFile>& files);

}  // namespace convert_cli
