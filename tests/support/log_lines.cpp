#include "tests/support/log_lines.h"

#include "tests/support/temp_dir.h"

namespace testing_support {

std::vector<std::string> SplitLogLines(const std::string& text) {
  std::vector<std::string> lines;
  if (text.empty()) return lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  lines.push_back(text.substr(start));
  return lines;
}

std::vector<std::string> ReadLogLines(const std::filesystem::path& path) { return SplitLogLines(ReadFileBytes(path)); }

}  // namespace testing_support
