// What a kernel handle (event, thread, file) points at. CloseHandle deletes the
// object behind any of them through this base, so each kind frees what it holds.
#pragma once

#include "platform/core/wintypes.h"

namespace platform {

class KernelObject {
 public:
  KernelObject() = default;
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;
};

// The handle of an object, and back. Handles always go through the base, so a
// handle made for one kind can be looked at as another with dynamic_cast.
inline HANDLE ToHandle(KernelObject* object) { return static_cast<void*>(object); }
inline KernelObject* FromHandle(HANDLE handle) { return static_cast<KernelObject*>(handle); }

}  // namespace platform
