// The DirectMusic object: lists the synthesiser ports (one per SoundFont), keeps
// the sound-device settings the program hands it, and switches the ports on and off.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/com/com_object.h"
#include "platform/dmusic/dmusic.h"

namespace platform {

class CDirectMusic final : public ComObject<IDirectMusic8, IID_IDirectMusic8> {
 public:
  // Starts with one reference, owned by whoever created it.
  CDirectMusic() = default;

  // IDirectMusic8
  // Fills the capabilities of port dwIndex; S_FALSE past the last port.
  // E_INVALIDARG unless pPortCaps->dwSize is sizeof(DMUS_PORTCAPS).
  HRESULT EnumPort(DWORD dwIndex, DMUS_PORTCAPS* pPortCaps) override;
  HRESULT Activate(BOOL fEnable) override;
  // Accepts no DirectSound object (one is made when needed) or one of the caller's.
  HRESULT SetDirectSound(IDirectSound* pDirectSound, HWND hWnd) override;

  bool IsActive() const { return m_bActive.load(); }
  HWND Window() const;

 private:
  ~CDirectMusic() override;

  std::atomic<bool> m_bActive{true};
  mutable std::mutex m_lock;
  IDirectSound* m_pDirectSound = nullptr;  // one reference, released with the object
  HWND m_hWnd = nullptr;
};

// Enters CDirectMusic in the class table as CLSID_DirectMusic.
void RegisterDirectMusicClass();

}  // namespace platform
