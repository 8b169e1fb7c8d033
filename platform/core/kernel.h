// Kernel services the program uses: waiting, the program's own path.
#pragma once

#include <functional>
#include <string>

#include "wintypes.h"

namespace platform {

// Waits ms milliseconds. A thread that has a wait driver installed (the recording
// clock of an off-line rendering) hands the wait to it instead: the driver advances
// its own clock by ms and returns when that much music has been rendered.
void Sleep(DWORD ms);

using WaitDriver = std::function<void(DWORD ms)>;
// Installs (or, with an empty function, removes) the calling thread's wait driver.
void SetThreadWaitDriver(WaitDriver driver);
bool HasThreadWaitDriver();

// The process heap's handle: a stable, non-null value (allocations use the C++ heap).
HANDLE GetProcessHeap();

// Ends the process at once with code, the standard streams flushed first. A test may
// install a replacement (SetExitProcessForTesting) that records the call and returns;
// callers therefore stop what they were doing after calling it.
void ExitProcess(UINT code);
void SetExitProcessForTesting(std::function<void(UINT code)> replacement);

// The running program's full path (from /proc/self/exe, links resolved).
std::string ProgramPath();

}  // namespace platform
