// Loading a component library, which runs its code in this process: only a file that
// no other user could have put there or swapped, checked on the open file and loaded
// from that same open file, so nothing can change between the check and the load.
#pragma once

#include <functional>
#include <string>

namespace platform {

// Loads the shared library at path (dlopen, RTLD_NOW | RTLD_LOCAL) when:
//  - path is absolute;
//  - the file, opened once without following a final link, is a regular file of the
//    user's or root's that group and others cannot write;
//  - every folder from the file's real folder up to / is the user's or root's and
//    cannot be written by group or others (a sticky folder such as /tmp is refused
//    too: others can put files in it).
// The library is loaded as "/proc/self/fd/N" of the open file, which stays open with
// it. Returns the library's handle, or null with reason set ("not a regular file", "the
// folder /x can be written by others", the loader's own message, ...).
void* LoadServerLibrary(const std::string& path, std::string& reason);

// Tests only: called with path once the file is open and has passed every check,
// just before it is loaded.
void SetServerLibraryHookForTesting(std::function<void(const std::string& path)> hook);

}  // namespace platform
