// A test of the engine's operations over the fake DirectMusic objects: a fresh
// log file, the echo channel captured, the component runtime initialised as
// start-up does, and the engine's record emptied afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "engine/engine_state.h"
#include "engine/music_tool.h"
#include "ovdmofilter/captured_audio.h"
#include "engine/result_descriptions.h"
#include "platform/com/com.h"
#include "tests/engine/engine_fakes.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_fakes::InstallFakes();
    CoInitialize(nullptr);
    g_DebugLog.CreateLogFile(logPath_.c_str());
    while (g_DebugLog.Indent() > 0) g_DebugLog.IndentDown();
    ::testing::internal::CaptureStderr();
  }
  void TearDown() override {
    if (!echoRead_) ::testing::internal::GetCapturedStderr();
    EmptyEngineState();
    while (platform::IsComInitialized()) CoUninitialize();
  }

  static void EmptyEngineState() {
    EngineState& s = g_EngineState;
    s.pFilterCapture.Reset();
    s.pFilterObject.Reset();
    s.pGraph.Reset();
    s.pAudioPath.Reset();
    s.pSegment.Reset();
    s.pLoader.Reset();
    s.pDirectMusic.Reset();
    s.pDirectSoundBufferInPath.Reset();
    s.pMusicTool.Reset();
    s.pSegmentState.Reset();
    s.pPerformance.Reset();
  }

  // The log's lines, without their separators.
  std::vector<std::string> LogLines() const { return testing_support::ReadLogLines(logPath_); }
  // What went to the echo channel since SetUp (read once).
  std::string Echo() {
    echoRead_ = true;
    return ::testing::internal::GetCapturedStderr();
  }
  // The two lines a failed call leaves, one level deep.
  static std::vector<std::string> FailureLines(const std::string& what, HRESULT hr) {
    return {"    " + what + " - FAILED", "    hr = 0x" + Hex(hr) + ". " + GetResultDescription(hr)};
  }
  static std::string EchoOf(const std::string& what, HRESULT hr) {
    return what + " - FAILED\n" + GetResultDescription(hr) + "\n";
  }
  static std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(hr));
    return text;
  }

  engine_fakes::World& World() { return engine_fakes::TheWorld(); }

  testing_support::TempDir dir_;
  std::string logPath_ = dir_.File("log.txt");
  bool echoRead_ = false;
};
