// An audition heard through a real sound server: a private PulseAudio daemon with a
// null sink, whose monitor is recorded while the main window plays a generated file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "convert/main_window_ids.h"
#include "tests/platform/dmusic/test_media.h"
#include "tests/ui/main_window_fixture.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using ui::testing::FakeDialog;
using Clock = std::chrono::steady_clock;

constexpr int kRate = 44100;
constexpr int kWindow = kRate / 100;  // 10 ms of frames

pid_t Spawn(const std::vector<std::string>& args, const std::string& output = {}) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output.empty())
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
}

// The loudness of each 10 ms of a raw 16-bit stereo recording (RMS of both channels).
std::vector<double> Loudness(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t samples = bytes.size() / 2;
  std::vector<double> windows;
  for (std::size_t start = 0; start + 2 * kWindow <= samples; start += 2 * kWindow) {
    double sum = 0;
    for (std::size_t i = start; i < start + 2 * kWindow; ++i) {
      const auto lo = static_cast<unsigned char>(bytes[2 * i]);
      const auto hi = static_cast<unsigned char>(bytes[2 * i + 1]);
      const double v = static_cast<std::int16_t>(lo | hi << 8);
      sum += v * v;
    }
    windows.push_back(std::sqrt(sum / (2 * kWindow)));
  }
  return windows;
}

// The stretches of sound (in 10 ms windows) between silences of 500 ms or more (a
// busy machine may leave shorter gaps in real-time output).
std::vector<std::pair<int, int>> Sounds(const std::vector<double>& loudness, double threshold) {
  std::vector<std::pair<int, int>> sounds;
  int quiet = 1000;
  for (int i = 0; i < static_cast<int>(loudness.size()); ++i) {
    if (loudness[static_cast<std::size_t>(i)] < threshold) {
      ++quiet;
      continue;
    }
    if (quiet >= 50 || sounds.empty()) sounds.emplace_back(i, i);
    sounds.back().second = i;
    quiet = 0;
  }
  return sounds;
}

class AuditionSoundTest : public MainWindowFixture {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<testing_support::TempDir>();
    const fs::path dir = server_->Path();
    fs::permissions(dir, fs::perms::owner_all);
    socket_ = (dir / "native").string();
    std::ofstream(dir / "default.pa") << "load-module module-null-sink sink_name=halvane_test rate=44100 channels=2\n"
                                      << "load-module module-native-protocol-unix socket=" << socket_
                                      << " auth-anonymous=1\nset-default-sink halvane_test\n";
    ::setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    ::setenv("PULSE_RUNTIME_PATH", dir.c_str(), 1);
    ::setenv("PULSE_STATE_PATH", dir.c_str(), 1);
    daemon_ = Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-F",
                     (dir / "default.pa").string(), "--log-target=stderr"});
    for (int i = 0; i < 100 && !fs::exists(socket_); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::setenv("HALVANE_AUDIO_DRIVER", "pulseaudio", 1);
  }
  static void TearDownTestSuite() {
    Stop(daemon_);
    server_.reset();
  }

  // A file holding one note of quarters quarter notes at 120 beats a minute.
  std::string Note(const std::string& name, int quarters) const {
    const std::string path = temp_.File(name);
    dmusic_test::MidiFile midi;
    midi.Tempo(0, 500000);
    midi.Note(0, 0, 69, 120, static_cast<std::uint32_t>(768 * quarters));
    midi.Write(path);
    return path;
  }

  static inline std::unique_ptr<testing_support::TempDir> server_;
  static inline std::string socket_;
  static inline pid_t daemon_ = -1;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

TEST_F(AuditionSoundTest, PlayFileSoundsAtTheChosenTempoAndStopPlayingFallsSilentAfterItsTail) {
  ASSERT_GT(daemon_, 0) << "pulseaudio could not be started";
  ASSERT_TRUE(fs::exists(socket_)) << "the sound server did not come up";
  const std::string recording = temp_.File("monitor.raw");
  const pid_t recorder = Spawn({"parec", "-d", "halvane_test.monitor", "--format=s16le", "--rate=44100", "--channels=2",
                                "--raw", "--latency-msec=20"},
                               recording);
  ASSERT_GT(recorder, 0);
  // The recorder's first bytes show the monitor is being recorded: a Play File that
  // sounds at once must not come before that.
  const auto started = Clock::now();
  std::error_code sizeError;
  while (fs::file_size(recording, sizeError) == 0 && Clock::now() - started < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  // Two quarter notes (1 s) at half speed, then a long note stopped after 1 s.
  toolkit_.QueueOpenFiles(std::vector<std::string>{Note("short.mid", 2), Note("long.mid", 40)});
  double stopAfter = 0;
  bool stopShownWhilePlaying = false;
  Run([&](FakeDialog& dialog) {
    dialog.Click(IDC_ADDFILE);
    dialog.MoveSlider(IDC_TEMPO, 0);
    dialog.SelectListItem(IDC_FILELIST, 0);
    dialog.Click(IDC_PLAYFILE);
    stopShownWhilePlaying = dialog.IsItemVisible(IDC_STOPPLAYING);
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    dialog.Click(IDC_STOPPLAYING);
    dialog.MoveSlider(IDC_TEMPO, 50);
    dialog.SelectListItem(IDC_FILELIST, 1);
    dialog.Click(IDC_PLAYFILE);
    const auto played = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const auto stopping = Clock::now();
    dialog.Click(IDC_STOPPLAYING);
    stopAfter = Seconds(stopping - played);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    dialog.Click(IDOK);
  });
  Stop(recorder);

  EXPECT_TRUE(stopShownWhilePlaying);
  const std::vector<double> loudness = Loudness(recording);
  const auto sounds = Sounds(loudness, 100.0);
  std::string heard;
  for (const auto& [from, to] : sounds)
    heard += " " + std::to_string(from / 100.0) + "-" + std::to_string((to + 1) / 100.0) + " s";
  ASSERT_EQ(sounds.size(), 2u) << "sound heard at" << heard;
  // The short file at half speed: two seconds of note (and its short release).
  const double first = (sounds[0].second - sounds[0].first + 1) / 100.0;
  EXPECT_NEAR(first, 2.05, 0.25);
  // The long note sounds until the stop, plus the 700 ms the stop lets it ring on.
  const double second = (sounds[1].second - sounds[1].first + 1) / 100.0;
  EXPECT_NEAR(second, stopAfter + 0.7, 0.3);
  RecordProperty("heard", std::to_string(first) + " s, then " + std::to_string(second) + " s for a stop after " +
                              std::to_string(stopAfter) + " s");
  // Then the sink is silent to the end of the recording.
  const int silentTail = static_cast<int>(loudness.size()) - 1 - sounds[1].second;
  EXPECT_GT(silentTail, 50);
}

}  // namespace
