#include "platform/synth/fluid_log.h"

#include <fluidsynth.h>

#include <mutex>
#include <utility>

namespace platform {
namespace {

thread_local std::string t_firstError;

void KeepError(int, const char* message, void*) {
  if (t_firstError.empty() && message != nullptr) t_firstError = message;
}

}  // namespace

void SilenceFluidSynthLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level)
      fluid_set_log_function(level, level <= FLUID_ERR ? KeepError : nullptr, nullptr);
  });
}

std::string TakeFluidSynthError() { return std::exchange(t_firstError, std::string()); }

}  // namespace platform
