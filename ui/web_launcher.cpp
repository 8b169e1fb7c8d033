#include "ui/web_launcher.h"

#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/registry/registry.h"
#include "platform/shell/shell.h"

namespace {

constexpr DWORD kCommandBufferSize = 4096;
constexpr const char* kHttpCommandKey = "http\\shell\\open\\command";
// Where no registered browser is found, the desktop opens the address itself.
constexpr const char* kDesktopOpener = "xdg-open";

struct StarterSlot {
  std::mutex lock;
  ui::BrowserStarter starter;
};

StarterSlot& Starter() {
  static StarterSlot slot;
  return slot;
}

void Start(const std::string& program, const std::vector<std::string>& arguments) {
  ui::BrowserStarter hook;
  {
    StarterSlot& slot = Starter();
    std::lock_guard lock(slot.lock);
    hook = slot.starter;
  }
  if (hook) {
    hook(program, arguments);
    return;
  }
  platform::StartProgram(program.c_str(), arguments);
}

// The command registered for the HTTP protocol; empty when there is none or it does
// not fit the 4096-byte buffer.
std::string RegisteredHttpCommand() {
  std::vector<char> buffer(kCommandBufferSize, '\0');
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kHttpCommandKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return {};
  DWORD type = 0;
  DWORD size = kCommandBufferSize;
  const LONG result = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return {};
  // A value stored without its NUL may fill the whole buffer.
  return std::string(buffer.data(), ::strnlen(buffer.data(), buffer.size()));
}

// The executable of a registered command: after one leading double quote, up to and
// including the last ".exe" or ".EXE". Nothing when the command names no executable.
std::optional<std::string> ExecutableOf(std::string_view command) {
  if (!command.empty() && command.front() == '"') command.remove_prefix(1);
  if (command.size() < 4) return std::nullopt;
  for (std::size_t at = command.size() - 4;; --at) {
    const std::string_view four = command.substr(at, 4);
    if (four == ".exe" || four == ".EXE") return std::string(command.substr(0, at + 4));
    if (at == 0) return std::nullopt;
  }
}

}  // namespace

void OpenInBrowser(const char* address) {
  if (address == nullptr) return;
  const std::vector<std::string> arguments{address};
  if (const std::optional<std::string> browser = ExecutableOf(RegisteredHttpCommand())) {
    Start(*browser, arguments);
  } else {
    Start(kDesktopOpener, arguments);
  }
}

namespace ui {

void SetBrowserStarterForTesting(BrowserStarter starter) {
  StarterSlot& slot = Starter();
  std::lock_guard lock(slot.lock);
  slot.starter = std::move(starter);
}

}  // namespace ui
