#include "platform/core/folder_check.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform {

namespace {

std::string Reason(int error) { return std::generic_category().message(error); }

}  // namespace

std::string FolderWriteProblem(const std::string& folder) {
  if (folder.empty()) return Reason(ENOENT);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) return Reason(errno);
  if (!S_ISDIR(info.st_mode)) return Reason(ENOTDIR);
  // Making a file needs write and search rights on the folder; a read-only mount
  // answers EROFS here, even for the superuser.
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return Reason(errno);
  struct statvfs space {};
  // A file system that counts no blocks at all (some virtual ones) says nothing.
  if (::statvfs(folder.c_str(), &space) == 0 && space.f_blocks > 0 && space.f_bavail == 0) return Reason(ENOSPC);
  return {};
}

std::string MakeFolders(const std::string& folder) {
  if (folder.empty()) return Reason(ENOENT);
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? std::string() : Reason(ENOTDIR);
  const std::size_t slash = folder.find_last_of('/', folder.size() > 1 ? folder.size() - 2 : 0);
  if (slash != std::string::npos && slash > 0) {
    if (std::string reason = MakeFolders(folder.substr(0, slash)); !reason.empty()) return reason;
  }
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) return Reason(errno);
  if (::stat(folder.c_str(), &info) != 0) return Reason(errno);
  return S_ISDIR(info.st_mode) ? std::string() : Reason(ENOTDIR);
}

}  // namespace platform
