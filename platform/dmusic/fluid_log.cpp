#include "platform/dmusic/fluid_log.h"

#include <fluidsynth.h>

#include <mutex>

namespace platform {

void SilenceFluidSynthLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) fluid_set_log_function(level, nullptr, nullptr);
  });
}

}  // namespace platform
