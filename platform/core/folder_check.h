// Whether a folder can take new files, asked before work that would be lost if it
// cannot (a song rendered for minutes with nowhere to go), and making a folder.
#pragma once

#include <string>

namespace platform {

// Empty when new files can be made in folder; otherwise the system's reason, in its
// words: the folder is missing, is not a folder, may not be written by this user,
// lies on a read-only file system, or its file system has no space left.
std::string FolderWriteProblem(const std::string& folder);

// Makes folder and the folders above it that are missing. Empty when folder exists
// as a folder afterwards, else the system's reason.
std::string MakeFolders(const std::string& folder);

}  // namespace platform
