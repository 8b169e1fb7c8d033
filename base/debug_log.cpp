#include "base/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/core/format.h"

CDebugLog g_DebugLog;

namespace {

// Writes all of data, retrying after interruptions and partial writes.
void WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

}  // namespace

CDebugLog::CDebugLog() : m_bToFile(false), m_nIndent(0), m_szText{}, m_szFileName{} {}

CDebugLog::~CDebugLog() = default;

void CDebugLog::CreateLogFile(const char* path) {
  std::lock_guard lock(m_lock);
  m_bToFile = true;
  m_bLineEnds = false;
  std::snprintf(m_szFileName, sizeof m_szFileName, "%s", path);
  const int fd = ::open(m_szFileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd >= 0) ::close(fd);
}

void CDebugLog::AppendToLogFile(const char* path, std::size_t limit) {
  std::lock_guard lock(m_lock);
  m_bToFile = true;
  m_bLineEnds = true;
  std::snprintf(m_szFileName, sizeof m_szFileName, "%s", path);
  if (m_szFileName[0] == '\0') return;
  struct stat info {};
  if (::lstat(m_szFileName, &info) == 0 && S_ISREG(info.st_mode) && static_cast<std::size_t>(info.st_size) > limit) {
    const std::string old = std::string(m_szFileName) + ".old";
    ::rename(m_szFileName, old.c_str());
  }
  // A log an earlier version left without a final line end gets one first.
  const int fd = ::open(m_szFileName, O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return;
  char last = '\n';
  if (::fstat(fd, &info) == 0 && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
    WriteAll(fd, "\r\n", 2);
  ::close(fd);
}

void CDebugLog::Print(const char* format, ...) {
  std::lock_guard lock(m_lock);
  // The indentation is cut where it would leave no room for the text.
  const std::size_t room = sizeof m_szText - platform::kFormatLimit - 1;
  std::size_t spaces = static_cast<std::size_t>(m_nIndent) * 4;
  if (spaces > room) spaces = room;
  std::memset(m_szText, ' ', spaces);

  std::va_list args;
  va_start(args, format);
  // The texts filled in come from anywhere (settings, paths, port and file names):
  // their control characters are escaped, so they can neither start a line of their
  // own nor steer a terminal. The format itself is the program's.
  const std::size_t length =
      spaces + platform::FormatTextV(m_szText + spaces, format, args, platform::ArgumentText::kControlsEscaped);
  va_end(args);

  if (!m_bToFile) {
    std::fprintf(stderr, "%s\n", m_szText);
    return;
  }

  // Append the line in one write; the separator goes only between lines, unless
  // every line ends with one.
  const int fd = ::open(m_szFileName, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd < 0) return;
  struct stat info {};
  const bool empty = m_bLineEnds || ::fstat(fd, &info) != 0 || info.st_size == 0;
  std::string line;
  line.reserve(length + 2);
  if (!empty) line.append("\r\n");
  line.append(m_szText, length);
  if (m_bLineEnds) line.append("\r\n");
  WriteAll(fd, line.data(), line.size());
  ::close(fd);
}

void CDebugLog::IndentUp() {
  std::lock_guard lock(m_lock);
  ++m_nIndent;
}

void CDebugLog::IndentDown() {
  std::lock_guard lock(m_lock);
  m_nIndent = m_nIndent > 0 ? m_nIndent - 1 : 0;
}

int CDebugLog::Indent() const {
  std::lock_guard lock(m_lock);
  return m_nIndent;
}

void DebugWindowPrint(const char* text) {
  if (g_DebugLog.EchoesToDeveloperChannel()) std::fprintf(stderr, "%s\n", text);
}
