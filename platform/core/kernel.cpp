#include "kernel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <filesystem>
#include <system_error>
#include <thread>

namespace platform {
namespace {
thread_local WaitDriver t_waitDriver;

std::mutex& ExitLock() {
  static std::mutex lock;
  return lock;
}
std::function<void(UINT)>& ExitReplacement() {
  static std::function<void(UINT)> replacement;
  return replacement;
}
}  // namespace

void ExitProcess(UINT code) {
  std::function<void(UINT)> replacement;
  {
    std::lock_guard lock(ExitLock());
    replacement = ExitReplacement();
  }
  if (replacement) {
    replacement(code);
    return;
  }
  std::fflush(nullptr);
  std::_Exit(static_cast<int>(code));
}

void SetExitProcessForTesting(std::function<void(UINT code)> replacement) {
  std::lock_guard lock(ExitLock());
  ExitReplacement() = std::move(replacement);
}

void Sleep(DWORD ms) {
  if (t_waitDriver) {
    // Copy first: the driver may remove itself while it runs.
    WaitDriver driver = t_waitDriver;
    driver(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetThreadWaitDriver(WaitDriver driver) { t_waitDriver = std::move(driver); }

bool HasThreadWaitDriver() { return static_cast<bool>(t_waitDriver); }

HANDLE GetProcessHeap() {
  static char processHeap;
  return &processHeap;
}

std::string ProgramPath() {
  std::error_code error;
  const auto path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

}  // namespace platform
