// An output written under a temporary name in its final folder and renamed onto its
// final name when complete: the final name holds a whole file or none, and nothing is
// ever written through a name another user could swap for a link.
//
// The part file is ".<final name>.<random>.halvane-part", made without a name first
// and locked before it gets one, so a lock that can be taken marks a writer that has
// died. The writers that take a file name are handed "/proc/self/fd/N" of the open
// file: nothing is reopened by a name in the folder.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace platform {

class PartFile {
 public:
  // Makes the part file for finalPath beside it (mode 0600, locked). Null on failure,
  // with reason "<path>: <the system's reason>".
  static std::unique_ptr<PartFile> Create(const std::string& finalPath, std::string& reason);
  // Removes the part file unless it was committed.
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // The open file by a name only this process can resolve.
  std::string WriterPath() const;
  // Brings the file to the disk with the usual mode (0666 less the umask) and renames
  // it onto the final name; whatever stands there (the reserved empty file, or a link
  // planted in its place) is replaced, never followed. False with reason on failure.
  bool Commit(std::string& reason);

 private:
  PartFile(int fd, std::string path, std::string finalPath);
  int fd_;
  std::string path_;
  std::string finalPath_;
  bool committed_ = false;
};

// Removes in folder the part files of writers that died (their lock is free), with
// the empty file of ours each was to replace. Anything else is left alone.
void RemoveStaleParts(const std::string& folder);

// "<path>: <strerror(error)>".
std::string ReasonFor(const std::string& path, int error);

// Tests only: called with the final path once the part file exists (created is
// true) and again just before the rename (created is false).
using PartFileHook = std::function<void(bool created, const std::string& finalPath)>;
void SetPartFileHookForTesting(PartFileHook hook);

}  // namespace platform
