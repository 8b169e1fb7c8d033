// How an engine operation reports a failed call: the call's text with " - FAILED"
// and the line "hr = 0x%x. %s" in the log, the log one level back up, and the same
// texts echoed to the developer channel.
#pragma once

#include <string>

#include "platform/core/wintypes.h"

enum class FailureEcho {
  kEcho,    // both texts go to DebugWindowPrint as well
  kNoEcho,  // the log only
};

// Logs "<what> - FAILED", then "hr = 0x%x. %s" with hr and its description, then
// IndentDown; then echoes "<what> - FAILED" and the description unless told not to.
void LogFailure(const char* what, HRESULT hr, FailureEcho echo = FailureEcho::kEcho);

// As LogFailure, with the reason for the failure (when not empty) as a line of
// its own under the code's line, at the same level; the reason is not echoed.
void LogFailureWithReason(const char* what, HRESULT hr, const std::string& reason);

// As LogFailure, but echoes echoText (a whole line) instead of "<what> - FAILED".
void LogFailure(const char* what, HRESULT hr, const char* echoText);

// As the two LogFailure above, with the reason the platform gave for the failure
// (which file, what the loader or the synthesiser said) logged after the code line
// and, unlike LogFailureWithReason, echoed last; an empty reason adds nothing.
void LogFailure(const char* what, HRESULT hr, FailureEcho echo, const std::string& reason);
void LogFailure(const char* what, HRESULT hr, const char* echoText, const std::string& reason);

// For failures without a code worth showing: logs "<what> - FAILED", then
// IndentDown; echoes only that text unless told not to.
void LogFailureWithoutCode(const char* what, FailureEcho echo = FailureEcho::kEcho);
