// Starting programs the way the shell's "open" verb does, without a command
// interpreter: the file names a program (a path, a name found on PATH, or
// "regsvr32", which stands for the registration program in the program folder).
#pragma once

#include <string>
#include <vector>

#include "platform/core/wintypes.h"

using HINSTANCE = void*;

// Results at or below 32 are failures, as on Windows.
constexpr int SE_ERR_FNF = 2;           // the program was not found or could not start
constexpr int SE_ERR_PNF = 3;           // the working folder does not exist
constexpr int SE_ERR_ACCESSDENIED = 5;  // the program may not be run
constexpr int SE_ERR_OOM = 8;           // out of resources
constexpr int SE_ERR_NOASSOC = 31;      // the verb is not "open"

// The registration program that "regsvr32" stands for, in the program folder.
inline constexpr const char* kRegistrationProgram = "halvane-regsvr";

// Starts file with params split on blanks (double quotes group a part with blanks and
// are removed) in the folder dir (null or empty: the current one). verb must be null
// or "open". No window is ever shown, so owner and show are not used. Does not wait
// for the program; it is reaped when it ends. Returns a value above 32 on success,
// else one of the codes above.
HINSTANCE ShellExecuteA(HWND owner, const char* verb, const char* file, const char* params, const char* dir, int show);

namespace platform {
// The full path ShellExecuteA runs for file ("regsvr32" mapped, a bare name looked up
// on PATH); empty when no such program exists.
std::string ResolveShellProgram(const char* file);

// Starts file (resolved as above) with exactly these arguments, each passed whole,
// without a command interpreter, in the folder dir (null or empty: the current one).
// Does not wait for the program. The same results as ShellExecuteA.
int StartProgram(const char* file, const std::vector<std::string>& arguments, const char* dir = nullptr);
}  // namespace platform
