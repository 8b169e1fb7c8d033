// A scratch file that leaves nothing behind, whatever ends the process: opened by
// the name it was made under, checked to be the regular file of ours that was made,
// and its name removed at once. Writers and readers that take a file name use
// "/proc/self/fd/N" of the open file.
#pragma once

#include <memory>
#include <string>

namespace platform {

class UnlinkedFile {
 public:
  // Opens the file just made as name and removes the name. Null on failure (name a
  // link, not a regular file, or not ours), with reason "<name>: <the reason>".
  static std::unique_ptr<UnlinkedFile> Take(const std::string& name, std::string& reason);
  ~UnlinkedFile();
  UnlinkedFile(const UnlinkedFile&) = delete;
  UnlinkedFile& operator=(const UnlinkedFile&) = delete;

  std::string Path() const;

 private:
  explicit UnlinkedFile(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace platform
