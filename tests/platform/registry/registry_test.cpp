#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/error_text.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// Runs body in a child process that is killed after a few seconds; its exit code
// (-1 when it did not end by itself), so that a call that would block for good fails
// the test instead of hanging it.
int InChild(const std::function<int()>& body) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(5);
    ::_exit(body());
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Each test gets its own configuration folder.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_CONFIG_HOME", m_config.Path().c_str(), 1); }

  HKEY Create(const char* path, REGSAM access = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, "REG_SZ", 0, access, nullptr, &key, disposition),
              ERROR_SUCCESS);
    return key;
  }

  static void SetText(HKEY key, const char* name, const char* text) {
    ASSERT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(std::strlen(text) + 1)),
              ERROR_SUCCESS);
  }

  static std::string QueryText(HKEY key, const char* name) {
    char text[256] = {};
    DWORD size = sizeof text;
    DWORD type = 0;
    const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (result != ERROR_SUCCESS) return "error " + std::to_string(result);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, std::strlen(text) + 1);
    return text;
  }

  std::string FileText() const { return ReadFileBytes(platform::RegistryFilePath()); }

  TempDir m_config;
};

TEST_F(RegistryTest, CreateOpensExistingKeyAndValuesSurviveReopen) {
  DWORD disposition = 0;
  HKEY key = Create("Software\\Orvande\\Halvane", KEY_ALL_ACCESS, &disposition);
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  SetText(key, "[Output]", "/home/user/wav");
  const DWORD flag = 1;
  ASSERT_EQ(RegSetValueExA(key, "[Same Directory]", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flag), 4),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);

  // Paths and names are case-insensitive; doubled separators do not matter.
  HKEY again = Create("SOFTWARE\\\\orvande\\HALVANE", KEY_READ, &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(QueryText(again, "[OUTPUT]"), "/home/user/wav");
  DWORD read = 0;
  DWORD size = sizeof read;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(again, "[same directory]", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(read, 1u);
  EXPECT_EQ(QueryText(again, "absent"), "error " + std::to_string(ERROR_FILE_NOT_FOUND));
  RegCloseKey(again);

  // The file is readable text, sections named after the full key path.
  const std::string text = FileText();
  EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Orvande\\Halvane]\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"[Same Directory]\"=dword:00000001\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"[Output]\"=sz:\"/home/user/wav\"\n"), std::string::npos) << text;

  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, KEY_READ, &missing), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  // Another root is a separate tree in the same file.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Software\\Orvande\\Halvane", 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, AwkwardTextsAndTypesReadBackExactly) {
  HKEY key = Create("Software\\Test");
  const std::string awkward = "quote \" backslash \\ tab\t newline\n cr\r bell\x07 utf8 \xc3\xa9 ] [x]=sz:";
  SetText(key, "name with \"quotes\" and \\", awkward.c_str());
  const unsigned char blob[] = {0x00, 0xff, 0x10, 0x0a};
  ASSERT_EQ(RegSetValueExA(key, "blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, "empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
  const char padded[8] = "ab\0zzzz";  // bytes after the first NUL are not part of the text
  ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(padded), 8), ERROR_SUCCESS);
  const char odd[] = {'a', 0, 0};
  ASSERT_EQ(RegSetValueExA(key, "multi", 0, 7, reinterpret_cast<const BYTE*>(odd), sizeof odd), ERROR_SUCCESS);
  RegCloseKey(key);

  key = Create("Software\\Test", KEY_READ);
  char text[256];
  DWORD size = sizeof text;
  DWORD type = 0;
  ASSERT_EQ(RegQueryValueExA(key, "NAME WITH \"QUOTES\" AND \\", nullptr, &type, reinterpret_cast<BYTE*>(text), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(text, size), awkward + '\0');

  unsigned char bytes[16];
  size = sizeof bytes;
  ASSERT_EQ(RegQueryValueExA(key, "blob", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), size), std::string(reinterpret_cast<const char*>(blob), 4));
  size = sizeof bytes;
  ASSERT_EQ(RegQueryValueExA(key, "empty", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 0u);

  // The stored size is kept: the text, then NUL filler up to it.
  size = sizeof text;
  ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(text, size), std::string("ab\0\0\0\0\0\0", 8));

  size = sizeof bytes;
  ASSERT_EQ(RegQueryValueExA(key, "multi", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), size), std::string(odd, 3));
  RegCloseKey(key);
}

