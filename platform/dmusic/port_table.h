// The synthesiser ports: one output port per SoundFont file found on the system.
// Listing only looks at folders and file names; no SoundFont is loaded here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/core/wintypes.h"

namespace platform {

struct PortInfo {
  std::string path;            // the SoundFont's real path (UTF-8)
  GUID guid;                   // stable identity, made from the real path
  std::u16string description;  // "FluidSynth: <name>", fewer than 128 UTF-16 units
  DWORD flags;                 // DMUS_PC_* capabilities
  DWORD dwClass;               // DMUS_PC_OUTPUTCLASS or DMUS_PC_INPUTCLASS
  DWORD type;                  // DMUS_PORT_*
};

// The capabilities every SoundFont port reports.
DWORD SoundFontPortFlags();

// The SoundFont folders in search order: the folders of HALVANE_SOUNDFONTS
// (colon-separated) when set, the program folder's soundfonts/, the user's and
// then the system's SoundFont folders.
std::vector<std::string> SoundFontSearchFolders();

// The ports, in enumeration order: the system's default GM SoundFont first (where
// present), then every .sf2, .sf3 and .dls file of the search folders, folder by
// folder and sorted by name within a folder; a file reached twice (same real path)
// is listed once. The listing is made once per process; a test table replaces it.
std::vector<PortInfo> ListSoundFontPorts();

// The listing for the given folders and default SoundFont, made afresh (the
// building block of ListSoundFontPorts).
std::vector<PortInfo> ScanSoundFontPorts(const std::vector<std::string>& folders, const std::string& defaultFont);

// Puts a port for the SoundFont at path (a regular file, by its real path) first in
// the listing, where GUID_NULL and the first Device list entry stand for it; a port
// the search found for the same file is taken out. For a SoundFont named by its
// user. False when path names no regular file.
bool PutSoundFontPortFirst(const std::string& path);

// Replaces the listing with a table of the test's own (which may hold ports that
// a SoundFont port never is: input class, without audio-path support, ...), or
// with nullopt restores the system's listing.
void SetPortTableForTesting(std::optional<std::vector<PortInfo>> table);

// The SoundFont behind a port identity: GUID_NULL stands for the first port;
// nullopt when no port has this identity (or there is no port at all).
std::optional<std::string> SoundFontPathForPort(const GUID& guid);

}  // namespace platform
