// Whether a SoundFont file given by its path can play: for a program that takes
// one from its user, who is told at once why it cannot rather than when the
// first song is configured.
#pragma once

#include <string>

namespace platform {

// Empty when FluidSynth loads the file at path (a SoundFont, RIFF sfbk, or a DLS
// collection); else why not: missing, not a regular file, unreadable (the system's
// reason), not a SoundFont, or FluidSynth's own reason. The loaded copy is let go.
std::string SoundFontProblem(const std::string& path);

// True when the first 12 bytes of a file are those of a SoundFont (RIFF sfbk) or a
// DLS collection (RIFF DLS): only such files go to FluidSynth, whose DLS reader
// reports others on standard error.
bool IsInstrumentFileHeader(const char (&header)[12]);

}  // namespace platform