TEST_F(RegistryTest, SmallBufferGivesMoreDataAndTheNeededSize) {
  HKEY key = Create("Software\\Test");
  SetText(key, "path", "0123456789");  // 11 bytes with its NUL

  char text[11];
  DWORD size = 10;
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExA(key, "path", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 11u);
  size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "path", nullptr, &type, nullptr, &size), ERROR_SUCCESS);  // size only
  EXPECT_EQ(size, 11u);
  EXPECT_EQ(type, REG_SZ);
  size = 11;
  EXPECT_EQ(RegQueryValueExA(key, "path", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_STREQ(text, "0123456789");
  EXPECT_EQ(RegQueryValueExA(key, "path", nullptr, nullptr, reinterpret_cast<BYTE*>(text), nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

TEST_F(RegistryTest, AccessRightsOfTheHandleAreEnforced) {
  HKEY writer = Create("Software\\Test");
  SetText(writer, "kept", "old");
  RegCloseKey(writer);

  HKEY reader = Create("Software\\Test", KEY_READ);
  const char text[] = "new";
  EXPECT_EQ(RegSetValueExA(reader, "kept", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 4), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(reader, "kept"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(QueryText(reader, "kept"), "old");
  RegCloseKey(reader);

  HKEY writeOnly = Create("Software\\Test", KEY_WRITE);
  EXPECT_EQ(QueryText(writeOnly, "kept"), "error " + std::to_string(ERROR_ACCESS_DENIED));
  RegCloseKey(writeOnly);
  EXPECT_EQ(RegSetValueExA(reinterpret_cast<HKEY>(0x12345), "x", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 4),
            ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, SubKeysEnumerateInOrderAndDeleteOnlyWhenEmpty) {
  RegCloseKey(Create("Software\\Classes\\CLSID\\{A}"));
  RegCloseKey(Create("Software\\Classes\\CLSID\\{B}\\InprocServer32"));
  RegCloseKey(Create("Software\\Classes\\CLSID\\{C}"));
  RegCloseKey(Create("Software\\Classes\\CLSIDX"));  // a name that starts like the parent

  HKEY clsid = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID", 0, KEY_READ, &clsid), ERROR_SUCCESS);
  std::vector<std::string> names;
  char name[64];
  char className[64];
  for (DWORD index = 0;; ++index) {
    DWORD size = sizeof name;
    DWORD classSize = sizeof className;
    const LONG result = RegEnumKeyExA(clsid, index, name, &size, nullptr, className, &classSize, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, ERROR_SUCCESS);
    EXPECT_EQ(size, std::strlen(name));
    EXPECT_STREQ(className, "REG_SZ");
    names.push_back(name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"{A}", "{B}", "{C}"}));
  DWORD small = 3;
  EXPECT_EQ(RegEnumKeyExA(clsid, 0, name, &small), ERROR_MORE_DATA);
  EXPECT_EQ(small, 4u);

  EXPECT_EQ(RegDeleteKeyA(clsid, "{B}"), ERROR_ACCESS_DENIED);  // it has a sub-key
  EXPECT_EQ(RegDeleteKeyA(clsid, "{b}\\inprocserver32"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(clsid, "{B}"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(clsid, "{B}"), ERROR_FILE_NOT_FOUND);
  DWORD size = sizeof name;
  ASSERT_EQ(RegEnumKeyExA(clsid, 1, name, &size), ERROR_SUCCESS);
  EXPECT_STREQ(name, "{C}");

  EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID"), ERROR_SUCCESS);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSID\\{A}", 0, KEY_READ, &gone),
            ERROR_FILE_NOT_FOUND);
  // The handle to the deleted key no longer reaches anything.
  size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(clsid, 0, name, &size), ERROR_KEY_DELETED);
  RegCloseKey(clsid);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Classes\\CLSIDX", 0, KEY_READ, &gone), ERROR_SUCCESS);
  RegCloseKey(gone);

  HKEY key = Create("Software\\Test");
  SetText(key, "a", "1");
  EXPECT_EQ(RegDeleteValueA(key, "A"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "a"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(QueryText(key, "a"), "error " + std::to_string(ERROR_FILE_NOT_FOUND));
  RegCloseKey(key);
}

TEST_F(RegistryTest, OtherProcessesSeeWritesAndNoChangeIsLost) {
  HKEY key = Create("Software\\Shared");
  SetText(key, "from parent", "before");

  // A child writes through its own handle; this process's open handle sees it at once.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HKEY own = nullptr;
    bool ok = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, KEY_ALL_ACCESS, &own) == ERROR_SUCCESS;
    const char text[] = "from the child";
    ok = ok && RegSetValueExA(own, "from child", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text) ==
                   ERROR_SUCCESS;
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(QueryText(key, "from child"), "from the child");
  EXPECT_EQ(QueryText(key, "from parent"), "before");

  // Several processes writing different values at once: every value arrives.
  constexpr int kWriters = 4;
  constexpr int kValuesEach = 25;
  std::vector<pid_t> writers;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int i = 0; i < kValuesEach; ++i) {
        const DWORD value = static_cast<DWORD>(w * 1000 + i);
        const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
        ok = ok &&
             RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4) == ERROR_SUCCESS;
      }
      ::_exit(ok ? 0 : 1);
    }
    writers.push_back(pid);
  }
  for (const pid_t pid : writers) {
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kValuesEach; ++i) {
      DWORD value = 0;
      DWORD size = 4;
      const std::string name = "w" + std::to_string(w) + "_" + std::to_string(i);
      ASSERT_EQ(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
                ERROR_SUCCESS)
          << name;
      EXPECT_EQ(value, static_cast<DWORD>(w * 1000 + i));
    }
  }
  RegCloseKey(key);

  // Each write replaced the file whole: no temporary files are left beside it.
  for (const auto& entry : std::filesystem::directory_iterator(m_config.Path() / "halvane")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.ini" || name == "registry.lock") << name;
  }
}

TEST_F(RegistryTest, FailedWriteLeavesTheFileAsItWas) {
  HKEY key = Create("Software\\Test");
  SetText(key, "kept", "old");
  const std::string before = FileText();

  // A child whose file size limit stops the new file half-way: its write fails, and
  // the file is whole and unchanged.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{before.size() + 16, before.size() + 16};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const std::string big(4000, 'x');
    const LONG result = RegSetValueExA(key, "kept", 0, REG_SZ, reinterpret_cast<const BYTE*>(big.c_str()),
                                       static_cast<DWORD>(big.size() + 1));
    ::_exit(result == ERROR_SUCCESS ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the cut write was reported as done";
  EXPECT_EQ(FileText(), before);
  EXPECT_EQ(QueryText(key, "kept"), "old");
  for (const auto& entry : std::filesystem::directory_iterator(m_config.Path() / "halvane")) {
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry.ini" || name == "registry.lock") << name;
  }

  if (::geteuid() != 0) {  // permissions do not bind root
    const std::filesystem::path folder = m_config.Path() / "halvane";
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    const char text[] = "new";
    EXPECT_EQ(RegSetValueExA(key, "kept", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 4), ERROR_ACCESS_DENIED);
    EXPECT_EQ(FileText(), before);
    HKEY created = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, "REG_SZ", 0, KEY_WRITE, nullptr, &created, nullptr),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(created, nullptr);
    // An existing key still opens, also for writing: nothing has to be written for that.
    HKEY existing = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, "REG_SZ", 0, KEY_WRITE, nullptr, &existing, nullptr),
        ERROR_SUCCESS);
    RegCloseKey(existing);
    ::chmod(folder.c_str(), 0700);
  }
  RegCloseKey(key);
}

