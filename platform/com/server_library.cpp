#include "platform/com/server_library.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

namespace platform {

namespace {

struct Hook {
  std::mutex lock;
  std::function<void(const std::string&)> hook;
};

Hook& TheHook() {
  static Hook hook;
  return hook;
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

bool TrustedOwner(uid_t owner) { return owner == ::geteuid() || owner == 0; }

// Why the folders from folder (a real path: no links, no "..") up to / could let
// another user change what they hold; empty when none could.
std::string FolderProblem(std::string folder) {
  for (;;) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0) return "the folder " + folder + ": " + ErrnoText(errno);
    if (!TrustedOwner(info.st_uid)) return "the folder " + folder + " belongs to another user";
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "the folder " + folder + " can be written by others";
    if (folder == "/") return {};
    const std::size_t at = folder.rfind('/');
    folder = at == 0 ? "/" : folder.substr(0, at);
  }
}

}  // namespace

void* LoadServerLibrary(const std::string& path, std::string& reason) {
  if (path.empty() || path.front() != '/') {
    reason = "not an absolute path";
    return nullptr;
  }
  // The file is opened in its real folder, the one whose chain is checked below, so
  // no link on the way can point elsewhere between the open and the check.
  const std::size_t slash = path.rfind('/');
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.substr(0, slash + 1).c_str(), nullptr), &std::free);
  if (!real) {
    reason = ErrnoText(errno);
    return nullptr;
  }
  const std::string folder = real.get();
  const std::string file = (folder == "/" ? folder : folder + "/") + path.substr(slash + 1);
  // Non-blocking, so that a FIFO cannot hold the open up.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = errno == ELOOP ? "a symbolic link" : ErrnoText(errno);
    return nullptr;
  }
  // On success the file stays open, like the library, for the life of the process:
  // the library's own name is "/proc/self/fd/N", which then still leads to it.
  struct Closer {
    int fd;
    ~Closer() {
      if (fd >= 0) ::close(fd);
    }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    reason = ErrnoText(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode))
    reason = "not a regular file";
  else if (!TrustedOwner(info.st_uid))
    reason = "owned by another user";
  else if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    reason = "writable by group or others";
  else
    reason = FolderProblem(folder);
  if (!reason.empty()) return nullptr;

  std::function<void(const std::string&)> hook;
  {
    std::lock_guard lock(TheHook().lock);
    hook = TheHook().hook;
  }
  if (hook) hook(path);

  void* handle = ::dlopen(("/proc/self/fd/" + std::to_string(fd)).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = ::dlerror();
    reason = error != nullptr ? error : "the loader gave no reason";
  } else {
    closer.fd = -1;
  }
  return handle;
}

void SetServerLibraryHookForTesting(std::function<void(const std::string& path)> hook) {
  std::lock_guard lock(TheHook().lock);
  TheHook().hook = std::move(hook);
}

}  // namespace platform
