// Where the window keeps what it writes, decided in one place. A program folder the
// user can write to and nobody else can (a build folder, a copy of the program's
// own) keeps everything beside the program, as it always has:
//   log:                  PROGRAM/log.txt
//   default output folder: PROGRAM/wav
//   Add File(s) opens in:  PROGRAM/midi
// An installed program (/opt/halvane/bin, owned by root) cannot write there, and a
// folder others can write is not the user's, so:
//   log:                  $XDG_STATE_HOME/halvane/log.txt (default ~/.local/state)
//   default output folder: the user's music folder plus "/Halvane" (made when chosen)
//   Add File(s) opens in:  the user's music folder (home, without one)
// The settings and the capture component's registration are per user either way
// (platform/registry: $XDG_CONFIG_HOME/halvane/registry.ini).
#pragma once

#include <string>

namespace base {

// True when folder is the user's to write in: this process may create files there,
// it belongs to the user (or root), and group and others cannot write to it.
bool IsWritableFolder(const std::string& folder);

// "$XDG_STATE_HOME/halvane" (an absolute $XDG_STATE_HOME), else "$HOME/.local/state/halvane";
// empty without either. Not created here.
std::string UserStateFolder();

// The user's music folder as `xdg-user-dir MUSIC` gives it: XDG_MUSIC_DIR from
// $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config), "$HOME" in it replaced;
// else $HOME/Music. Empty without HOME.
std::string UserMusicFolder();

// The window's log file for the program folder programDir; a per-user one has its
// folder made. Empty when there is nowhere to write it.
std::string LogFileFor(const std::string& programDir);

// Where Add File(s) opens when nothing was chosen before: the program folder's "midi"
// folder beside a writable program folder, else the user's music folder (or home
// folder, when the music folder does not exist).
std::string DefaultMidiFolderFor(const std::string& programDir);

// The window's output folder when none is set yet, for the program folder programDir;
// a per-user one is made.
std::string DefaultOutputFolderFor(const std::string& programDir);

}  // namespace base
