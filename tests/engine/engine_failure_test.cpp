#include "engine/engine_failure.h"

#include <gtest/gtest.h>

#include <string>

#include "base/debug_log.h"
#include "tests/support/temp_dir.h"

namespace {

// Each test logs into its own fresh log file, one level deep as an operation would.
class EngineFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_DebugLog.CreateLogFile(path_.c_str());
    while (g_DebugLog.Indent() > 0) g_DebugLog.IndentDown();
    g_DebugLog.Print("Operation");
    g_DebugLog.IndentUp();
    ::testing::internal::CaptureStderr();
  }
  void TearDown() override {
    // Leave the channel clean for the next test even if one failed early.
    if (!echoRead_) ::testing::internal::GetCapturedStderr();
  }
  std::string Log() const { return testing_support::ReadFileBytes(path_); }
  std::string Echo() {
    echoRead_ = true;
    return ::testing::internal::GetCapturedStderr();
  }

  testing_support::TempDir dir_;
  std::string path_ = dir_.File("log.txt");
  bool echoRead_ = false;
};

TEST_F(EngineFailureTest, LogsCodeInLowerCaseHexWithItsDescriptionAndEchoesBoth) {
  LogFailure("pLoader->GetObject", {.hr = static_cast<HRESULT>(0x8878122F)});
  EXPECT_EQ(Log(),
            "Operation\r\n"
            "    pLoader->GetObject - FAILED\r\n"
            "    hr = 0x8878122f. The file does not contain a valid container object.");
  EXPECT_EQ(Echo(), "pLoader->GetObject - FAILED\nThe file does not contain a valid container object.\n");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(EngineFailureTest, SmallCodeHasNoLeadingZeros) {
  LogFailure("Step", {.hr = S_FALSE});
  EXPECT_EQ(Log(), "Operation\r\n    Step - FAILED\r\n    hr = 0x1. Call successful, but returned FALSE");
}

TEST_F(EngineFailureTest, NoEchoWritesTheLogOnly) {
  LogFailure("InsertTool", {.hr = E_FAIL, .echo = false});
  EXPECT_EQ(Log(), "Operation\r\n    InsertTool - FAILED\r\n    hr = 0x80004005. An undetermined error occurred");
  EXPECT_EQ(Echo(), "");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(EngineFailureTest, DifferentEchoTextKeepsTheLogText) {
  LogFailure("CoCreateInstance(DMO)", {.hr = REGDB_E_CLASSNOTREG, .echoText = "CoCreateInstance (DMO) - FAILED"});
  EXPECT_EQ(Log(), "Operation\r\n    CoCreateInstance(DMO) - FAILED\r\n    hr = 0x80040154. Class not registered");
  EXPECT_EQ(Echo(), "CoCreateInstance (DMO) - FAILED\nClass not registered\n");
}

TEST_F(EngineFailureTest, WithoutCodeLogsOneLine) {
  LogFailure("new CMusicTool", {.echo = false});
  LogFailure("pDMOEnum->Next", {});
  EXPECT_EQ(Log(), "Operation\r\n    new CMusicTool - FAILED\r\npDMOEnum->Next - FAILED");
  EXPECT_EQ(Echo(), "pDMOEnum->Next - FAILED\n");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(EngineFailureTest, AFailureInAnOperationOfItsOwnClosesThatLevelOnce) {
  {
    LogLevel level;
    LogFailure("Step", {.hr = E_FAIL, .echo = false, .level = &level});
    EXPECT_EQ(g_DebugLog.Indent(), 1);
  }
  EXPECT_EQ(g_DebugLog.Indent(), 1);
  EXPECT_EQ(Log(), "Operation\r\n        Step - FAILED\r\n        hr = 0x80004005. An undetermined error occurred");
}

}  // namespace
