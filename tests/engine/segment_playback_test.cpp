#include "engine/segment_playback.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/music_engine.h"
#include "platform/core/kernel.h"
#include "tests/engine/engine_fixture.h"

namespace {

constexpr HRESULT kInjected = E_ACCESSDENIED;

class SegmentPlaybackTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    ASSERT_EQ(InitDirectMusic(nullptr), S_OK);
    ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
    Forget();
  }
  void TearDown() override {
    platform::SetThreadWaitDriver({});
    EngineFixture::TearDown();
  }
  // Forgets what was logged and called so far.
  void Forget() {
    World().calls.clear();
    World().failures.clear();
    g_DebugLog.CreateLogFile(logPath_.c_str());
  }
  // Records every wait instead of waiting.
  void RecordWaits() {
    platform::SetThreadWaitDriver(
        [](DWORD ms) { engine_fakes::TheWorld().calls.push_back("Sleep(" + std::to_string(ms) + ")"); });
  }
};

TEST_F(SegmentPlaybackTest, LoadDescribesTheWholePathAsASegmentFileAndMarksItAsMidi) {
  EXPECT_EQ(LoadMIDI("/music/Fr\xc3\xa8re Jacques.mid"), S_OK);
  EXPECT_EQ(World().loadedFileName, u"/music/Fr\u00e8re Jacques.mid");
  EXPECT_EQ(World().loadedValidData, 0x12u);
  EXPECT_EQ(World().loadedClass, CLSID_DirectMusicSegment);
  EXPECT_EQ(World().calls,
            (std::vector<std::string>{"Loader::GetObject(segment)", "Segment::SetParam(StandardMIDIFile)"}));
  EXPECT_TRUE(g_EngineState.pSegment);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"LoadMIDI"});
}

TEST_F(SegmentPlaybackTest, ALongPathReachesTheLoaderWhole) {
  std::string path = "/music";
  while (path.size() < 3000) path += "/folder";
  path += "/song.mid";
  ASSERT_EQ(LoadMIDI(path.c_str()), S_OK);
  EXPECT_EQ(World().loadedFileName, std::u16string(path.begin(), path.end()));
}

TEST_F(SegmentPlaybackTest, APathBeyondWhatThePlatformAcceptsFailsTheLoadWithoutCallingTheLoader) {
  const std::string path(5000, 'a');
  EXPECT_EQ(LoadMIDI(path.c_str()), DMUS_E_LOADER_FAILEDOPEN);
  EXPECT_FALSE(World().Called("Loader::GetObject(segment)"));
  EXPECT_FALSE(g_EngineState.pSegment);
}

TEST_F(SegmentPlaybackTest, PlayWithNotificationPlaysOnceAsControllingSecondarySegmentOnThePath) {
  ASSERT_EQ(LoadMIDI("/music/a.mid"), S_OK);
  Forget();
  EXPECT_EQ(PlayMIDI(TRUE), S_OK);
  EXPECT_EQ(World().calls,
            (std::vector<std::string>{"Segment::SetRepeats(0)", "Performance::AddNotificationType(segment)",
                                      "Performance::PlaySegmentEx"}));
  EXPECT_EQ(World().playFlags, 0x280u);
  EXPECT_EQ(World().playAudioPath, g_EngineState.pAudioPath.Get());
  EXPECT_TRUE(g_EngineState.pSegmentState);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"PlayMIDI"});
}

TEST_F(SegmentPlaybackTest, PlayWithoutNotificationAddsNoNotificationTypeAndIgnoresSetRepeats) {
  ASSERT_EQ(LoadMIDI("/music/a.mid"), S_OK);
  Forget();
  World().failures["Segment::SetRepeats(0)"] = kInjected;
  EXPECT_EQ(PlayMIDI(FALSE), S_OK);
  EXPECT_EQ(World().calls, (std::vector<std::string>{"Segment::SetRepeats(0)", "Performance::PlaySegmentEx"}));
}

