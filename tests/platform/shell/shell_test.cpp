// Starting a program with its arguments each passed whole.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/shell/shell.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(StartProgramTest, EachArgumentArrivesWholeBlanksAndQuotesIncluded) {
  testing_support::TempDir dir;
  EXPECT_EQ(platform::StartProgram("no-such-program-here", {"x"}), SE_ERR_FNF);
  ASSERT_GT(platform::StartProgram("touch", {"one \"quoted\" name", "second"}, dir.Path().c_str()), 32);
  // The program is not waited for: watch for what it does.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(dir.Path() / "second") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "one \"quoted\" name"));
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "second"));
}

}  // namespace
