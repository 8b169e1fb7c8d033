#include "platform/dmusic/engine_classes.h"

#include <mutex>

#include "platform/dmusic/direct_music.h"
#include "platform/dmusic/performance.h"

namespace platform {

void RegisterMusicEngineClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterDirectMusicClass();
    RegisterPerformanceClasses();
  });
}

}  // namespace platform
