#include "kernel.h"

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

namespace platform {
namespace {
thread_local WaitDriver t_waitDriver;
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
