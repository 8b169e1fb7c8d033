// Programs the tests start as a user starts them, and wait for.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

// Starts program with args in the test's environment; -1 when it cannot start.
// With a folder, the program runs there, its standard output and error going to
// the folder's files "stdout" and "stderr".
pid_t StartProcess(const std::string& program, std::vector<std::string> args, const std::filesystem::path& folder = {});

// The exit code, -1 when a signal ended the process, or nullopt when it did not
// end within limit (it is then killed).
std::optional<int> WaitForExit(pid_t pid, std::chrono::seconds limit);

}  // namespace testing_support
