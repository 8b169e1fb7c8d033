#include "engine/music_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "engine/music_tool.h"
#include "platform/dmusic/direct_music.h"
#include "platform/dmusic/port_table.h"
#include "engine/segment_playback.h"
#include "tests/engine/engine_fixture.h"

// The next nothrow allocation fails once: how a test makes "new CMusicTool" fail.
namespace {
std::atomic<bool> g_failNextNothrowNew{false};
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (g_failNextNothrowNew.exchange(false)) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}

namespace {

using engine_fakes::Port;

constexpr GUID kPortA{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr HRESULT kInjected = E_ACCESSDENIED;
constexpr DWORD kOffered = DMUS_PC_DLS | DMUS_PC_AUDIOPATH;

// The fake calls of a whole successful configuration, in order.
const std::vector<std::string> kConfigureCalls = {
    "DirectMusic::EnumPort",
    "Performance::InitAudio",
    "Performance::CreateStandardAudioPath",
    "AudioPath::GetObjectInPath(buffer)",
    "Performance::SetGlobalParam(AutoDownload)",
    "Performance::SetGlobalParam(MasterTempo)",
    "AudioPath::GetObjectInPath(graph)",
    "Graph::InsertTool",
    "AudioPath::SetVolume(0,0)",
    "Performance::SetGlobalParam(MasterVolume)",
    "Buffer::SetVolume(max)",
};

class MusicEngineTest : public EngineFixture {
 protected:
  // Starts the engine and forgets what it logged and called.
  void Start() {
    World().ports = {Port(u"Synth A", kOffered | DMUS_PC_SOFTWARESYNTH, DMUS_PC_OUTPUTCLASS, kPortA)};
    ASSERT_EQ(InitDirectMusic(nullptr), S_OK);
    World().calls.clear();
    g_DebugLog.CreateLogFile(logPath_.c_str());
  }
  // The fake calls since Start, without the object destructions.
  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    for (const std::string& call : engine_fakes::TheWorld().calls)
      if (call[0] != '~') calls.push_back(call);
    return calls;
  }
};

TEST_F(MusicEngineTest, InitCreatesTheThreeObjectsAndLogsOk) {
  ASSERT_EQ(InitDirectMusic(nullptr), S_OK);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"InitDirectMusic", "    ok"}));
  EXPECT_EQ(World().calls, (std::vector<std::string>{"Create(DirectMusic)", "DirectMusic::SetDirectSound(null)",
                                                     "Create(Performance)", "Create(Loader)"}));
  EXPECT_TRUE(g_EngineState.pDirectMusic && g_EngineState.pPerformance && g_EngineState.pLoader);
  EXPECT_EQ(Echo(), "");
}

struct InitFailure {
  const char* call;
  const char* text;
};

TEST_F(MusicEngineTest, EachInitFailureLogsTwoLinesReturnsTheCodeAndRemoveReleasesWhatExists) {
  const InitFailure rows[] = {
      {"Create(DirectMusic)", "IDirectMusic8"},
      {"DirectMusic::SetDirectSound(null)", "pDirectMusic->SetDirectSound"},
      {"Create(Performance)", "IID_IDirectMusicPerformance8"},
      {"Create(Loader)", "IID_IDirectMusicLoader8"},
  };
  std::string expectedEcho;
  for (const InitFailure& row : rows) {
    SCOPED_TRACE(row.call);
    engine_fakes::InstallFakes();
    // Start-up initialises the runtime once; each shutdown below balances it.
    if (!platform::IsComInitialized()) CoInitialize(nullptr);
    World().failures[row.call] = kInjected;
    g_DebugLog.CreateLogFile(logPath_.c_str());

    EXPECT_EQ(InitDirectMusic(nullptr), kInjected);
    std::vector<std::string> expected{"InitDirectMusic"};
    for (const std::string& line : FailureLines(row.text, kInjected)) expected.push_back(line);
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(g_DebugLog.Indent(), 0);
    expectedEcho += EchoOf(row.text, kInjected);

    // Shutting down after the partial start releases what was made and balances
    // the runtime's initialisation.
    g_DebugLog.CreateLogFile(logPath_.c_str());
    EXPECT_EQ(RemoveDirectMusic(), S_OK);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"RemoveDirectMusic", "    ok"}));
    for (const char* kind : {"DirectMusic", "Performance", "Loader"}) EXPECT_EQ(World().Live(kind), 0) << kind;
    EXPECT_FALSE(platform::IsComInitialized());
    EXPECT_EQ(g_DebugLog.Indent(), 0);
  }
  EXPECT_EQ(Echo(), expectedEcho);
}

