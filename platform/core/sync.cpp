#include "platform/core/sync.h"

#include "platform/core/kernel_object.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

struct Event : platform::KernelObject {
  Event(bool manual, bool initial, std::string n) : manualReset(manual), signalled(initial), name(std::move(n)) {}
  std::mutex lock;
  std::condition_variable changed;
  const bool manualReset;
  bool signalled;
  const std::string name;
};

struct ThreadHandle : platform::KernelObject {};

Event* AsEvent(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  return dynamic_cast<Event*>(platform::FromHandle(handle));
}

std::atomic<DWORD> g_nextThreadId{1};

}  // namespace

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, const char* name) {
  return platform::ToHandle(new (std::nothrow)
                                Event(manualReset != FALSE, initialState != FALSE, name == nullptr ? "" : name));
}

BOOL SetEvent(HANDLE handle) {
  Event* event = AsEvent(handle);
  if (event == nullptr) return FALSE;
  {
    std::lock_guard lock(event->lock);
    event->signalled = true;
  }
  if (event->manualReset) {
    event->changed.notify_all();
  } else {
    event->changed.notify_one();
  }
  return TRUE;
}

BOOL ResetEvent(HANDLE handle) {
  Event* event = AsEvent(handle);
  if (event == nullptr) return FALSE;
  std::lock_guard lock(event->lock);
  event->signalled = false;
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms) {
  Event* event = AsEvent(handle);
  if (event == nullptr) return WAIT_FAILED;
  std::unique_lock lock(event->lock);
  auto ready = [event] { return event->signalled; };
  if (ms == INFINITE) {
    event->changed.wait(lock, ready);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(ms), ready)) {
    return WAIT_TIMEOUT;
  }
  if (!event->manualReset) event->signalled = false;
  return WAIT_OBJECT_0;
}

HANDLE CreateThread(void*, std::size_t, LPTHREAD_START_ROUTINE start, void* parameter, DWORD, DWORD* threadId) {
  if (start == nullptr) return nullptr;
  auto handle = std::make_unique<ThreadHandle>();
  try {
    std::thread([start, parameter] { start(parameter); }).detach();
  } catch (const std::system_error&) {
    return nullptr;
  }
  if (threadId != nullptr) *threadId = g_nextThreadId.fetch_add(1);
  return platform::ToHandle(handle.release());
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return FALSE;
  delete platform::FromHandle(handle);
  return TRUE;
}
