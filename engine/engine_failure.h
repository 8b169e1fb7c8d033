// How an engine operation reports a failed call: the call's text with " - FAILED"
// and the line "hr = 0x%x. %s" in the log, the log one level back up, and the same
// texts echoed to the developer channel.
#pragma once

#include <optional>
#include <string>

#include "base/debug_log.h"
#include "platform/core/wintypes.h"

struct Failure {
  // The failed call's code; none for a failure without a code worth showing (then
  // only "<what> - FAILED" is logged and echoed).
  std::optional<HRESULT> hr{};
  // Both texts go to DebugWindowPrint as well.
  bool echo = true;
  // Echoed (a whole line) instead of "<what> - FAILED".
  const char* echoText = nullptr;
  // The reason the platform gave (which file, what the loader or the synthesiser
  // said): logged as a line of its own after the code's line, at the same level,
  // and echoed last unless echoReason is false; an empty reason adds nothing.
  std::string reason{};
  bool echoReason = true;
  // The operation's level, which the failure closes; none: the log's level is
  // lowered by one.
  LogLevel* level = nullptr;
};

// Logs "<what> - FAILED", then "hr = 0x%x. %s" with the code and its description,
// then the reason; goes one level back up; then echoes as failure says.
void LogFailure(const char* what, const Failure& failure);
