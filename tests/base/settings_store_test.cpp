#include "base/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/debug_log.h"
#include "base/process_state.h"
#include "platform/registry/registry.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;

constexpr const char* kKey = "Software\\Orvande\\Halvane";

// The log with each "hKey: 0x<hex>" handle value replaced by "#" (or "0" for a null one),
// so its bytes can be compared whole.
std::string MaskHandles(std::string log) {
  const std::string label = "hKey: 0x";
  for (std::size_t at = log.find(label); at != std::string::npos; at = log.find(label, at + 1)) {
    const std::size_t start = at + label.size();
    std::size_t end = start;
    while (end < log.size() && std::isxdigit(static_cast<unsigned char>(log[end]))) ++end;
    if (end == start) continue;
    const bool null = log.substr(start, end - start).find_first_not_of('0') == std::string::npos;
    log.replace(start, end - start, null ? "0" : "#");
  }
  return log;
}

// Every test starts as a fresh process would: zero-filled variables, an empty
// registry and an empty log.
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AllocateProcessBuffers();
    std::memset(g_szOutputDir, 0, kTextBufferSize);
    g_bSameDirectory = 0;
    ::setenv("XDG_CONFIG_HOME", m_dir.File("config").c_str(), 1);
    g_DebugLog.CreateLogFile(m_dir.File("log.txt").c_str());
  }

  std::string Log() const { return ReadFileBytes(m_dir.File("log.txt")); }
  void ClearLog() const { g_DebugLog.CreateLogFile(m_dir.File("log.txt").c_str()); }

  static void SetOutputDir(const std::string& text) {
    std::memset(g_szOutputDir, 0, kTextBufferSize);
    std::memcpy(g_szOutputDir, text.data(), text.size());
  }

  // The stored "[Output]" as (type, bytes); type 0 when absent.
  static std::pair<DWORD, std::string> StoredOutput() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {0, "no key"};
    std::string data(4096, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    DWORD type = 0;
    const LONG result = RegQueryValueExA(key, "[Output]", nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return {0, "error " + std::to_string(result)};
    data.resize(size);
    return {type, data};
  }

  TempDir m_dir;
};

TEST_F(SettingsStoreTest, FirstStartCreatesTheKeyAndLogsTheDefaults) {
  LoadRegistry();
  EXPECT_EQ(MaskHandles(Log()),
            "Load Registry\r\n"
            "    hKey: 0x#\r\n"
            "    Same Directory: false\r\n"
            "    WAV path: ");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
  EXPECT_EQ(g_szOutputDir[0], '\0');
  EXPECT_EQ(g_bSameDirectory, 0);

  // The key exists now, with the class text it was created with, and no values yet.
  HKEY parent = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Orvande", 0, KEY_READ, &parent), ERROR_SUCCESS);
  char name[64];
  DWORD nameSize = sizeof name;
  char className[64];
  DWORD classSize = sizeof className;
  ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &nameSize, nullptr, className, &classSize, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "Halvane");
  EXPECT_STREQ(className, "REG_SZ");
  RegCloseKey(parent);
  EXPECT_EQ(StoredOutput().second, "error " + std::to_string(ERROR_FILE_NOT_FOUND));

  // Saving writes both values.
  ClearLog();
  SetOutputDir("/opt/halvane/wav");
  SaveRegistry();
  EXPECT_EQ(MaskHandles(Log()),
            "Save Registry\r\n"
            "    hKey: 0x#\r\n"
            "    Same Directory: false\r\n"
            "    WAV path: /opt/halvane/wav");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
  EXPECT_EQ(StoredOutput(), std::make_pair(REG_SZ, std::string("/opt/halvane/wav", 17)));
}

TEST_F(SettingsStoreTest, SavedValuesLoadBackExactly) {
  const std::string folder = "/home/user/music/out";  // 20 characters
  ASSERT_EQ(folder.size(), 20u);
  SetOutputDir(folder);
  g_bSameDirectory = 1;
  SaveRegistry();

  // The next start: the buffer holds other text first, the flag is clear.
  std::memset(g_szOutputDir, 'Z', 100);
  g_bSameDirectory = 0;
  ClearLog();
  LoadRegistry();
  EXPECT_STREQ(g_szOutputDir, folder.c_str());
  EXPECT_EQ(g_bSameDirectory, 1);
  EXPECT_NE(Log().find("\r\n    Same Directory: true\r\n    WAV path: /home/user/music/out"), std::string::npos)
      << Log();
}

