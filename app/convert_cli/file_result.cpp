#include "app/convert_cli/file_result.h"

#include "platform/core/format.h"

namespace convert_cli {

namespace {

// A summary names this many paths, then says how many more there are.
constexpr std::size_t kNamedInSummary = 20;

std::string Joined(const std::vector<std::string>& texts, const char* separator) {
  std::string joined;
  for (const std::string& text : texts) joined += (joined.empty() ? "" : separator) + text;
  return joined;
}

std::string CountedPaths(const std::vector<FileResult>& results, FileStatus status, std::size_t total,
                         const char* what) {
  std::vector<std::string> paths;
  std::size_t count = 0;
  for (const FileResult& result : results) {
    if (result.status != status) continue;
    if (++count <= kNamedInSummary) paths.push_back(platform::EscapeControls(result.input));
  }
  if (count == 0) return {};
  std::string line =
      std::to_string(count) + " of " + std::to_string(total) + " file(s) " + what + ": " + Joined(paths, ", ");
  if (count > kNamedInSummary) line += " and " + std::to_string(count - kNamedInSummary) + " more";
  return line;
}

}  // namespace

std::string ResultLine(const FileResult& result) {
  const std::string input = platform::EscapeControls(result.input);
  const std::string reasons = platform::EscapeControls(Joined(result.reasons, "; "));
  switch (result.status) {
    case FileStatus::kConverted:
      return input + " -> " + platform::EscapeControls(result.output);
    case FileStatus::kConvertedWithWarning:
      return input + " -> " + platform::EscapeControls(result.output) + ": warning: " + reasons;
    case FileStatus::kSkipped:
      return input + " -> " + platform::EscapeControls(result.output) + ": skipped: already there";
    case FileStatus::kFailed:
      break;
  }
  return input + ": " + reasons;
}

std::string ClippedWarning(const FileResult& result) {
  if (result.clippedSamples == 0 || result.status == FileStatus::kFailed || result.status == FileStatus::kSkipped)
    return {};
  return platform::EscapeControls(result.input) + ": warning: " + std::to_string(result.clippedSamples) +
         " samples were clipped to the 16-bit range";
}

std::vector<std::string> SummaryLines(const std::vector<FileResult>& results, std::size_t total) {
  std::vector<std::string> lines;
  for (const auto& [status, what] : {std::pair{FileStatus::kFailed, "failed"},
                                     std::pair{FileStatus::kConvertedWithWarning, "converted with a warning"}}) {
    if (std::string line = CountedPaths(results, status, total, what); !line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace convert_cli