TEST_F(MusicEngineTest, RemoveAfterPartialStartTouchesOnlyWhatExists) {
  World().failures["Create(Performance)"] = kInjected;
  ASSERT_EQ(InitDirectMusic(nullptr), kInjected);
  World().calls.clear();
  EXPECT_EQ(RemoveDirectMusic(), S_OK);
  EXPECT_EQ(World().calls, (std::vector<std::string>{"DirectMusic::Activate(FALSE)", "~DirectMusic"}));
}

TEST_F(MusicEngineTest, ConfigureSetsUpTheChosenPortWithFullVolumeAndTheToolFirst) {
  Start();
  EXPECT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  EXPECT_EQ(Calls(), kConfigureCalls);
  EXPECT_EQ(LogLines(), std::vector<std::string>{"ConfigureSynthesizer"});
  EXPECT_EQ(Echo(), "");

  const DMUS_AUDIOPARAMS& params = World().audioParams;
  EXPECT_EQ(params.dwSize, 40u);
  EXPECT_EQ(params.fInitNow, FALSE);
  EXPECT_EQ(params.dwValidData, 9u);
  EXPECT_EQ(params.dwFeatures, 0x3Fu);
  EXPECT_EQ(params.dwVoices, 0u);
  EXPECT_EQ(params.dwSampleRate, 0u);
  EXPECT_EQ(params.clsidDefaultSynth, kPortA);
  EXPECT_EQ(World().initAudioDirectMusic, g_EngineState.pDirectMusic.Get());
  EXPECT_EQ(World().autoDownloads, std::vector<BOOL>{TRUE});
  EXPECT_EQ(World().masterVolumes, std::vector<LONG>{0});
  ASSERT_EQ(World().insertedTools.size(), 1u);
  EXPECT_EQ(World().insertedTools[0], static_cast<IDirectMusicTool*>(g_EngineState.pMusicTool.Get()));
  EXPECT_TRUE(g_EngineState.pAudioPath && g_EngineState.pDirectSoundBufferInPath && g_EngineState.pGraph);
}

TEST_F(MusicEngineTest, TempoPositionsSetHalfToOneAndAHalfTimesTheTempo) {
  Start();
  for (DWORD position : {0u, 25u, 50u, 100u}) ASSERT_EQ(ConfigureSynthesizer(0, position), S_OK);
  EXPECT_EQ(World().masterTempos, (std::vector<float>{0.5f, 0.75f, 1.0f, 1.5f}));
}

TEST_F(MusicEngineTest, APortThatNoLongerExistsConfiguresTheDefaultSynthesizer) {
  Start();
  World().audioParams.clsidDefaultSynth = kPortA;
  EXPECT_EQ(ConfigureSynthesizer(7, 50), S_OK);
  EXPECT_EQ(World().audioParams.clsidDefaultSynth, GUID_NULL);
}

TEST_F(MusicEngineTest, ConfiguringAgainReplacesPathBufferGraphAndTool) {
  Start();
  ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  for (const char* kind : {"AudioPath", "Buffer", "Graph"}) EXPECT_EQ(World().Live(kind), 1) << kind;
  ASSERT_EQ(World().insertedTools.size(), 2u);
  EXPECT_NE(World().insertedTools[0], World().insertedTools[1]);
}

TEST_F(MusicEngineTest, AFailedToolInsertionLeavesTheConfigurationSuccessful) {
  Start();
  World().failures["Graph::InsertTool"] = kInjected;
  // One level deep, as when the worker calls it: the level comes back to 1.
  g_DebugLog.IndentUp();
  EXPECT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  EXPECT_EQ(g_DebugLog.Indent(), 1);
  g_DebugLog.IndentDown();
  std::vector<std::string> expected{"    ConfigureSynthesizer"};
  for (const std::string& line : FailureLines("InsertTool", kInjected)) expected.push_back("    " + line);
  EXPECT_EQ(LogLines(), expected);
  EXPECT_EQ(Calls(), kConfigureCalls);
  EXPECT_TRUE(World().insertedTools.empty());
  EXPECT_EQ(Echo(), "");
}