TEST_F(RegistryTest, UnusableConfigFolderFailsCreateWithoutHandle) {
  // The configuration folder's place is taken by a plain file.
  testing_support::WriteFileBytes(m_config.Path() / "file", "x");
  ::setenv("XDG_CONFIG_HOME", (m_config.Path() / "file" / "config").c_str(), 1);
  HKEY created = reinterpret_cast<HKEY>(1);
  EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Orvande\\Halvane", 0, "REG_SZ", 0, KEY_READ, nullptr,
                            &created, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(created, nullptr);
}

TEST_F(RegistryTest, HandEditedFileIsReadAndBadLinesAreSkipped) {
  std::filesystem::create_directories(m_config.Path() / "halvane");
  testing_support::WriteFileBytes(platform::RegistryFilePath(),
                                  "; comment\r\n"
                                  "\"orphan\"=dword:00000001\r\n"
                                  "[HKEY_CURRENT_USER\\Software\\Edited\\Deep]\r\n"
                                  "\"good\"=dword:0000002a\r\n"
                                  "\"bad number\"=dword:zz\r\n"
                                  "\"unclosed=sz:\"x\r\n"
                                  "garbage line\r\n"
                                  "\"text\"=sz(6):\"abc\"\r\n");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Edited\\Deep", 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD value = 0;
  DWORD size = 4;
  ASSERT_EQ(RegQueryValueExA(key, "good", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(RegQueryValueExA(key, "bad number", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
  char text[16];
  size = sizeof text;
  ASSERT_EQ(RegQueryValueExA(key, "text", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(text, size), std::string("abc\0\0\0", 6));
  RegCloseKey(key);
  // The parent the file left out exists.
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Edited", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(RegistryTest, WhatIsNotUnderstoodSurvivesASaveInItsPlace) {
  std::filesystem::create_directories(m_config.Path() / "halvane");
  const std::string head =
      "; my settings, edited by hand\r\n"
      "[HKEY_CURRENT_USER]\r\n"
      "[HKEY_CURRENT_USER\\Software]\r\n"
      "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
      "# keep this\r\n"
      "\"future\"=qword:0000000000000001\r\n"
      "\"twice\"=dword:00000001\r\n"
      "\"twice\"=dword:00000002\r\n"
      "garbage line\r\n";
  WriteFileBytes(platform::RegistryFilePath(), head +
                                                   "\"changed\"=dword:00000003\r\n"
                                                   "\r\n"
                                                   "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                                                   "\"deleted\"=dword:00000004\r\n"
                                                   "; last comment");
  HKEY key = Create("Software\\Test");
  DWORD value = 0;
  DWORD size = 4;
  ASSERT_EQ(RegQueryValueExA(key, "twice", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);  // the last line of a name counts
  value = 5;
  ASSERT_EQ(RegSetValueExA(key, "changed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
  value = 6;
  ASSERT_EQ(RegSetValueExA(key, "new", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4), ERROR_SUCCESS);
  RegCloseKey(key);
  key = Create("Software\\Other");
  ASSERT_EQ(RegDeleteValueA(key, "deleted"), ERROR_SUCCESS);
  RegCloseKey(key);

  EXPECT_EQ(FileText(), head +
                            "\"changed\"=dword:00000005\n"
                            "\"new\"=dword:00000006\n"
                            "\r\n"
                            "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
                            "; last comment\n");
}

TEST_F(RegistryTest, DeclaredSizesAreBoundedByWhatAFileMayHold) {
  std::filesystem::create_directories(m_config.Path() / "halvane");
  const std::string section = "[HKEY_CURRENT_USER\\Software\\Test]\n";
  const std::string huge = "\"a\"=sz(4294967295):\"x\"\n\"b\"=sz(4294967295):\"y\"\n";
  const std::string budget = "\"c\"=sz(3000000):\"z\"\n\"d\"=sz(3000000):\"w\"\n\"short\"=sz(2):\"too long\"\n";
  WriteFileBytes(platform::RegistryFilePath(), section + huge + budget + "\"e\"=dword:00000007\n");

  HKEY key = Create("Software\\Test");
  DWORD size = 0;
  for (const char* unread : {"a", "b", "d", "short"})
    EXPECT_EQ(RegQueryValueExA(key, unread, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND) << unread;
  ASSERT_EQ(RegQueryValueExA(key, "c", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 3000000u);
  EXPECT_EQ(RegQueryValueExA(key, "e", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  // Nothing may be stored that no file could hold.
  EXPECT_EQ(RegSetValueExA(key, "big", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 5u << 20),
            ERROR_INVALID_PARAMETER);
  SetText(key, "f", "saved");
  RegCloseKey(key);
  EXPECT_NE(FileText().find(huge + budget), std::string::npos) << "lines not understood are kept";
}

TEST_F(RegistryTest, UnusableFileCountsAsEmptyAndIsSetAsideOnTheFirstChange) {
  const std::filesystem::path folder = m_config.Path() / "halvane";
  const std::string path = platform::RegistryFilePath();
  const std::string aside = path + ".bad";
  const std::function<void()> makers[] = {
      [&] { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
      [&] { std::filesystem::create_symlink("/dev/zero", path); },
      [&] { std::filesystem::create_directory(path); },
      [&] { WriteFileBytes(path, "[HKEY_CURRENT_USER\\Software\\Test]\n" + std::string(5 << 20, ';')); },
  };
  for (std::size_t i = 0; i < std::size(makers); ++i) {
    SCOPED_TRACE(i);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    makers[i]();
    struct stat before {};
    ASSERT_EQ(::lstat(path.c_str(), &before), 0);

    const int code = InChild([&] {
      HKEY key = nullptr;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, KEY_READ, &key) != ERROR_FILE_NOT_FOUND) return 1;
      if (platform::TakeErrorText().find("Registry file " + path + " not used: ") != 0) return 2;
      if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, "REG_SZ", 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return 3;
      const std::string note = platform::TakeErrorText();
      if (note.find("kept as " + aside) == std::string::npos) return 4;
      return RegSetValueExA(key, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("1"), 2) == ERROR_SUCCESS ? 0 : 5;
    });
    ASSERT_EQ(code, 0);
    struct stat kept {};
    ASSERT_EQ(::lstat(aside.c_str(), &kept), 0);
    EXPECT_EQ(kept.st_ino, before.st_ino);
    EXPECT_NE(FileText().find("\"x\"=sz:\"1\""), std::string::npos);
  }
}

TEST_F(RegistryTest, ALinkedFileIsWrittenThroughOrLeftAsItIs) {
  const std::filesystem::path folder = m_config.Path() / "halvane";
  std::filesystem::create_directories(folder);
  const std::filesystem::path target = m_config.Path() / "dotfiles" / "halvane.ini";
  std::filesystem::create_directories(target.parent_path());
  WriteFileBytes(target, "; mine\n");
  std::filesystem::create_symlink("../dotfiles/halvane.ini", platform::RegistryFilePath());
  RegCloseKey(Create("Software\\Test"));
  EXPECT_TRUE(std::filesystem::is_symlink(platform::RegistryFilePath()));
  EXPECT_EQ(ReadFileBytes(target).find("; mine\n\n[HKEY_CURRENT_USER]\n"), 0u) << ReadFileBytes(target);

  // A target that cannot be written: the change fails, says why, and the link stays.
  std::filesystem::remove(platform::RegistryFilePath());
  std::filesystem::create_symlink(m_config.Path() / "gone" / "halvane.ini", platform::RegistryFilePath());
  platform::TakeErrorText();
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Test", 0, "REG_SZ", 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_NE(platform::TakeErrorText().find("is a link whose target " + (m_config.Path() / "gone").string()),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::is_symlink(platform::RegistryFilePath()));
}

}  // namespace
