// Start-up and shutdown of the real program: the single-instance rule, the log's
// banner and end line, and the exit code, with the program copied into a folder of
// its own so that its log.txt lands there.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "platform/instance/single_instance.h"
#include "tests/support/log_lines.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

using testing_support::WaitForExit;

pid_t Start(const fs::path& program, std::vector<std::string> args = {}) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return testing_support::StartProcess(program.string(), std::move(args));
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

class StartupTest : public ::testing::Test {
 protected:
  // The copy lies beside the built program: the capture component loads only from
  // folders up to / that no other user can write, which the temporary folder is not.
  void SetUp() override {
    std::string pattern = (fs::path(HALVANE_PROGRAM).parent_path() / "test-program-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    program_ = folder_ / "halvane";
    fs::copy_file(HALVANE_PROGRAM, program_);
    // The capture component and its registration program live beside the program.
    const fs::path built = fs::path(HALVANE_PROGRAM).parent_path();
    for (const char* name : {"OVDMOFilter.so", "halvane-regsvr"}) fs::copy_file(built / name, folder_ / name);
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::string Log() const { return ReadFileBytes(folder_ / "log.txt"); }

  fs::path folder_;
  fs::path program_;
};

TEST_F(StartupTest, FirstInstanceLogsTheBannerSecondLeavesItAloneAndCloseEndsWithZero) {
  WriteFileBytes(folder_ / "log.txt", "left over from the last run\r\nmore");
  const pid_t first = Start(program_);
  ASSERT_GT(first, 0);
  // Running: the settings are loaded and the message listener is up.
  const bool running = WaitUntil(
      [&] {
        return Log().find("Load Registry") != std::string::npos &&
               fs::exists(platform::InstanceSocketPath("halvane - mutex"));
      },
      std::chrono::seconds(20));
  if (!running) {
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    FAIL() << "the first instance did not come up; log:\n" << Log();
  }
  // Let the window finish opening (the capture effect found, after registering it
  // first when it was missing), then take the log as the first instance left it.
  const auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string log = Log();
        return count(log, "\r\nFindFilter") >= (log.find("DMO filter not installed") == std::string::npos ? 1u : 2u);
      },
      std::chrono::seconds(20)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string before = Log();

  const std::vector<std::string> lines = testing_support::SplitLogLines(before);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Start Halvane");  // the old contents are gone
  ASSERT_EQ(lines[1].rfind("msgMutex = 0x", 0), 0u) << lines[1];
  const unsigned long message = std::strtoul(lines[1].c_str() + 13, nullptr, 16);
  EXPECT_EQ(message, RegisterWindowMessageA("open halvane"));
  EXPECT_EQ(lines[2].rfind("hMutex = 0x", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("Heap = 0x", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4], "Full Path Name = " + folder_.string());
  EXPECT_EQ(lines[5], "Current Directory = " + folder_.string());

  // Stray messages on the instance socket (a close, a destroy) never reach the window.
  EXPECT_EQ(BroadcastRegisteredMessage(0x10, "halvane - mutex"), TRUE);
  EXPECT_EQ(BroadcastRegisteredMessage(0x2, "halvane - mutex"), TRUE);

  // A second start signals the first and leaves at once, touching nothing.
  const pid_t second = Start(program_);
  ASSERT_GT(second, 0);
  EXPECT_EQ(WaitForExit(second, std::chrono::seconds(20)), std::optional<int>(0));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Log(), before);

  // A termination request closes the window the way the close box does.
  ASSERT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(first, std::chrono::seconds(20)), std::optional<int>(0));
  const std::string after = Log();
  ASSERT_EQ(after.rfind(before, 0), 0u);
  const std::string tail = after.substr(before.size());
  EXPECT_NE(tail.find("\r\nMessage: CLOSE\r\n"), std::string::npos) << tail;
  EXPECT_NE(tail.find("\r\nMessage: DESTROY\r\n"), std::string::npos) << tail;
  EXPECT_NE(tail.find("\r\nSave Registry"), std::string::npos) << tail;
  ASSERT_GE(after.size(), 14u);
  EXPECT_EQ(after.substr(after.size() - 14), "\r\nEnd Halvane\n");
}

TEST_F(StartupTest, AfterTheFirstInstanceEndsTheNextStartRunsNormally) {
  const pid_t first = Start(program_);
  ASSERT_GT(first, 0);
  ASSERT_TRUE(
      WaitUntil([&] { return fs::exists(platform::InstanceSocketPath("halvane - mutex")); }, std::chrono::seconds(20)));
  ::kill(first, SIGTERM);
  ASSERT_EQ(WaitForExit(first, std::chrono::seconds(20)), std::optional<int>(0));

  fs::remove(folder_ / "log.txt");
  const pid_t next = Start(program_);
  ASSERT_GT(next, 0);
  const bool running =
      WaitUntil([&] { return Log().find("Load Registry") != std::string::npos; }, std::chrono::seconds(20));
  ::kill(next, SIGTERM);
  EXPECT_EQ(WaitForExit(next, std::chrono::seconds(20)), std::optional<int>(0));
  EXPECT_TRUE(running);
  EXPECT_EQ(Log().rfind("Start Halvane\r\n", 0), 0u);
}

