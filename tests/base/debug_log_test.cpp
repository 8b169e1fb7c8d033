#include "base/debug_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

TEST(DebugLogTest, LinesAreSeparatedAndIndentedAsWritten) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  WriteFileBytes(path, "left from the last run");
  CDebugLog log;
  log.Print("before the file");  // goes to standard error only
  EXPECT_EQ(ReadFileBytes(path), "left from the last run");

  log.CreateLogFile(path.c_str());
  EXPECT_EQ(ReadFileBytes(path), "");
  log.Print("Start %s", "Halvane");
  log.IndentUp();
  log.Print("hr = 0x%x. %s", 0x80004005u, "n/a");
  log.IndentUp();
  log.Print("%d", -3);
  log.IndentDown();
  log.IndentDown();
  log.IndentUp();
  log.IndentDown();
  log.IndentDown();
  log.IndentDown();  // three times down from level 1: stays at 0
  EXPECT_EQ(log.Indent(), 0);
  log.Print("End Halvane\n");
  log.IndentUp();
  log.Print("back at one");
  EXPECT_EQ(ReadFileBytes(path),
            "Start Halvane\r\n"
            "    hr = 0x80004005. n/a\r\n"
            "        -3\r\n"
            "End Halvane\n\r\n"
            "    back at one");

  // Creating the file again starts it afresh: the next line is a first line.
  log.CreateLogFile(path.c_str());
  log.Print("again");
  EXPECT_EQ(ReadFileBytes(path), "    again");
}

// A link planted where the log goes is not followed: the file it points to stays as
// it was, whether the log is being emptied or written.
TEST(DebugLogTest, ALinkInThePlaceOfTheLogIsNotFollowed) {
  TempDir dir;
  const std::string victim = dir.File("victim.txt"), path = dir.File("log.txt");
  WriteFileBytes(victim, "precious");
  std::filesystem::create_symlink(victim, path);
  CDebugLog log;
  log.CreateLogFile(path.c_str());
  log.Print("Start %s", "Halvane");
  EXPECT_EQ(ReadFileBytes(victim), "precious");
}

TEST(DebugLogTest, LongTextIsCutAt1024CharactersAfterTheIndentation) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  CDebugLog log;
  log.CreateLogFile(path.c_str());
  log.IndentUp();
  log.IndentUp();
  const std::string text(2000, 'x');
  log.Print("%s", text.c_str());
  log.Print("next");
  EXPECT_EQ(ReadFileBytes(path), std::string(8, ' ') + std::string(1024, 'x') + "\r\n        next");
}

TEST(DebugLogTest, TextFilledInCannotForgeLines) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  CDebugLog log;
  log.CreateLogFile(path.c_str());
  // A stored folder that tries to end the run and start another, and steer a terminal.
  log.Print("WAV path: %s", "/tmp\r\nEnd Halvane\n\r\nStart Halvane\x1b[2J\t\x7f\xc2\x9b");
  log.Print("%s|%c", "caf\xc3\xa9 \xe2\x99\xaa \\x", '\n');  // ordinary UTF-8 and backslashes as they are
  EXPECT_EQ(ReadFileBytes(path),
            "WAV path: /tmp\\r\\nEnd Halvane\\n\\r\\nStart Halvane\\x1b[2J\\t\\x7f\\xc2\\x9b\r\n"
            "caf\xc3\xa9 \xe2\x99\xaa \\x|\\n");
}

TEST(DebugLogTest, TwoThreadsWriteOnlyWholeLines) {
  TempDir dir;
  const std::string path = dir.File("log.txt");
  CDebugLog log;
  log.CreateLogFile(path.c_str());
  constexpr int kLines = 400;
  const std::string filler(300, '.');
  auto writer = [&](const char* name) {
    for (int i = 0; i < kLines; ++i) log.Print("%s line %d %s end", name, i, filler.c_str());
  };
  std::thread window(writer, "window");
  std::thread worker(writer, "worker");
  window.join();
  worker.join();

  const std::string bytes = ReadFileBytes(path);
  // A whole line: "<thread> line <n> <300 dots> end".
  const auto whole = [&](const std::string& line) {
    const std::size_t number = line.find(" line ");
    if (number == std::string::npos) return false;
    const std::string name = line.substr(0, number);
    const std::size_t dots = line.find(' ', number + 6);
    return (name == "window" || name == "worker") && dots != std::string::npos &&
           line.substr(dots) == " " + filler + " end";
  };
  std::set<std::string> seen;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = bytes.find("\r\n", start);
    const std::string line = bytes.substr(start, end == std::string::npos ? std::string::npos : end - start);
    EXPECT_TRUE(whole(line)) << line.substr(0, 80);
    seen.insert(line.substr(0, line.find(" ....")));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  EXPECT_EQ(seen.size(), 2u * kLines);
}

}  // namespace

TEST(DebugLogTest, AnAppendedLogKeepsEarlierRunsEndsEveryLineAndMovesAsideWhenTooLarge) {
  TempDir dir;
  const std::string path = dir.File("convert-log.txt");
  WriteFileBytes(path, "an earlier run without its line end");
  CDebugLog log;
  log.AppendToLogFile(path.c_str(), 1000);
  log.Print("Start");
  log.IndentUp();
  log.Print("one");
  EXPECT_EQ(ReadFileBytes(path), "an earlier run without its line end\r\nStart\r\n    one\r\n");

  // Past the limit at the start of a run: the log moves aside whole, the new one starts empty.
  const std::string large(1001, 'x');
  WriteFileBytes(path, large);
  log.AppendToLogFile(path.c_str(), 1000);
  log.Print("next");
  EXPECT_EQ(ReadFileBytes(path + ".old"), large);
  EXPECT_EQ(ReadFileBytes(path), "    next\r\n");

  // A link planted under the log's name is not written through.
  const std::string target = dir.File("someone-elses");
  WriteFileBytes(target, "theirs");
  std::filesystem::remove(path);
  std::filesystem::create_symlink(target, path);
  log.AppendToLogFile(path.c_str(), 1000);
  log.Print("through the link?");
  EXPECT_EQ(ReadFileBytes(target), "theirs");
}
