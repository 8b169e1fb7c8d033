#include "base/settings_store.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/debug_log.h"
#include "base/process_state.h"
#include "platform/core/error_text.h"
#include "platform/registry/registry.h"

namespace {

constexpr const char* kSettingsKey = "Software\\Orvande\\Halvane";
constexpr const char* kSameDirectoryValue = "[Same Directory]";
constexpr const char* kOutputValue = "[Output]";
// The stored folder text, its NUL included, fits in this many bytes.
constexpr DWORD kOutputSize = 1024;

unsigned HandleValue(HKEY key) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(key)); }

const char* YesNo(std::int32_t flag) { return flag != 0 ? "true" : "false"; }

std::string OutputDir() {
  std::lock_guard lock(g_OutputDirLock);
  return g_szOutputDir != nullptr ? g_szOutputDir : "";
}

// Logs what the registry had to say about its file (one it could not use and set
// aside, a link whose target it could not write), if anything.
void LogRegistryNote() {
  const std::string note = platform::TakeErrorText();
  if (!note.empty()) g_DebugLog.Print("%s", note.c_str());
}

// Opens (creating when absent) the settings key; null when that fails, which is logged.
HKEY OpenSettingsKey(REGSAM access) {
  platform::TakeErrorText();  // only what these calls leave is logged
  HKEY key = nullptr;
  const LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, "REG_SZ", REG_OPTION_NON_VOLATILE, access,
                                      nullptr, &key, nullptr);
  g_DebugLog.Print("hKey: 0x%x", HandleValue(key));
  if (result != ERROR_SUCCESS) {
    key = nullptr;
    g_DebugLog.Print("Can't open the registry key, error %d", static_cast<int>(result));
  }
  LogRegistryNote();
  return key;
}

void LoadSameDirectory(HKEY key) {
  DWORD type = 0;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExA(key, kSameDirectoryValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD && size == sizeof value)
    g_bSameDirectory = static_cast<std::int32_t>(value);
}

void LoadOutputDir(HKEY key) {
  char text[kOutputSize];
  DWORD type = 0;
  DWORD size = sizeof text;
  const LONG result = RegQueryValueExA(key, kOutputValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  if (result == ERROR_MORE_DATA) {
    // Written by someone else: a folder this long cannot be held; keep the default.
    g_DebugLog.Print("WAV path too long, not loaded");
    return;
  }
  if (result != ERROR_SUCCESS || type != REG_SZ) return;
  // The text up to the first NUL; a value without one is cut to leave room for it.
  const std::size_t length = strnlen(text, std::min<std::size_t>(size, kOutputSize - 1));
  std::lock_guard lock(g_OutputDirLock);
  if (g_szOutputDir == nullptr) return;
  std::memcpy(g_szOutputDir, text, length);
  g_szOutputDir[length] = '\0';
}

}  // namespace

void LoadRegistry() {
  g_DebugLog.Print("Load Registry");
  g_DebugLog.IndentUp();
  const HKEY key = OpenSettingsKey(KEY_READ);
  if (key != nullptr) {
    LoadSameDirectory(key);
    LoadOutputDir(key);
  }
  g_DebugLog.Print("Same Directory: %s", YesNo(g_bSameDirectory));
  g_DebugLog.Print("WAV path: %s", OutputDir().c_str());
  if (key != nullptr) RegCloseKey(key);
  g_DebugLog.IndentDown();
}

void SaveRegistry() {
  g_DebugLog.Print("Save Registry");
  g_DebugLog.IndentUp();
  const HKEY key = OpenSettingsKey(KEY_WRITE);
  if (key == nullptr) {
    g_DebugLog.Print("Settings not saved");
    g_DebugLog.IndentDown();
    return;
  }

  const DWORD sameDirectory = static_cast<DWORD>(g_bSameDirectory.load());
  if (RegSetValueExA(key, kSameDirectoryValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&sameDirectory),
                     sizeof sameDirectory) != ERROR_SUCCESS)
    g_DebugLog.Print("Same Directory not saved");
  g_DebugLog.Print("Same Directory: %s", YesNo(static_cast<std::int32_t>(sameDirectory)));

  // The folder is stored as its text and NUL; one that would not fit with its NUL in the
  // stored size is refused, so the stored value keeps the last folder that did.
  const std::string output = OutputDir();
  if (output.size() >= kOutputSize) {
    g_DebugLog.Print("WAV path too long, not saved");
  } else {
    if (RegSetValueExA(key, kOutputValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(output.c_str()),
                       static_cast<DWORD>(output.size() + 1)) != ERROR_SUCCESS)
      g_DebugLog.Print("WAV path not saved");
    g_DebugLog.Print("WAV path: %s", output.c_str());
  }
  LogRegistryNote();

  g_DebugLog.IndentDown();
  RegCloseKey(key);
}