struct ConfigureFailure {
  const char* call;  // the fake call that fails ("" for the tool's allocation)
  const char* text;  // what the log says failed
  bool ownCode;      // the result is the call's code rather than E_FAIL
  bool echoed;
  std::size_t callsMade;  // how much of kConfigureCalls runs
};

TEST_F(MusicEngineTest, EachConfigureFailureLogsItsLinesStopsThereAndReturnsItsResult) {
  const ConfigureFailure rows[] = {
      {"DirectMusic::EnumPort", "pDirectMusic->EnumPort", false, true, 1},
      {"Performance::InitAudio", "pPerformance->InitAudio", false, true, 2},
      {"Performance::CreateStandardAudioPath", "pPerformance->CreateStandardAudioPath", false, true, 3},
      {"AudioPath::GetObjectInPath(buffer)", "pAudioPath->GetObjectInPath", true, true, 4},
      {"Performance::SetGlobalParam(AutoDownload)", "pPerformance->SetGlobalParam(GUID_PerfAutoDownload)", false, true,
       5},
      {"Performance::SetGlobalParam(MasterTempo)", "pPerformance->SetGlobalParam(GUID_PerfMasterTempo)", false, true,
       6},
      {"AudioPath::GetObjectInPath(graph)", "pAudioPath->GetObjectInPath(IID_IDirectMusicGraph)", false, false, 7},
      {"", "new CMusicTool", false, false, 7},
      {"AudioPath::SetVolume(0,0)", "pDirectSoundBufferInPath->SetVolume(DSBVOLUME_MAX)", false, true, 9},
      {"Performance::SetGlobalParam(MasterVolume)", "pPerformance->SetGlobalParam", true, true, 10},
      {"Buffer::SetVolume(max)", "pDirectSoundBufferInPath->SetVolume(DSBVOLUME_MAX)", false, true, 11},
  };
  Start();
  std::string expectedEcho;
  for (const ConfigureFailure& row : rows) {
    SCOPED_TRACE(row.text);
    World().calls.clear();
    World().failures.clear();
    g_DebugLog.CreateLogFile(logPath_.c_str());
    const bool toolFails = row.call[0] == '\0';
    if (toolFails)
      g_failNextNothrowNew = true;
    else
      World().failures[row.call] = kInjected;

    // An operation called one level deep returns the log to that level.
    g_DebugLog.IndentUp();
    const HRESULT hr = ConfigureSynthesizer(0, 50);
    EXPECT_EQ(g_DebugLog.Indent(), 1);
    g_DebugLog.IndentDown();

    std::vector<std::string> expected{"    ConfigureSynthesizer"};
    if (toolFails) {
      EXPECT_EQ(hr, E_OUTOFMEMORY);
      expected.push_back("        new CMusicTool - FAILED");
    } else {
      EXPECT_EQ(hr, row.ownCode ? kInjected : E_FAIL);
      for (const std::string& line : FailureLines(row.text, kInjected)) expected.push_back("    " + line);
    }
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(Calls(), std::vector<std::string>(kConfigureCalls.begin(), kConfigureCalls.begin() + row.callsMade));
    if (row.echoed) expectedEcho += EchoOf(row.text, kInjected);
  }
  EXPECT_EQ(Echo(), expectedEcho);
}

