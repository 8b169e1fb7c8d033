// The record of a run: one JSON object per line for each file as it finishes,
// each line written whole at once, so a run that is killed leaves whole lines.
#pragma once

#include <string>

#include "app/convert_cli/file_result.h"

namespace convert_cli {

// text as a JSON string, quotes included: control characters escaped, and bytes that
// are not UTF-8 given as U+FFFD, so every line stays valid JSON.
std::string JsonString(const std::string& text);

// One line (with its line end) for result: input, output (null when none), status
// "ok", "failed" or "skipped", reason (null when none), music_seconds,
// render_seconds, peak_dbfs (null for silence or when not measured), clipped_samples.
std::string ManifestLine(const FileResult& result);

class Manifest {
 public:
  Manifest() = default;
  ~Manifest();
  Manifest(const Manifest&) = delete;
  Manifest& operator=(const Manifest&) = delete;

  // Opens path to add lines to (earlier runs' lines stay); links are not followed.
  // An empty text, or the system's reason it cannot be opened.
  std::string Open(const std::string& path);
  // Adds result's line; false when it could not be written whole.
  bool Add(const FileResult& result);

 private:
  int fd_ = -1;
};

}  // namespace convert_cli
