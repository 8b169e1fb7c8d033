// The web page launcher: the registered browser command cut to its executable, and the
// desktop's opener when no command names one; programs are caught by the test hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "ui/web_launcher.h"

namespace {

struct Started {
  std::string program;
  std::vector<std::string> arguments;
};

class WebLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::SetBrowserStarterForTesting([this](const std::string& program, const std::vector<std::string>& arguments) {
      started_.push_back({program, arguments});
    });
  }
  void TearDown() override {
    ui::SetBrowserStarterForTesting(nullptr);
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "http");
  }

  static void RegisterCommand(const std::string& command) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                             static_cast<DWORD>(command.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // Opens address with command registered (or none) and answers what was started.
  std::vector<Started> Open(const char* command, const char* address) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "http");
    if (command != nullptr) RegisterCommand(command);
    started_.clear();
    OpenInBrowser(address);
    return started_;
  }

  std::vector<Started> started_;
};

TEST_F(WebLauncherTest, RegisteredCommandIsCutAfterItsLastExeAndGetsTheAddressWhole) {
  const struct {
    const char* command;
    const char* executable;
  } cases[] = {
      {"\"C:\\Program Files\\Internet Explorer\\iexplore.exe\" -nohome",
       "C:\\Program Files\\Internet Explorer\\iexplore.exe"},
      {"C:\\Browser\\browser.exe %1", "C:\\Browser\\browser.exe"},
      {"\"C:\\BROWSER\\BROWSER.EXE\" \"%1\"", "C:\\BROWSER\\BROWSER.EXE"},
      {"/opt/web.exe/bin/browser.exe --new-window %1", "/opt/web.exe/bin/browser.exe"},
      {"\".exe", ".exe"},  // the quote skipped, the executable starts the command
  };
  for (const auto& c : cases) {
    const std::vector<Started> started = Open(c.command, "http://example.org/a page?x=1 2");
    ASSERT_EQ(started.size(), 1u) << c.command;
    EXPECT_EQ(started[0].program, c.executable) << c.command;
    EXPECT_EQ(started[0].arguments, std::vector<std::string>{"http://example.org/a page?x=1 2"}) << c.command;
  }
}

TEST_F(WebLauncherTest, WithoutAnExecutableRegisteredTheDesktopOpenerGetsTheAddressAsOneArgument) {
  const std::string overLong = "\"C:\\" + std::string(5000, 'b') + "\\browser.exe\" %1";
  const char* commands[] = {
      nullptr,                        // no key at all
      "",                             // an empty command
      "exe",                          // shorter than four characters
      "\"ex",                         // shorter than four after the quote
      "/usr/bin/firefox %u",          // no ".exe" at all
      "C:\\Browser\\browser.Exe %1",  // only the two spellings count
      overLong.c_str(),               // longer than the command buffer
  };
  for (const char* command : commands) {
    const std::vector<Started> started = Open(command, "/home/user/My Pages/index.html");
    const std::string shown = command == nullptr ? "(no key)" : std::string(command).substr(0, 40);
    ASSERT_EQ(started.size(), 1u) << shown;
    EXPECT_EQ(started[0].program, "xdg-open") << shown;
    EXPECT_EQ(started[0].arguments, std::vector<std::string>{"/home/user/My Pages/index.html"}) << shown;
  }
}

}  // namespace