TEST_F(MusicEngineTest, RemoveReleasesInDependencyOrderAndBalancesTheRuntime) {
  Start();
  ASSERT_EQ(ConfigureSynthesizer(0, 50), S_OK);
  ASSERT_EQ(LoadMIDI("/music/song.mid"), S_OK);
  ASSERT_EQ(PlayMIDI(TRUE), S_OK);
  CMusicTool* tool = g_EngineState.pMusicTool.Get();
  tool->AddRef();
  World().calls.clear();
  g_DebugLog.CreateLogFile(logPath_.c_str());

  EXPECT_EQ(RemoveDirectMusic(), S_OK);
  EXPECT_EQ(World().calls,
            (std::vector<std::string>{"AudioPath::Activate(FALSE)", "DirectMusic::Activate(FALSE)", "~Graph",
                                      "~AudioPath", "~Segment", "Performance::Stop(all)", "Performance::CloseDown",
                                      "~Loader", "~DirectMusic", "~Buffer", "~SegmentState", "~Performance"}));
  // Ours was the last reference to the tool: the record's and the graph's are gone.
  EXPECT_EQ(tool->Release(), 0u);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"RemoveDirectMusic", "    ok"}));
  EXPECT_FALSE(platform::IsComInitialized());
}

TEST_F(MusicEngineTest, PortsThatCannotRenderThroughAnAudioPathKeepTheirIndexWithAnEmptyName) {
  // The real DirectMusic object over a port table of the test's own.
  platform::RegisterDirectMusicClass();
  int made = 0;
  auto port = [&made](const char16_t* name, DWORD flags, DWORD dwClass) {
    const std::string path = "/fonts/" + std::to_string(made++) + ".sf2";
    return platform::PortInfo{path, platform::GuidFromName(path), name, flags, dwClass, DMUS_PORT_USER_MODE_SYNTH};
  };
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{
      port(u"Synth DLS", DMUS_PC_DLS | DMUS_PC_AUDIOPATH, DMUS_PC_OUTPUTCLASS),
      port(u"No audio path", DMUS_PC_DLS | DMUS_PC_DLS2, DMUS_PC_OUTPUTCLASS),
      port(u"Input", DMUS_PC_DLS | DMUS_PC_AUDIOPATH, DMUS_PC_INPUTCLASS),
      port(u"No DLS", DMUS_PC_AUDIOPATH | DMUS_PC_SOFTWARESYNTH, DMUS_PC_OUTPUTCLASS),
      port(u"Synth DLS2 \u00e9", DMUS_PC_DLS2 | DMUS_PC_AUDIOPATH, DMUS_PC_OUTPUTCLASS),
  });
  ASSERT_EQ(InitDirectMusic(nullptr), S_OK);

  std::vector<std::string> names;
  char name[kPortNameSize];
  for (DWORD index = 0; EnumerateAllPorts(index, name) == 1; ++index) names.push_back(name);
  platform::SetPortTableForTesting(std::nullopt);

  EXPECT_EQ(names, (std::vector<std::string>{"Synth DLS", "", "", "", "Synth DLS2 \xc3\xa9"}));
}

TEST_F(MusicEngineTest, APortThatCannotBeReadGivesAnEmptyNameAndTheLoopStillEnds) {
  Start();
  World().failures["DirectMusic::EnumPort"] = kInjected;
  char name[kPortNameSize];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(EnumerateAllPorts(0, name), 1);
  EXPECT_STREQ(name, "");

  // The Device list's loop: it would never see a 0, so its own limits end it.
  DWORD index = 0;
  int named = 0;
  for (; PortLoopGoesOn(index, named) && EnumerateAllPorts(index, name) == 1; ++index)
    if (name[0] != '\0') ++named;
  EXPECT_EQ(index, kLastPortIndex + 1);
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(MusicEngineTest, ALongPortNameIsCutBetweenCharactersWithinTheBuffer) {
  Start();
  // 127 characters of three bytes each do not fit 259 bytes.
  std::u16string euros(127, u'\u20ac');
  World().ports = {Port(euros.c_str(), kOffered, DMUS_PC_OUTPUTCLASS, kPortA)};
  char name[kPortNameSize + 8];
  std::memset(name, 'x', sizeof name);
  ASSERT_EQ(EnumerateAllPorts(0, name), 1);
  const std::string text(name);
  EXPECT_EQ(text.size(), 258u);  // 86 whole characters
  std::string expected;
  for (int i = 0; i < 86; ++i) expected += "\xe2\x82\xac";
  EXPECT_EQ(text, expected);
  EXPECT_EQ(name[kPortNameSize], 'x');  // nothing written past the buffer
}

}  // namespace
