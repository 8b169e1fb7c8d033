// Shared by the capture tests: an empty class table and media-object table in the
// test program's own registry, the component runtime initialised, a fresh log file
// and the echo channel captured, and the engine's capture fields emptied afterwards.
#pragma once

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "engine/engine_state.h"
#include "engine/result_descriptions.h"
#include "platform/com/com.h"
#include "platform/core/kernel.h"
#include "platform/registry/registry.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace capture_test {

inline std::filesystem::path ProgramFolder() { return std::filesystem::path(platform::ProgramPath()).parent_path(); }

// Runs a program of the program folder with args and returns its exit code (-1 when
// it could not run or did not exit normally).
inline int RunProgram(const std::string& name, std::vector<std::string> args) {
  const std::string path = (ProgramFolder() / name).string();
  args.insert(args.begin(), path);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

inline std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(hr));
  return text;
}

}  // namespace capture_test

class CaptureFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearTables();
    CoInitialize(nullptr);
    g_DebugLog.CreateLogFile(logPath_.c_str());
    while (g_DebugLog.Indent() > 0) g_DebugLog.IndentDown();
    ::testing::internal::CaptureStderr();
  }
  void TearDown() override {
    if (!echoRead_) ::testing::internal::GetCapturedStderr();
    EngineState& s = g_EngineState;
    s.pFilterCapture.Reset();
    s.pFilterObject.Reset();
    s.pAudioPath.Reset();
    s.pDirectSoundBufferInPath.Reset();
    s.FilterDesc = DSEFFECTDESC{};
    while (platform::IsComInitialized()) CoUninitialize();
    ClearTables();
  }

  static void ClearTables() {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "DirectShow");
  }

  // The log's lines, without their separators.
  std::vector<std::string> LogLines() const { return testing_support::ReadLogLines(logPath_); }
  // What went to the echo channel since SetUp (read once).
  std::string Echo() {
    echoRead_ = true;
    return ::testing::internal::GetCapturedStderr();
  }
  static std::string CodeLine(HRESULT hr) {
    return "    hr = 0x" + capture_test::Hex(hr) + ". " + GetResultDescription(hr);
  }

  testing_support::TempDir dir_;
  std::string logPath_ = dir_.File("log.txt");
  bool echoRead_ = false;
};
