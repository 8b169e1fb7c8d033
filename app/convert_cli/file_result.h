// What became of each file halvane-convert was given, kept in the order given: the
// line the terminal shows for it, the counts of the summary, and everything a
// record of the run (one entry per file) needs.
#pragma once

#include <string>
#include <vector>

namespace convert_cli {

enum class FileStatus {
  kConverted,
  kConvertedWithWarning,  // written, but the MIDI reader had to repair the file
  kFailed,                // nothing written
};

struct FileResult {
  std::string input;                 // the MIDI file's full path
  std::string output;                // the file written (the name reserved for it); empty when none
  FileStatus status = FileStatus::kFailed;
  std::vector<std::string> reasons;  // the repairs, or why it failed; empty for a clean conversion
};

// The terminal's line for a file, control characters escaped, without a line end:
// "IN -> OUT", "IN -> OUT: warning: REASON; REASON", or for a failure "IN: REASON".
std::string ResultLine(const FileResult& result);

// The summary for standard error (control characters escaped), one line each: how
// many of the total failed and how many were converted with a warning, each
// followed by their paths. Nothing when every file converted cleanly.
std::vector<std::string> SummaryLines(const std::vector<FileResult>& results, std::size_t total);

}  // namespace convert_cli