TEST_F(SegmentPlaybackTest, PlayingAgainReplacesTheSegmentState) {
  ASSERT_EQ(LoadMIDI("/music/a.mid"), S_OK);
  ASSERT_EQ(PlayMIDI(FALSE), S_OK);
  ASSERT_EQ(PlayMIDI(FALSE), S_OK);
  EXPECT_EQ(World().Live("SegmentState"), 1);
}

// One failing call of an operation, as the log, the result and the echo show it.
struct PlaybackFailure {
  const char* operation;
  const char* call;
  const char* text;
};

HRESULT RunOperation(const std::string& operation) {
  if (operation == "LoadMIDI") return LoadMIDI("/music/b.mid");
  if (operation == "PlayMIDI") return PlayMIDI(TRUE);
  if (operation == "RemoveNotifyMIDI") return RemoveNotifyMIDI();
  return StopMIDI();
}

TEST_F(SegmentPlaybackTest, EachFailureLogsItsTwoLinesEchoesThemAndReturnsTheCallsCode) {
  const PlaybackFailure rows[] = {
      {"LoadMIDI", "Loader::GetObject(segment)", "pLoader->GetObject"},
      {"LoadMIDI", "Segment::SetParam(StandardMIDIFile)", "pSegment->SetParam"},
      {"PlayMIDI", "Performance::AddNotificationType(segment)", "pPerformance->AddNotificationType"},
      {"PlayMIDI", "Performance::PlaySegmentEx", "pPerformance->PlaySegment"},
      {"RemoveNotifyMIDI", "Performance::RemoveNotificationType(segment)", "pPerformance->RemoveNotificationType"},
      {"StopMIDI", "Performance::Stop(all)", "pPerformance->Stop"},
      {"StopMIDI", "Performance::CloseDown", "pPerformance->CloseDown"},
  };
  RecordWaits();
  ASSERT_EQ(LoadMIDI("/music/a.mid"), S_OK);
  std::string expectedEcho;
  for (const PlaybackFailure& row : rows) {
    SCOPED_TRACE(row.call);
    Forget();
    World().failures[row.call] = kInjected;
    g_DebugLog.IndentUp();
    EXPECT_EQ(RunOperation(row.operation), kInjected);
    EXPECT_EQ(g_DebugLog.Indent(), 1);
    g_DebugLog.IndentDown();

    std::vector<std::string> expected{std::string("    ") + row.operation};
    for (const std::string& line : FailureLines(row.text, kInjected)) expected.push_back("    " + line);
    EXPECT_EQ(LogLines(), expected);
    // Nothing runs after the failed call.
    EXPECT_EQ(World().calls.back(), row.call);
    expectedEcho += EchoOf(row.text, kInjected);
  }
  EXPECT_EQ(Echo(), expectedEcho);
}

TEST_F(SegmentPlaybackTest, AFailedLoadKeepsTheSegmentLoadedBefore) {
  ASSERT_EQ(LoadMIDI("/music/a.mid"), S_OK);
  IDirectMusicSegment8* before = g_EngineState.pSegment.Get();
  World().failures["Loader::GetObject(segment)"] = kInjected;
  EXPECT_EQ(LoadMIDI("/music/missing.mid"), kInjected);
  EXPECT_EQ(g_EngineState.pSegment.Get(), before);
  EXPECT_EQ(World().Live("Segment"), 1);

  // A segment whose marking failed stays too: nothing is undone.
  World().failures = {{"Segment::SetParam(StandardMIDIFile)", kInjected}};
  EXPECT_EQ(LoadMIDI("/music/c.mid"), kInjected);
  EXPECT_NE(g_EngineState.pSegment.Get(), before);
  EXPECT_EQ(World().Live("Segment"), 1);
}

