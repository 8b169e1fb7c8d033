// The single-instance rule: a per-user named lock standing in for a named mutex, and a
// local socket beside it on which the running instance hears a registered message
// sent by a second instance (the stand-in for a broadcast to all top-level windows).
//
// The lock is an exclusive flock on a file in $XDG_RUNTIME_DIR (else in a private
// folder "halvane-<uid>" under $TMPDIR or /tmp) named after the mutex name. The lock
// lives as long as the process, so a crashed instance never blocks the next one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/last_error.h"
#include "platform/core/winerror.h"
#include "platform/core/wintypes.h"

// The id of a registered message: the same for the same name (case-insensitive) in
// every process, in the range 0xC000..0xFFFF.
UINT RegisterWindowMessageA(const char* name);

// Creates (or opens) the per-user named mutex. The handle is returned in both cases;
// when another holder of the name exists (another process, or an earlier handle in this
// process), the calling thread's last error is ERROR_ALREADY_EXISTS, otherwise 0. The
// handle stays valid until the process ends. Returns null when the lock file cannot be
// made (last error then says why).
HANDLE CreateMutexA(void* security, BOOL initialOwner, const char* name);
// Gives up ownership of a mutex this process holds. The name stays taken until the
// process ends, as a Windows mutex stays in existence while its handle is open.
BOOL ReleaseMutex(HANDLE mutex);

// Sends msg, with args (such as the files a second start was given), to the instance
// listening for mutexName (StartRegisteredMessageListener). TRUE when the message was
// handed over, FALSE when nobody listens or args are larger than kMaxMessageArgBytes.
BOOL BroadcastRegisteredMessage(UINT msg, const char* mutexName, const std::vector<std::string>& args = {});
// The most a message's arguments may hold, their terminators included.
constexpr std::size_t kMaxMessageArgBytes = 1 << 20;

// Starts hearing messages for mutexName on a background thread; onMessage is called on
// that thread for each message received (the receiver marshals it where it needs it,
// without waiting for it there: the thread is joined when the process exits).
// Called by the instance that owns the mutex: a socket left behind by a crashed
// instance is replaced. Starting again replaces the previous listener. The thread is
// stopped and joined when the process exits normally, or by StopRegisteredMessageListener.
// Returns FALSE when the socket cannot be set up.
using RegisteredMessageHandler = std::function<void(UINT msg, std::vector<std::string> args)>;
BOOL StartRegisteredMessageListener(const char* mutexName, RegisteredMessageHandler onMessage);
BOOL StartRegisteredMessageListener(const char* mutexName, std::function<void(UINT msg)> onMessage);
void StopRegisteredMessageListener();

namespace platform {
// The files behind a mutex name (for diagnostics and tests).
std::string InstanceLockPath(const char* mutexName);
std::string InstanceSocketPath(const char* mutexName);
}  // namespace platform
