// halvane-regsvr: enters a component library in the class tables, or removes it.
//
//   halvane-regsvr [/s] [/u] LIBRARY
//
// /s: silent (no messages); /u: unregister. A LIBRARY without a folder is looked up
// in the program folder, where "NAME.dll" stands for NAME.so (or libNAME.so); one
// with a folder is taken from the current folder. The library is loaded, under the
// rules every in-process server is loaded by (a regular file, the user's or root's,
// in folders up to / that nobody else can write; see platform/com/server_library.h),
// and its DllRegisterServer (or DllUnregisterServer) is called.
//
// Exit codes: 0 done, 1 bad arguments, 3 the library cannot be loaded, 4 it lacks the
// entry point, 5 the entry point failed.
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/com/server_library.h"
#include "platform/core/kernel.h"
#include "platform/core/wintypes.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitArguments = 1;
constexpr int kExitLoad = 3;
constexpr int kExitEntry = 4;
constexpr int kExitRegistration = 5;

using RegistrationEntry = HRESULT (*)();

bool IsSwitch(std::string_view arg, char letter) {
  return arg.size() == 2 && (arg[0] == '/' || arg[0] == '-') && (arg[1] == letter || arg[1] == letter - 'a' + 'A');
}

bool EndsWithIgnoringCase(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (std::size_t i = 0; i < end.size(); ++i) {
    char c = text[text.size() - end.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

bool Exists(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

// The file to load for the name given on the command line, as an absolute path.
std::filesystem::path ResolveLibrary(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(name, error);
    return error ? std::filesystem::path(name) : absolute;
  }
  const std::filesystem::path folder = std::filesystem::path(platform::ProgramPath()).parent_path();
  if (Exists(folder / name)) return folder / name;
  if (EndsWithIgnoringCase(name, ".dll")) {
    const std::string stem = name.substr(0, name.size() - 4);
    for (const std::string& candidate : {stem + ".so", "lib" + stem + ".so"})
      if (Exists(folder / candidate)) return folder / candidate;
  }
  return folder / name;
}

}  // namespace

int main(int argc, char** argv) {
  bool silent = false;
  bool unregister = false;
  std::string library;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (IsSwitch(arg, 's')) {
      silent = true;
    } else if (IsSwitch(arg, 'u')) {
      unregister = true;
    } else if (library.empty() && !arg.empty() && arg[0] != '/' && arg[0] != '-') {
      library = arg;
    } else if (library.empty() && arg.find('/', 1) != std::string_view::npos) {
      library = arg;  // an absolute path
    } else {
      if (!silent) std::fprintf(stderr, "Unrecognized flag: %s\n", argv[i]);
      return kExitArguments;
    }
  }
  if (library.empty()) {
    if (!silent) std::fprintf(stderr, "Usage: halvane-regsvr [/s] [/u] LIBRARY\n");
    return kExitArguments;
  }

  const std::filesystem::path path = ResolveLibrary(library);
  std::string problem;
  void* handle = platform::LoadServerLibrary(path.string(), problem);
  if (handle == nullptr) {
    if (!silent) std::fprintf(stderr, "The module \"%s\" failed to load: %s\n", path.c_str(), problem.c_str());
    return kExitLoad;
  }
  const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  auto entry = reinterpret_cast<RegistrationEntry>(::dlsym(handle, entryName));
  if (entry == nullptr) {
    if (!silent)
      std::fprintf(stderr, "The module \"%s\" was loaded but the entry-point %s was not found.\n", library.c_str(),
                   entryName);
    return kExitEntry;
  }
  const HRESULT hr = entry();
  if (FAILED(hr)) {
    if (!silent)
      std::fprintf(stderr, "The module \"%s\" was loaded but the call to %s failed with error code 0x%08x.\n",
                   library.c_str(), entryName, static_cast<unsigned>(hr));
    return kExitRegistration;
  }
  if (!silent) std::printf("%s in %s succeeded.\n", entryName, library.c_str());
  return kExitOk;
}
