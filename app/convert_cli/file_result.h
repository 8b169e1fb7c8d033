// What became of each file halvane-convert was given, kept in the order given: the
// line the terminal shows for it, the counts of the summary, and everything a
// record of the run (one entry per file) needs.
#pragma once

#include <cmath>
#include <string>
#include <vector>

namespace convert_cli {

enum class FileStatus {
  kConverted,
  kConvertedWithWarning,  // written, but the MIDI reader had to repair the file
  kFailed,                // nothing written
  kSkipped,               // its output was there already; nothing done
};

struct FileResult {
  std::string input;   // the MIDI file's full path
  std::string output;  // the file written (the name reserved for it); empty when none
  FileStatus status = FileStatus::kFailed;
  std::vector<std::string> reasons;       // the repairs, or why it failed; empty for a clean conversion
  double musicSeconds = std::nan("");     // length of the recording; NaN when none was made
  double renderSeconds = 0;               // wall time its conversion took
  double peakDbfs = -HUGE_VAL;            // loudest sample, dB below full scale; -inf for silence
  unsigned long long clippedSamples = 0;  // samples at full scale
  // With --loudness: the recording's integrated loudness (-inf for silence), the
  // gain applied to it, and the loudness and true peak of what was written.
  bool loudnessApplied = false;
  double loudnessLufs = std::nan("");
  double gainDb = std::nan("");
  double outputLufs = std::nan("");
  double truePeakDbtp = std::nan("");
};

// The terminal's line for a file, control characters escaped, without a line end:
// "IN -> OUT", "IN -> OUT: warning: REASON; REASON", or for a failure "IN: REASON".
std::string ResultLine(const FileResult& result);

// The warning standard error gives for a converted file whose recording clipped,
// control characters escaped, without a line end; empty when nothing clipped.
std::string ClippedWarning(const FileResult& result);

// The summary for standard error (control characters escaped), one line each: how
// many of the total failed and how many were converted with a warning, each
// followed by their paths. Nothing when every file converted cleanly.
std::vector<std::string> SummaryLines(const std::vector<FileResult>& results, std::size_t total);

}  // namespace convert_cli
