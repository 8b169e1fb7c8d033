#include "engine/engine_failure.h"

#include <string>

#include "engine/result_descriptions.h"

void LogFailure(const char* what, const Failure& failure) {
  g_DebugLog.Print("%s - FAILED", what);
  if (failure.hr) {
    g_DebugLog.Print("hr = 0x%x. %s", static_cast<unsigned>(*failure.hr), GetResultDescription(*failure.hr));
  }
  if (!failure.reason.empty()) g_DebugLog.Print("%s", failure.reason.c_str());
  if (failure.level != nullptr) {
    failure.level->Close();
  } else {
    g_DebugLog.IndentDown();
  }
  if (!failure.echo) return;
  DebugWindowPrint(failure.echoText != nullptr ? failure.echoText : (std::string(what) + " - FAILED").c_str());
  if (failure.hr) DebugWindowPrint(GetResultDescription(*failure.hr));
  if (failure.echoReason && !failure.reason.empty()) DebugWindowPrint(failure.reason.c_str());
}
