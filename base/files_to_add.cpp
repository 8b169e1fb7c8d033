#include "base/files_to_add.h"

#include <mutex>

namespace {

struct Waiting {
  std::mutex lock;
  std::vector<std::string> paths;
};

Waiting& TheWaiting() {
  static Waiting waiting;
  return waiting;
}

}  // namespace

void HandFilesToWindow(std::vector<std::string> paths) {
  Waiting& waiting = TheWaiting();
  std::lock_guard lock(waiting.lock);
  for (std::string& path : paths) waiting.paths.push_back(std::move(path));
}

std::vector<std::string> TakeFilesHandedToWindow() {
  Waiting& waiting = TheWaiting();
  std::lock_guard lock(waiting.lock);
  std::vector<std::string> taken;
  taken.swap(waiting.paths);
  return taken;
}