TEST_F(StartupTest, FilesNamedAtStartAreListedAndASecondStartHandsItsFilesToTheRunningWindow) {
  WriteFileBytes(folder_ / "first.mid", "MThd");
  fs::create_directories(folder_ / "more" / "deeper");
  WriteFileBytes(folder_ / "more" / "deeper" / "B.KAR", "MThd");
  WriteFileBytes(folder_ / "more" / "a.Mid", "MThd");
  WriteFileBytes(folder_ / "more" / "notes.txt", "");
  const pid_t first = Start(program_, {(folder_ / "first.mid").string()});
  ASSERT_GT(first, 0);
  const bool listed =
      WaitUntil([&] { return Log().find("    file: first.mid") != std::string::npos; }, std::chrono::seconds(20));
  const pid_t second = Start(program_, {"--", (folder_ / "more").string()});
  EXPECT_EQ(WaitForExit(second, std::chrono::seconds(20)), std::optional<int>(0));
  const bool handed =
      WaitUntil([&] { return Log().find("    file: B.KAR") != std::string::npos; }, std::chrono::seconds(20));
  ::kill(first, SIGTERM);
  EXPECT_EQ(WaitForExit(first, std::chrono::seconds(20)), std::optional<int>(0));
  EXPECT_TRUE(listed) << Log();
  EXPECT_TRUE(handed) << Log();
  // The folder's MIDI files, sorted by path, and nothing else.
  const std::string log = Log();
  EXPECT_LT(log.find("    file: a.Mid"), log.find("    file: B.KAR"));
  EXPECT_EQ(log.find("notes.txt"), std::string::npos);
}

TEST_F(StartupTest, ASecondStartHandsOverMoreFilesThanOneMessageHoldsAndSaysWhenNobodyTakesThem) {
  // Some 1.3 MB of paths: more than one message to the running window holds.
  std::vector<std::string> files;
  fs::create_directories(folder_ / "many");
  for (int i = 0; i < 5000; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d", i);
    files.push_back((folder_ / "many" / (std::string(name) + std::string(240, 'n') + ".mid")).string());
    WriteFileBytes(files.back(), "MThd");
  }
  const pid_t first = Start(program_);
  ASSERT_GT(first, 0);
  const bool running =
      WaitUntil([&] { return Log().find("Load Registry") != std::string::npos; }, std::chrono::seconds(20));
  std::vector<std::string> args = {"--"};
  args.insert(args.end(), files.begin(), files.end());
  const pid_t second = Start(program_, args);
  EXPECT_EQ(WaitForExit(second, std::chrono::seconds(60)), std::optional<int>(0));
  const auto listed = [&](const std::string& path) { return "\r\n    file: " + fs::path(path).filename().string(); };
  const bool handed =
      WaitUntil([&] { return Log().find(listed(files.back())) != std::string::npos; }, std::chrono::seconds(60));
  ::kill(first, SIGTERM);
  EXPECT_EQ(WaitForExit(first, std::chrono::seconds(20)), std::optional<int>(0));
  EXPECT_TRUE(running);
  EXPECT_TRUE(handed);
  // Listed whole and in the order given, though the messages came while the window
  // was busy listing.
  std::vector<std::string> names;
  for (const std::string& line : testing_support::SplitLogLines(Log()))
    if (line.rfind("    file: ", 0) == 0) names.push_back(line.substr(10));
  ASSERT_EQ(names.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) ASSERT_EQ(names[i], fs::path(files[i]).filename().string()) << i;

  // The lock is held but nobody listens: the second start says so and fails.
  ASSERT_NE(CreateMutexA(nullptr, TRUE, "halvane - mutex"), nullptr);
  const fs::path out = folder_ / "second";
  fs::create_directories(out);
  const pid_t lost = testing_support::StartProcess(program_.string(), {files.front()}, out);
  EXPECT_EQ(WaitForExit(lost, std::chrono::seconds(30)), std::optional<int>(1));
  EXPECT_EQ(ReadFileBytes(out / "stderr"),
            "halvane: the running Halvane cannot be reached; 1 of 1 file(s) not handed to it\n");
}

TEST(CutAtLastSlash, KeepsTheFolderWithoutItsSlashAndGivesTheEmptyFolderAtTheRoot) {
  char nested[] = "/opt/halvane/halvane";
  CutAtLastSlash(nested, std::strlen(nested));
  EXPECT_STREQ(nested, "/opt/halvane");

  char root[] = "/halvane";
  CutAtLastSlash(root, std::strlen(root));
  EXPECT_STREQ(root, "");  // the log then goes to "/log.txt"

  char bare[] = "halvane";
  CutAtLastSlash(bare, std::strlen(bare));
  EXPECT_STREQ(bare, "halvane");
}

}  // namespace