TEST_F(SegmentPlaybackTest, NotificationsAreTakenOnePerPollAndOnlyAlmostEndEndsTheLoop) {
  ASSERT_EQ(LoadMIDI("/music/a.mid"), S_OK);
  ASSERT_EQ(PlayMIDI(TRUE), S_OK);
  Forget();
  World().notifications = {DMUS_NOTIFICATION_SEGSTART, DMUS_NOTIFICATION_SEGEND,       DMUS_NOTIFICATION_SEGLOOP,
                           DMUS_NOTIFICATION_SEGABORT, DMUS_NOTIFICATION_SEGALMOSTEND, DMUS_NOTIFICATION_SEGEND};
  std::vector<int> seen;
  EXPECT_EQ(GetNotifyMIDI(), 0);
  // The conversion's poll: anything but 2 is discarded and polling goes on.
  for (int option; (option = GetNotifyMIDI()) != 2;) seen.push_back(option);
  EXPECT_EQ(seen, (std::vector<int>{1, 3, 4}));
  EXPECT_EQ(GetNotifyMIDI(), 1);
  EXPECT_EQ(GetNotifyMIDI(), -1);
  EXPECT_EQ(World().freedMessages, 6);
  // Polling logs nothing.
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(SegmentPlaybackTest, AFailedPollLogsAtTheCallersLevelAndGivesMinusOne) {
  World().failures["Performance::GetNotificationPMsg"] = kInjected;
  g_DebugLog.IndentUp();
  EXPECT_EQ(GetNotifyMIDI(), -1);
  EXPECT_EQ(g_DebugLog.Indent(), 1);
  g_DebugLog.IndentDown();
  EXPECT_EQ(LogLines(), FailureLines("pPerformance->GetNotificationPMsg", kInjected));
  EXPECT_EQ(Echo(), EchoOf("pPerformance->GetNotificationPMsg", kInjected));
}

TEST_F(SegmentPlaybackTest, RemoveNotifyRemovesTheSegmentNotificationType) {
  EXPECT_EQ(RemoveNotifyMIDI(), S_OK);
  EXPECT_EQ(World().calls, std::vector<std::string>{"Performance::RemoveNotificationType(segment)"});
  EXPECT_EQ(LogLines(), std::vector<std::string>{"RemoveNotifyMIDI"});
}

TEST_F(SegmentPlaybackTest, StopWaits700MsThenStopsEverythingAndClosesDownEvenWithNothingPlaying) {
  RecordWaits();
  EXPECT_EQ(StopMIDI(), S_OK);
  EXPECT_EQ(World().calls,
            (std::vector<std::string>{"Sleep(700)", "Performance::Stop(all)", "Performance::CloseDown"}));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"StopMIDI"});
}

TEST_F(SegmentPlaybackTest, ClockReadingsAreWholeSecondsTruncatedTowardZeroAndZeroOnFailure) {
  World().now = 259'999'999;  // 25.9999999 s
  EXPECT_EQ(GetTimeMIDI(), 25);
  World().now = -15'000'000;
  EXPECT_EQ(GetTimeMIDI(), -1);
  World().now = (REFERENCE_TIME{1} << 32) * 10'000'000 + 50'000'000;  // the low 32 bits of the seconds
  EXPECT_EQ(GetTimeMIDI(), 5);
  World().failures["Performance::GetTime"] = kInjected;
  EXPECT_EQ(GetTimeMIDI(), 0);

  ASSERT_EQ(LoadMIDI("/music/a.mid"), S_OK);
  World().segmentLength = 768 * 8;
  World().lengthInReferenceTime = 73'000'000;
  EXPECT_EQ(GetEndTimeMIDI(), 7);
  World().failures = {{"Segment::GetLength", kInjected}};
  EXPECT_EQ(GetEndTimeMIDI(), 0);
  World().failures = {{"Performance::MusicToReferenceTime", kInjected}};
  EXPECT_EQ(GetEndTimeMIDI(), 0);
  EXPECT_TRUE(LogLines().empty() || LogLines() == std::vector<std::string>{"LoadMIDI"});
}

}  // namespace
