// The diagnostic log: one line per Print, with an indentation that follows the
// nesting of operations, in the file start-up names (see base/user_folders.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>

class CDebugLog {
 public:
  CDebugLog();
  ~CDebugLog();
  CDebugLog(const CDebugLog&) = delete;
  CDebugLog& operator=(const CDebugLog&) = delete;

  // From now on lines go to the file at path, which is created (or emptied) now.
  void CreateLogFile(const char* path);
  // From now on lines go to the end of the file at path, each ending with CR LF, so
  // that earlier runs stay above them. A file already larger than limit bytes is
  // first moved aside to path + ".old" (replacing the one there). The file is
  // opened without following a link. An empty path drops every line.
  void AppendToLogFile(const char* path, std::size_t limit);
  // Formats one line (see platform/core/format.h) after 4 spaces per indentation
  // level and appends it: CR LF before every line but the file's first. Control
  // characters in the %s and %c arguments are written escaped (\r, \n, \x1b, ...).
  void Print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void IndentUp();
  // Lowers the level by one; it never goes below 0.
  void IndentDown();

  int Indent() const;

  // Whether DebugWindowPrint echoes to the developer channel (on by default).
  void EchoToDeveloperChannel(bool on) { m_bEcho.store(on); }
  bool EchoesToDeveloperChannel() const { return m_bEcho.load(); }

 private:
  bool m_bToFile;
  bool m_bLineEnds = false;  // each line ends with CR LF (appended logs)
  std::atomic<bool> m_bEcho{true};
  int m_nIndent;
  char m_szText[4096];
  char m_szFileName[4096];
  // Lines from the window's and the worker's threads are written whole, one at a time.
  mutable std::mutex m_lock;
};

extern CDebugLog g_DebugLog;

// Echoes a failure text to the developer channel (standard error), unless
// g_DebugLog has been told not to.
void DebugWindowPrint(const char* text);

// One level deeper in g_DebugLog while it lives: IndentUp now, IndentDown when it
// goes, or earlier at Close (once).
class LogLevel {
 public:
  LogLevel() { g_DebugLog.IndentUp(); }
  ~LogLevel() { Close(); }
  LogLevel(const LogLevel&) = delete;
  LogLevel& operator=(const LogLevel&) = delete;

  void Close() {
    if (!open_) return;
    open_ = false;
    g_DebugLog.IndentDown();
  }

 private:
  bool open_ = true;
};
