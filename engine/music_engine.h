// The music engine's life and its configuration for one rendering: the DirectMusic
// objects of EngineState, the synthesiser ports offered as devices, and the
// performance set up on the chosen port at the chosen tempo.
#pragma once

#include <string>
#include <vector>

#include "platform/core/wintypes.h"

// Creates the DirectMusic object, the performance and the loader. S_OK, or the
// code of the call that failed (its two failure lines are logged).
HRESULT InitDirectMusic(HWND hWnd);

// Releases whatever exists of the engine, in the order the objects depend on one
// another, and ends the calling thread's use of the component runtime. Always S_OK.
HRESULT RemoveDirectMusic();

// Removes the engine (RemoveDirectMusic) when it goes, or earlier at Remove (once):
// every way out of the scope that made the engine removes it.
class EngineRemoval {
 public:
  EngineRemoval() = default;
  ~EngineRemoval() { Remove(); }
  EngineRemoval(const EngineRemoval&) = delete;
  EngineRemoval& operator=(const EngineRemoval&) = delete;

  void Remove() {
    if (removed_) return;
    removed_ = true;
    RemoveDirectMusic();
  }

 private:
  bool removed_ = false;
};

// Reads port index's capabilities: 1 when the port exists, its name written to
// name (at least kPortNameSize bytes) if it can render through an audio path, an
// empty string otherwise (also when the port could not be read); 0 past the last port.
int EnumerateAllPorts(DWORD index, char* name);

// Sets the performance up for one rendering on port portIndex (an enumeration
// index) with the master tempo of tempoPosition (0-100: 0.5 to 1.5 times the
// file's own tempo): audio path, its buffer, automatic instrument download, a new
// music tool first in the tool graph, full volume everywhere.
HRESULT ConfigureSynthesizer(DWORD portIndex, DWORD tempoPosition);

// Starts loading the SoundFont of port portIndex (an enumeration index) in the
// background, so that the first ConfigureSynthesizer on it finds it loaded and an
// audition starts at once. Nothing is reported: a SoundFont that cannot be loaded
// fails the ConfigureSynthesizer that needs it. RemoveDirectMusic waits for the load.
void PrepareSynthesizer(DWORD portIndex);

// The folders searched for SoundFonts, in the order they are searched: each
// SoundFont found there is a port.
std::vector<std::string> SoundFontFolders();

// The synthesiser's version, as "2.3.1".
const char* SynthesizerVersion();

// Room for a port name, terminator included.
constexpr int kPortNameSize = 260;

// How the Device list's loop over EnumerateAllPorts ends. EnumerateAllPorts gives
// 1 for every index whose port cannot be read, so a port list that fails at every
// index would never give the 0 that ends it; the loop therefore also stops after
// the index kLastPortIndex and once it holds kMaxNamedPorts names (all the Device
// list has room for).
constexpr DWORD kLastPortIndex = 256;
constexpr int kMaxNamedPorts = 32;
constexpr bool PortLoopGoesOn(DWORD index, int namedPorts) {
  return index <= kLastPortIndex && namedPorts < kMaxNamedPorts;
}

// The master tempo factor of a tempo position: position / 100 + 0.5.
float MasterTempoFactor(DWORD tempoPosition);
