#include "platform/core/error_text.h"

#include <utility>

namespace platform {
namespace {

thread_local std::string t_errorText;

}  // namespace

void SetErrorText(std::string text) { t_errorText = std::move(text); }

std::string TakeErrorText() { return std::exchange(t_errorText, std::string()); }

}  // namespace platform
