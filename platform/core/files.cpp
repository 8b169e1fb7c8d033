#include "platform/core/files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/core/kernel_object.h"

namespace {

// An open file; closing its handle closes the descriptor.
class FileObject : public platform::KernelObject {
 public:
  explicit FileObject(int fd) : fd_(fd) {}
  ~FileObject() override { ::close(fd_); }

 private:
  int fd_;
};

// The Win32 error that stands for errno after a failed file call.
DWORD ErrorFromErrno(int error, bool mustExist) {
  switch (error) {
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOENT:
      return mustExist ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// "<folder>/<pre>XXXX.TMP" for unique, or empty when it does not fit a path buffer.
std::string TempFileName(const char* folder, const char* prefix, UINT unique) {
  std::string name = folder;
  if (name.empty() || name.back() != '/') name += '/';
  name.append(prefix, strnlen(prefix, 3));
  char digits[16];
  std::snprintf(digits, sizeof digits, "%04X.TMP", unique & 0xFFFFu);
  name += digits;
  return name.size() < kPathBufferSize ? name : std::string();
}

}  // namespace

DWORD GetTempPathA(DWORD bufferLength, char* buffer) {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string path = tmpdir != nullptr && tmpdir[0] != '\0' ? tmpdir : "/tmp";
  if (path.back() != '/') path += '/';
  const auto length = static_cast<DWORD>(path.size());
  if (buffer == nullptr || length >= bufferLength) return length + 1;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return length;
}

UINT GetTempFileNameA(const char* folder, const char* prefix, UINT unique, char* tempFileName) {
  if (folder == nullptr || prefix == nullptr || tempFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (unique != 0) {
    const std::string name = TempFileName(folder, prefix, unique);
    if (name.empty()) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    std::memcpy(tempFileName, name.c_str(), name.size() + 1);
    return unique & 0xFFFFu;
  }
  // Start at a number that differs between calls and processes, then take the
  // first free one; 0 is not a number a made file carries.
  const auto ticks = static_cast<UINT>(std::chrono::steady_clock::now().time_since_epoch().count() / 1000);
  UINT number = (ticks ^ static_cast<UINT>(::getpid())) & 0xFFFFu;
  for (int tries = 0; tries < 0xFFFF; ++tries, number = (number + 1) & 0xFFFFu) {
    if (number == 0) number = 1;
    const std::string name = TempFileName(folder, prefix, number);
    if (name.empty()) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      std::memcpy(tempFileName, name.c_str(), name.size() + 1);
      return number;
    }
    if (errno != EEXIST) {
      SetLastError(ErrorFromErrno(errno, false));
      return 0;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

HANDLE CreateFileA(const char* fileName, DWORD access, DWORD, void*, DWORD disposition, DWORD, HANDLE) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  int flags = O_CLOEXEC;
  const bool reads = (access & GENERIC_READ) != 0, writes = (access & GENERIC_WRITE) != 0;
  flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      flags |= O_TRUNC;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  // Emptying a file takes write access here.
  if ((flags & O_TRUNC) != 0 && !writes) flags |= O_WRONLY;
  const int fd = ::open(fileName, flags, 0644);
  if (fd < 0) {
    SetLastError(ErrorFromErrno(errno, disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING));
    return INVALID_HANDLE_VALUE;
  }
  auto* file = new (std::nothrow) FileObject(fd);
  if (file == nullptr) {
    ::close(fd);
    SetLastError(ERROR_OUTOFMEMORY);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(ERROR_SUCCESS);
  return platform::ToHandle(file);
}

BOOL DeleteFileA(const char* fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (::unlink(fileName) != 0) {
    SetLastError(ErrorFromErrno(errno, true));
    return FALSE;
  }
  return TRUE;
}
