#include "platform/core/part_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>
#include <utility>

namespace platform {

namespace {

constexpr const char* kSuffix = ".halvane-part";
constexpr std::size_t kRandomChars = 6;

struct Hook {
  std::mutex lock;
  PartFileHook hook;
};

Hook& TheHook() {
  static Hook hook;
  return hook;
}

void CallHook(bool created, const std::string& finalPath) {
  PartFileHook hook;
  {
    std::lock_guard lock(TheHook().lock);
    hook = TheHook().hook;
  }
  if (hook) hook(created, finalPath);
}

std::string FolderOf(const std::string& path) {
  const std::size_t at = path.rfind('/');
  if (at == std::string::npos) return ".";
  return at == 0 ? "/" : path.substr(0, at);
}

std::string NameOf(const std::string& path) {
  const std::size_t at = path.rfind('/');
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string RandomChars() {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::random_device device;
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  std::string text;
  for (std::size_t i = 0; i < kRandomChars; ++i) text += kChars[pick(device)];
  return text;
}

// ".<name>.<random>.halvane-part"; a name too long to be carried gives ".<random>.halvane-part".
std::string PartName(const std::string& finalName) {
  const std::string random = RandomChars();
  const std::string whole = "." + finalName + "." + random + kSuffix;
  return whole.size() <= NAME_MAX ? whole : "." + random + kSuffix;
}

// Whether name is a part file's name, and the final name it carries (empty when none).
bool ParsePartName(const std::string& name, std::string& finalName) {
  const std::size_t suffix = std::strlen(kSuffix);
  if (name.size() < 1 + kRandomChars + suffix || name[0] != '.' ||
      name.compare(name.size() - suffix, suffix, kSuffix) != 0)
    return false;
  const std::size_t randomAt = name.size() - suffix - kRandomChars;
  finalName.clear();
  if (randomAt == 1) return true;
  if (randomAt < 3 || name[randomAt - 1] != '.') return false;
  finalName = name.substr(1, randomAt - 2);
  return true;
}

// 0666 less the process's umask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t UsualMode() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) return 0666 & ~static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
  }
  return 0644;
}

// Makes the part file locked from its first moment: unnamed, locked, then linked in
// under its name. Where the file system has no unnamed files, it is made by name and
// locked at once.
int MakeLocked(const std::string& folder, const std::string& path, int& error) {
  // A file system without locks still takes the file; a clean-up there cannot lock
  // either, and leaves every part file alone.
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), AT_FDCWD, path.c_str(),
                 AT_SYMLINK_FOLLOW) == 0)
      return fd;
    error = errno;
    ::close(fd);
    // Only a file system without unnamed files (or without /proc) falls back.
    if (error != ENOENT && error != EXDEV && error != EPERM) return -1;
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    error = errno;
    return -1;
  }
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  ::flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

std::string ReasonFor(const std::string& path, int error) {
  char buffer[256];
  return path + ": " + ::strerror_r(error, buffer, sizeof buffer);
}

PartFile::PartFile(int fd, std::string path, std::string finalPath)
    : fd_(fd), path_(std::move(path)), finalPath_(std::move(finalPath)) {}

std::unique_ptr<PartFile> PartFile::Create(const std::string& finalPath, std::string& reason) {
  const std::string folder = FolderOf(finalPath);
  std::string path;
  int error = 0, fd = -1;
  // A name another part file has already taken is tried again with other random characters.
  for (int tries = 0; fd < 0 && (tries == 0 || (error == EEXIST && tries < 8)); ++tries) {
    path = (folder == "/" ? "/" : folder + "/") + PartName(NameOf(finalPath));
    fd = MakeLocked(folder, path, error);
  }
  if (fd < 0) {
    reason = ReasonFor(path, error);
    return nullptr;
  }
  std::unique_ptr<PartFile> part(new PartFile(fd, path, finalPath));
  CallHook(true, finalPath);
  return part;
}

PartFile::~PartFile() {
  if (!committed_) {
    // Only our own file goes: the name is checked against the open file first.
    struct stat byName {
    }, open{};
    if (::lstat(path_.c_str(), &byName) == 0 && ::fstat(fd_, &open) == 0 && SameFile(byName, open))
      ::unlink(path_.c_str());
  }
  ::close(fd_);
}

std::string PartFile::WriterPath() const { return "/proc/self/fd/" + std::to_string(fd_); }

bool PartFile::Commit(std::string& reason) {
  if (::fchmod(fd_, UsualMode()) != 0 || ::fsync(fd_) != 0) {
    reason = ReasonFor(finalPath_, errno);
    return false;
  }
  CallHook(false, finalPath_);
  // The name must still be ours: in a folder others can write, it could have been
  // swapped for something of theirs.
  struct stat byName {
  }, open{};
  if (::lstat(path_.c_str(), &byName) != 0 || ::fstat(fd_, &open) != 0 || !SameFile(byName, open)) {
    reason = ReasonFor(path_, byName.st_ino == 0 ? errno : EEXIST);
    return false;
  }
  if (::rename(path_.c_str(), finalPath_.c_str()) != 0) {
    reason = ReasonFor(finalPath_, errno);
    return false;
  }
  committed_ = true;
  return true;
}

void RemoveStaleParts(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  DIR* listing = ::fdopendir(dir);
  if (listing == nullptr) {
    ::close(dir);
    return;
  }
  const uid_t me = ::geteuid();
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    std::string finalName;
    if (!ParsePartName(name, finalName)) continue;
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat part {};
    // A living writer holds the lock; a file of someone else's is theirs to clear.
    if (::fstat(fd, &part) == 0 && S_ISREG(part.st_mode) && part.st_uid == me && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      struct stat reserved {};
      if (!finalName.empty() && ::fstatat(dir, finalName.c_str(), &reserved, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(reserved.st_mode) && reserved.st_size == 0 && reserved.st_uid == me)
        ::unlinkat(dir, finalName.c_str(), 0);
      ::unlinkat(dir, name.c_str(), 0);
    }
    ::close(fd);
  }
  ::closedir(listing);
}

void SetPartFileHookForTesting(PartFileHook hook) {
  std::lock_guard lock(TheHook().lock);
  TheHook().hook = std::move(hook);
}

}  // namespace platform
