#include "app/convert_cli/batch_plan.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <numeric>
#include <set>
#include <system_error>
#include <utility>

#include "platform/core/part_file.h"

namespace convert_cli {

namespace fs = std::filesystem;

std::vector<std::size_t> ShardOf(const std::vector<std::string>& files, int index, int count) {
  std::vector<std::size_t> order(files.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return files[a] < files[b]; });
  std::vector<std::size_t> part;
  for (std::size_t at = static_cast<std::size_t>(index); count > 0 && at < order.size();
       at += static_cast<std::size_t>(count))
    part.push_back(order[at]);
  return part;
}

std::string OutputFolderFor(const std::string& input, const std::string& root, const std::string& outDir,
                            bool keepTree) {
  if (!keepTree || root.empty()) return outDir;
  const fs::path relative = fs::path(input).parent_path().lexically_relative(root);
  // A file outside its root (which the folder search does not yield) keeps to outDir.
  if (relative.empty() || relative == "." || *relative.begin() == "..") return outDir;
  return (fs::path(outDir) / relative).string();
}

void NameExpectedOutputs(std::vector<PlannedFile>& files, const std::string& extension) {
  std::map<std::pair<std::string, std::string>, int> seen;
  for (PlannedFile& file : files) {
    std::string base = fs::path(file.input).filename().string();
    if (const std::size_t dot = base.rfind('.'); dot != std::string::npos && dot >= 1) base.resize(dot);
    const int earlier = seen[{file.folder, base}]++;
    const std::string name =
        earlier == 0 ? base + "." + extension : base + "(" + std::to_string(earlier) + ")." + extension;
    file.expected = (fs::path(file.folder) / name).string();
  }
}

std::vector<bool> OutputsThere(const std::vector<PlannedFile>& files) {
  std::set<std::string> cleared;
  std::vector<bool> there;
  for (const PlannedFile& file : files) {
    if (cleared.insert(file.folder).second) platform::RemoveStaleParts(file.folder);
    std::error_code failure;
    const fs::file_status status = fs::symlink_status(file.expected, failure);
    there.push_back(fs::is_regular_file(status) && fs::file_size(file.expected, failure) > 0 && !failure);
  }
  return there;
}

}  // namespace convert_cli
