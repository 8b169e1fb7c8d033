// The loader: reads a Standard MIDI file named in an object description into a
// segment. Registered as the built-in class CLSID_DirectMusicLoader.
#pragma once

#include <mutex>
#include <string>

#include "platform/com/com_object.h"
#include "platform/dmusic/dmusic.h"

namespace platform {

class CLoader final : public ComObject<IDirectMusicLoader8, IID_IDirectMusicLoader8> {
 public:
  // The largest file the loader reads (no MIDI file comes near it).
  static constexpr std::uintmax_t kMaxFileBytes = 64u << 20;

  CLoader() = default;

  // Loads a segment (guidClass CLSID_DirectMusicSegment when DMUS_OBJ_CLASS is
  // given) from the file named by wszFileName (DMUS_OBJ_FILENAME, the full path,
  // UTF-16) or from memory (DMUS_OBJ_MEMORY). Results: DMUS_E_LOADER_NOFILENAME
  // without a name, DMUS_E_LOADER_FAILEDOPEN when the file cannot be opened or
  // read, DMUS_E_INVALIDFILE for a file over kMaxFileBytes, the MIDI reader's
  // code for a file it cannot play, E_NOINTERFACE for an interface the segment
  // does not offer.
  HRESULT GetObject(DMUS_OBJECTDESC* pDesc, REFIID riid, void** ppv) override;

  // Why the last GetObject failed, in a few words ("the file is empty", "track 2:
  // a variable-length number runs over 4 bytes; ..."); empty after a success.
  std::string LastFailure() const;

 private:
  ~CLoader() override = default;
  HRESULT Load(DMUS_OBJECTDESC* pDesc, REFIID riid, void** ppv, std::string& reason);

  mutable std::mutex lock_;
  std::string lastFailure_;
};

// For the engine's log: why the last load of a loader of ours failed; empty for
// one that succeeded and for anyone else's loader.
std::string LoaderFailureReason(IDirectMusicLoader8* loader);

}  // namespace platform
