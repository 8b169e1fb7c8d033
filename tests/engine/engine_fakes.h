// Fake DirectMusic objects for the engine's tests, entered in the class table in
// place of the real ones. Every call is recorded; any call can be made to fail;
// every object counts itself while it lives.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/com/com.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dsound/dsound.h"

namespace engine_fakes {

// What the fakes saw and what they are told to do; one for the whole test program.
struct World {
  // Calls by name ("Performance::InitAudio", ...) that return the given code.
  std::map<std::string, HRESULT> failures;
  // Codes for calls that succeed with something other than S_OK.
  std::map<std::string, HRESULT> results;
  std::vector<std::string> calls;
  // Objects alive, by kind ("Performance", "AudioPath", ...).
  std::map<std::string, int> live;

  // The ports the fake DirectMusic reports, in enumeration order.
  std::vector<DMUS_PORTCAPS> ports;
  // Notification options waiting in the performance's queue.
  std::deque<DWORD> notifications;
  int freedMessages = 0;

  // Captured arguments.
  DMUS_AUDIOPARAMS audioParams{};
  IDirectMusic8* initAudioDirectMusic = nullptr;
  std::vector<float> masterTempos;
  std::vector<LONG> masterVolumes;
  std::vector<BOOL> autoDownloads;
  std::u16string loadedFileName;
  DWORD loadedValidData = 0;
  GUID loadedClass{};
  std::vector<IDirectMusicTool*> insertedTools;
  DWORD playFlags = 0;
  IUnknown* playAudioPath = nullptr;
  REFERENCE_TIME now = 0;
  MUSIC_TIME segmentLength = 0;
  REFERENCE_TIME lengthInReferenceTime = 0;

  // Records the call and returns what it was told to (S_OK by default).
  HRESULT Call(const std::string& name);
  int Live(const std::string& kind) const;
  bool Called(const std::string& name) const;
  // Position of the first call of that name in calls, or -1.
  int IndexOf(const std::string& name) const;
};

World& TheWorld();

// Clears the world and enters the fake classes as CLSID_DirectMusic,
// CLSID_DirectMusicPerformance and CLSID_DirectMusicLoader.
void InstallFakes();

// Port capabilities as a port table would give them.
DMUS_PORTCAPS Port(const char16_t* description, DWORD flags, DWORD dwClass, const GUID& guid);

}  // namespace engine_fakes
