#include "platform/shell/shell.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/core/kernel.h"

extern char** environ;

namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool IsRunnable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Splits on blanks; a double-quoted stretch keeps its blanks and loses its quotes.
std::vector<std::string> SplitParameters(const char* params) {
  std::vector<std::string> parts;
  if (params == nullptr) return parts;
  std::string current;
  bool inPart = false;
  bool quoted = false;
  for (const char* p = params; *p != '\0'; ++p) {
    const char c = *p;
    if (c == '"') {
      quoted = !quoted;
      inPart = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inPart) parts.push_back(std::move(current));
      current.clear();
      inPart = false;
    } else {
      current += c;
      inPart = true;
    }
  }
  if (inPart) parts.push_back(std::move(current));
  return parts;
}

HINSTANCE Result(std::intptr_t code) { return reinterpret_cast<HINSTANCE>(code); }

}  // namespace

namespace platform {

std::string ResolveShellProgram(const char* file) {
  if (file == nullptr || *file == '\0') return {};
  const std::string_view name(file);
  if (EqualsIgnoringCase(name, "regsvr32") || EqualsIgnoringCase(name, "regsvr32.exe")) {
    const std::string program = ProgramPath();
    if (program.empty()) return {};
    const std::string path = (std::filesystem::path(program).parent_path() / kRegistrationProgram).string();
    return IsRunnable(path) ? path : std::string();
  }
  if (name.find('/') != std::string_view::npos)
    return IsRunnable(std::string(name)) ? std::string(name) : std::string();
  const char* searchPath = std::getenv("PATH");
  std::string_view folders(searchPath != nullptr ? searchPath : "/usr/local/bin:/usr/bin:/bin");
  while (true) {
    const std::size_t colon = folders.find(':');
    // An empty entry is the current folder.
    const std::string_view folder = colon == 0 || folders.empty() ? std::string_view(".") : folders.substr(0, colon);
    const std::string path = std::string(folder) + "/" + std::string(name);
    if (IsRunnable(path)) return path;
    if (colon == std::string_view::npos) break;
    folders.remove_prefix(colon + 1);
  }
  return {};
}

int StartProgram(const char* file, const std::vector<std::string>& arguments, const char* dir) {
  const std::string program = ResolveShellProgram(file);
  if (program.empty()) return SE_ERR_FNF;
  const bool changeFolder = dir != nullptr && *dir != '\0';
  if (changeFolder) {
    std::error_code error;
    if (!std::filesystem::is_directory(dir, error)) return SE_ERR_PNF;
  }

  std::vector<std::string> argvText;
  argvText.reserve(arguments.size() + 1);
  argvText.push_back(program);
  argvText.insert(argvText.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : argvText) argv.push_back(argument.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return SE_ERR_OOM;
  if (changeFolder && posix_spawn_file_actions_addchdir_np(&actions, dir) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return SE_ERR_OOM;
  }
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (rc == EACCES || rc == EPERM) return SE_ERR_ACCESSDENIED;
    if (rc == ENOMEM || rc == EAGAIN) return SE_ERR_OOM;
    return SE_ERR_FNF;
  }
  // The caller does not wait for the program; it is reaped when it ends.
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 42;
}

}  // namespace platform

HINSTANCE ShellExecuteA(HWND, const char* verb, const char* file, const char* params, const char* dir, int) {
  if (verb != nullptr && *verb != '\0' && !EqualsIgnoringCase(verb, "open")) return Result(SE_ERR_NOASSOC);
  return Result(platform::StartProgram(file, SplitParameters(params), dir));
}
