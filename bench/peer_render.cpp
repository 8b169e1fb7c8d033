#include "bench/peer_render.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "bench/synthesis_settings.h"
#include "platform/synth/synthesizer.h"

extern char** environ;

namespace bench {
namespace {

// One program of a pipeline: its arguments and where its standard streams go.
struct Stage {
  std::vector<std::string> args;
  int in = -1;   // -1: /dev/null
  int out = -1;  // -1: /dev/null
};

// Starts the stage without a shell; its stderr is dropped. Returns the pid or -1.
pid_t Start(Stage& stage, const std::vector<int>& closeInChild) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stage.in >= 0)
    posix_spawn_file_actions_adddup2(&actions, stage.in, STDIN_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (stage.out >= 0)
    posix_spawn_file_actions_adddup2(&actions, stage.out, STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  for (int fd : closeInChild) posix_spawn_file_actions_addclose(&actions, fd);
  std::vector<char*> argv;
  for (auto& arg : stage.args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

// The program's exit code, or -1 when it did not end normally.
int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> FluidSynthCommand(const std::string& soundFont, const std::string& midiFile, const char* type,
                                           const std::string& out) {
  std::vector<std::string> args{"fluidsynth"};
  for (const std::string& option : FluidSynthOptions()) args.push_back(option);
  for (const std::string& option : {std::string("-T"), std::string(type), std::string("-F"), out})
    args.push_back(option);
  args.push_back(soundFont);
  args.push_back(midiFile);
  return args;
}

std::string Kilohertz(int rate) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", rate / 1000.0);
  return text;
}

}  // namespace

bool RenderWithFluidSynth(const std::string& soundFont, const std::string& midiFile, const std::string& outFile,
                          OutputFormat format, int mp3Rate, std::string& error) {
  if (format == OutputFormat::kWav) {
    Stage synth{FluidSynthCommand(soundFont, midiFile, "wav", outFile)};
    const pid_t pid = Start(synth, {});
    if (pid < 0) {
      error = "cannot start fluidsynth";
      return false;
    }
    if (Wait(pid) != 0) {
      error = "fluidsynth failed";
      return false;
    }
    return true;
  }

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = "cannot make a pipe";
    return false;
  }
  Stage synth{FluidSynthCommand(soundFont, midiFile, "raw", "-"), -1, pipeFds[1]};
  Stage encoder{{"lame", "--silent", "-r", "-s", Kilohertz(platform::Synthesizer::kSampleRate), "--bitwidth", "16",
                 "--signed", "--little-endian", "--resample", Kilohertz(mp3Rate), "-", outFile},
                pipeFds[0],
                -1};
  const pid_t synthPid = Start(synth, {});
  const pid_t encoderPid = Start(encoder, {});
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  const int synthCode = synthPid >= 0 ? Wait(synthPid) : -1;
  const int encoderCode = encoderPid >= 0 ? Wait(encoderPid) : -1;
  if (synthPid < 0 || encoderPid < 0) {
    error = synthPid < 0 ? "cannot start fluidsynth" : "cannot start lame";
    return false;
  }
  if (synthCode != 0 || encoderCode != 0) {
    error = synthCode != 0 ? "fluidsynth failed" : "lame failed";
    return false;
  }
  return true;
}

}  // namespace bench