TEST_F(SettingsStoreTest, SameDirectoryStoredByHandLoadsAsSet) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "REG_SZ", 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  const DWORD one = 1;
  ASSERT_EQ(RegSetValueExA(key, "[Same Directory]", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);
  LoadRegistry();
  EXPECT_EQ(g_bSameDirectory, 1);
  EXPECT_NE(Log().find("    Same Directory: true\r\n"), std::string::npos) << Log();
}

TEST_F(SettingsStoreTest, FolderOf1024CharactersIsRefusedAnd1023IsSaved) {
  SetOutputDir("/kept");
  SaveRegistry();

  const std::string tooLong = "/" + std::string(1023, 'a');
  SetOutputDir(tooLong);
  ClearLog();
  SaveRegistry();
  EXPECT_NE(Log().find("    WAV path too long, not saved"), std::string::npos) << Log().substr(0, 200);
  EXPECT_EQ(StoredOutput(), std::make_pair(REG_SZ, std::string("/kept", 6)));

  const std::string longest = "/" + std::string(1022, 'b');
  SetOutputDir(longest);
  SaveRegistry();
  EXPECT_EQ(StoredOutput(), std::make_pair(REG_SZ, longest + '\0'));
  SetOutputDir("");
  LoadRegistry();
  EXPECT_EQ(std::string(g_szOutputDir), longest);
}

TEST_F(SettingsStoreTest, OverlongStoredFolderIsNotLoaded) {
  // Another program stored a folder longer than a stored folder can be.
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "REG_SZ", 0, KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
  const std::string huge(3000, 'h');
  ASSERT_EQ(RegSetValueExA(key, "[Output]", 0, REG_SZ, reinterpret_cast<const BYTE*>(huge.c_str()), 3001),
            ERROR_SUCCESS);
  RegCloseKey(key);
  LoadRegistry();
  EXPECT_EQ(g_szOutputDir[0], '\0');
  EXPECT_NE(Log().find("    WAV path too long, not loaded\r\n"), std::string::npos) << Log().substr(0, 200);
}

TEST_F(SettingsStoreTest, KeyThatCannotBeOpenedIsReportedAndSkipped) {
  testing_support::WriteFileBytes(m_dir.File("plain"), "x");
  ::setenv("XDG_CONFIG_HOME", (m_dir.File("plain") + "/config").c_str(), 1);
  SetOutputDir("/somewhere");
  LoadRegistry();
  SaveRegistry();
  const std::string error = std::to_string(ERROR_PATH_NOT_FOUND);  // no folder can be made there
  EXPECT_EQ(MaskHandles(Log()),
            "Load Registry\r\n"
            "    hKey: 0x0\r\n"
            "    Can't open the registry key, error " +
                error +
                "\r\n"
                "    Same Directory: false\r\n"
                "    WAV path: /somewhere\r\n"
                "Save Registry\r\n"
                "    hKey: 0x0\r\n"
                "    Can't open the registry key, error " +
                error +
                "\r\n"
                "    Settings not saved");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(SettingsStoreTest, AFifoInPlaceOfTheFileStartsOnDefaultsAndIsSetAside) {
  const std::filesystem::path folder = m_dir.Path() / "config" / "halvane";
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "registry.ini").string();
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  SetOutputDir("/left/over");
  // In a child that a blocked open cannot keep: it has a few seconds.
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(5);
    LoadRegistry();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the load did not end by itself";
  EXPECT_EQ(MaskHandles(Log()),
            "Load Registry\r\n"
            "    hKey: 0x#\r\n"
            "    Registry file " +
                file + " not used (it is not a regular file); kept as " + file +
                ".bad\r\n"
                "    Same Directory: false\r\n"
                "    WAV path: /left/over");
}

}  // namespace
