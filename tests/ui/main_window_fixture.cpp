#include "tests/ui/main_window_fixture.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "platform/com/com.h"
#include "tests/platform/dmusic/test_media.h"

extern char** environ;

namespace {

// Registers the capture component the way its registration program does.
void RegisterCaptureComponent() {
  const std::string program =
      (std::filesystem::path(platform::ProgramPath()).parent_path() / "halvane-regsvr").string();
  std::string s = "/s", dll = "OVDMOFilter.dll";
  char* argv[] = {const_cast<char*>(program.c_str()), s.data(), dll.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace

void MainWindowFixture::SetUpTestSuite() { ::setenv("HALVANE_AUDIO_DRIVER", "none", 1); }

void MainWindowFixture::SetUp() {
  AllocateProcessBuffers();
  std::snprintf(g_szProgramDir, kTextBufferSize, "%s", temp_.Path().c_str());
  {
    std::lock_guard lock(g_OutputDirLock);
    g_szOutputDir[0] = '\0';
  }
  g_szFileBuffer[0] = '\0';
  g_bSameDirectory.store(0);
  g_DebugLog.CreateLogFile(temp_.File("log.txt").c_str());
  while (g_DebugLog.Indent() > 0) g_DebugLog.IndentDown();

  const RECT rect{0, 0, 128, 128};
  ASSERT_EQ(CreateFillBmp(1, &rect, 30, 15, 0, 0, &g_hBackgroundBitmap, &g_hFillObject), TRUE);
  msgMutex = RegisterWindowMessageA("open halvane");
  const std::string name =
      "halvane test mutex " + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
  hMutex = CreateMutexA(nullptr, TRUE, name.c_str());
  ASSERT_NE(hMutex, nullptr);

  soundFont_ = temp_.File("sine.sf2");
  dmusic_test::WriteTestSoundFont(soundFont_, 0.05);
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{Port(u"Sine")});
  RegisterCaptureComponent();
  platform::SetExitProcessForTesting([this](UINT code) { exits_.push_back(code); });
  CoInitialize(nullptr);
}

void MainWindowFixture::TearDown() {
  if (HasFailure()) {
    std::fprintf(stderr, "log.txt:\n");
    for (const std::string& line : LogLines()) std::fprintf(stderr, "  |%s\n", line.c_str());
  }
  platform::SetExitProcessForTesting(nullptr);
  platform::SetPortTableForTesting(std::nullopt);
  while (platform::IsComInitialized()) CoUninitialize();
  DeleteObject(g_hBackgroundBitmap);
  DeleteObject(g_hFillObject);
}

INT_PTR MainWindowFixture::Run(ui::testing::FakeToolkit::Script script) {
  toolkit_.SetScript(ui::IDD_MAIN, std::move(script));
  ui::testing::ScopedToolkit scoped(toolkit_);
  return DialogBoxParamA(g_hInstance, ui::IDD_MAIN, nullptr, MainDlgProc, 0);
}

platform::PortInfo MainWindowFixture::Port(const std::u16string& name, bool audioPath) const {
  DWORD flags = platform::SoundFontPortFlags();
  if (!audioPath) flags &= ~DMUS_PC_AUDIOPATH;
  const std::string path = soundFont_ + "#" + std::string(name.begin(), name.end());
  return platform::PortInfo{soundFont_, platform::GuidFromName(path), name,
                            flags,      DMUS_PC_OUTPUTCLASS,          DMUS_PORT_USER_MODE_SYNTH};
}

std::string MainWindowFixture::MidiFile(const std::string& name) const {
  const std::string path = temp_.File(name);
  dmusic_test::MidiFile midi;
  midi.Tempo(0, 500000);
  midi.Note(0, 0, 60, 100, 768);
  midi.Write(path);
  return path;
}

bool MainWindowFixture::LogHas(const std::vector<std::string>& want) const {
  const std::vector<std::string> lines = LogLines();
  return std::search(lines.begin(), lines.end(), want.begin(), want.end()) != lines.end();
}
