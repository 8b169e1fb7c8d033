#include "platform/synth/sound_font_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fluidsynth.h>

#include <cerrno>
#include <cstring>

#include "platform/core/unique_fd.h"
#include "platform/synth/fluid_log.h"

namespace platform {

std::string SoundFontProblem(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno == ENOENT ? "there is no such file" : std::strerror(errno);
  // A FIFO or a device could block the reader, or never end.
  if (!S_ISREG(info.st_mode)) return S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file";
  UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) return std::string("it cannot be read: ") + std::strerror(errno);
  char header[12] = {};
  const ssize_t got = ::read(file.Get(), header, sizeof header);
  if (got < 0) return std::string("it cannot be read: ") + std::strerror(errno);
  if (got != static_cast<ssize_t>(sizeof header) || !IsInstrumentFileHeader(header))
    return "not a SoundFont (.sf2, .sf3) or DLS file";

  SilenceFluidSynthLog();
  fluid_settings_t* settings = new_fluid_settings();
  fluid_synth_t* synth = settings != nullptr ? new_fluid_synth(settings) : nullptr;
  std::string problem;
  if (synth == nullptr) {
    problem = std::strerror(ENOMEM);
  } else {
    TakeFluidSynthError();
    if (fluid_synth_sfload(synth, path.c_str(), 0) == FLUID_FAILED) {
      problem = TakeFluidSynthError();
      if (problem.empty()) problem = "FluidSynth cannot load it";
    }
  }
  if (synth != nullptr) delete_fluid_synth(synth);
  if (settings != nullptr) delete_fluid_settings(settings);
  return problem;
}

bool IsInstrumentFileHeader(const char (&header)[12]) {
  return std::memcmp(header, "RIFF", 4) == 0 &&
         (std::memcmp(header + 8, "sfbk", 4) == 0 || std::memcmp(header + 8, "DLS ", 4) == 0);
}

}  // namespace platform
