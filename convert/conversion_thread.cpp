#include "convert/conversion_thread.h"

#include <atomic>

#include "base/process_state.h"
#include "platform/core/sync.h"

namespace {
std::atomic<bool> s_stopRequested{false};
}  // namespace

DWORD ConversionThread(void*) {
  for (;;) {
    WaitForSingleObject(hConvertEvent, INFINITE);
    if (s_stopRequested.load()) continue;
  }
}

void RequestWorkerStop() { s_stopRequested.store(true); }

bool WorkerBusy() { return false; }
