#include "platform/core/unlinked_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/core/part_file.h"

namespace platform {

std::unique_ptr<UnlinkedFile> UnlinkedFile::Take(const std::string& name, std::string& reason) {
  const int fd = ::open(name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    reason = ReasonFor(name, errno);
    return nullptr;
  }
  std::unique_ptr<UnlinkedFile> file(new UnlinkedFile(fd));
  struct stat open {
  }, byName{};
  if (::fstat(fd, &open) != 0 || !S_ISREG(open.st_mode) || open.st_uid != ::geteuid() || open.st_nlink != 1 ||
      ::lstat(name.c_str(), &byName) != 0 || byName.st_ino != open.st_ino || byName.st_dev != open.st_dev) {
    reason = ReasonFor(name, EPERM);
    return nullptr;
  }
  if (::unlink(name.c_str()) != 0) {
    reason = ReasonFor(name, errno);
    return nullptr;
  }
  return file;
}

UnlinkedFile::~UnlinkedFile() { ::close(fd_); }

std::string UnlinkedFile::Path() const { return "/proc/self/fd/" + std::to_string(fd_); }

}  // namespace platform
