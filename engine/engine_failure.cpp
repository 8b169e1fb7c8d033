#include "engine/engine_failure.h"

#include <string>

#include "base/debug_log.h"
#include "engine/result_descriptions.h"

namespace {

std::string FailedText(const char* what) { return std::string(what) + " - FAILED"; }

void LogFailedLines(const char* what, HRESULT hr, const std::string& reason) {
  g_DebugLog.Print("%s - FAILED", what);
  g_DebugLog.Print("hr = 0x%x. %s", static_cast<unsigned>(hr), GetResultDescription(hr));
  if (!reason.empty()) g_DebugLog.Print("%s", reason.c_str());
  g_DebugLog.IndentDown();
}

void EchoReason(const std::string& reason) {
  if (!reason.empty()) DebugWindowPrint(reason.c_str());
}

}  // namespace

void LogFailure(const char* what, HRESULT hr, FailureEcho echo) { LogFailure(what, hr, echo, std::string()); }

void LogFailure(const char* what, HRESULT hr, const char* echoText) { LogFailure(what, hr, echoText, std::string()); }

void LogFailure(const char* what, HRESULT hr, FailureEcho echo, const std::string& reason) {
  LogFailedLines(what, hr, reason);
  if (echo == FailureEcho::kEcho) {
    DebugWindowPrint(FailedText(what).c_str());
    DebugWindowPrint(GetResultDescription(hr));
    EchoReason(reason);
  }
}

void LogFailureWithReason(const char* what, HRESULT hr, const std::string& reason) {
  LogFailedLines(what, hr, reason);
  DebugWindowPrint(FailedText(what).c_str());
  DebugWindowPrint(GetResultDescription(hr));
}

void LogFailure(const char* what, HRESULT hr, const char* echoText, const std::string& reason) {
  LogFailedLines(what, hr, reason);
  DebugWindowPrint(echoText);
  DebugWindowPrint(GetResultDescription(hr));
  EchoReason(reason);
}

void LogFailureWithoutCode(const char* what, FailureEcho echo) {
  g_DebugLog.Print("%s - FAILED", what);
  g_DebugLog.IndentDown();
  if (echo == FailureEcho::kEcho) DebugWindowPrint(FailedText(what).c_str());
}
