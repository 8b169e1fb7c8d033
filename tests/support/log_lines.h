// The diagnostic log read back as its lines (separated by CR LF).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// The lines of text, without their separators; empty text has no lines.
std::vector<std::string> SplitLogLines(const std::string& text);
// The lines of the log file at path.
std::vector<std::string> ReadLogLines(const std::filesystem::path& path);

}  // namespace testing_support
