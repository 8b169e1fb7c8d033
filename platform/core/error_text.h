// The reason behind a platform call's failure, for the log: like the error object a
// COM call leaves for its thread, a failing call that knows more than its result code
// (which file, what the loader or the synthesiser said) leaves that text for the
// calling thread, and the caller takes it (taking clears it).
#pragma once

#include <string>

namespace platform {

// Leaves text for the calling thread, replacing what was there.
void SetErrorText(std::string text);
// The text left for the calling thread (empty when none); clears it.
std::string TakeErrorText();

}  // namespace platform
