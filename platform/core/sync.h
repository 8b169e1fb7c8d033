// Kernel objects for threads of one process: events and threads, with the Windows
// names and answers the program's parts use. A handle stays valid until CloseHandle;
// an event's name only labels it (events are not shared between processes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/wintypes.h"

// What a failed file or object creation answers (not null).
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~static_cast<std::uintptr_t>(0));

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// An event: manual-reset stays signalled until ResetEvent; auto-reset releases one
// waiter and turns non-signalled again. Null when it cannot be made.
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Waits until the event is signalled or ms milliseconds pass (INFINITE: no limit).
DWORD WaitForSingleObject(HANDLE event, DWORD ms);

using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);
// Starts a detached thread running start(parameter) at once; the handle only names
// it (closing it does not stop the thread). Null when the thread cannot start.
HANDLE CreateThread(void* security, std::size_t stackSize, LPTHREAD_START_ROUTINE start, void* parameter, DWORD flags,
                    DWORD* threadId);

// Closes an event's, a thread's or a file's handle. An event must have no waiter left.
BOOL CloseHandle(HANDLE handle);
