#include "platform/dmusic/direct_music.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/com/com.h"
#include "platform/dmusic/port_table.h"
#include "platform/dsound/dsound.h"

namespace platform {
namespace {

// What a FluidSynth port can do, reported in the capabilities.
constexpr DWORD kChannelGroups = 1000;
constexpr DWORD kVoices = 256;
constexpr DWORD kAudioChannels = 2;
constexpr DWORD kEffectReverbAndChorus = 0x3;  // DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS
constexpr DWORD kSystemMemory = 0x7FFFFFFF;    // DMUS_PC_SYSTEMMEMORY: samples live in system memory

HRESULT CreateDirectMusic(REFIID riid, void** ppv) {
  auto* object = new (std::nothrow) CDirectMusic();
  if (object == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

}  // namespace

CDirectMusic::~CDirectMusic() {
  if (m_pDirectSound != nullptr) m_pDirectSound->Release();
}

HRESULT CDirectMusic::EnumPort(DWORD dwIndex, DMUS_PORTCAPS* pPortCaps) {
  if (pPortCaps == nullptr) return E_POINTER;
  if (pPortCaps->dwSize != sizeof(DMUS_PORTCAPS)) return E_INVALIDARG;
  const std::vector<PortInfo> ports = ListSoundFontPorts();
  if (dwIndex >= ports.size()) return S_FALSE;
  const PortInfo& port = ports[dwIndex];

  std::memset(pPortCaps, 0, sizeof(DMUS_PORTCAPS));
  pPortCaps->dwSize = sizeof(DMUS_PORTCAPS);
  pPortCaps->dwFlags = port.flags;
  pPortCaps->guidPort = port.guid;
  pPortCaps->dwClass = port.dwClass;
  pPortCaps->dwType = port.type;
  pPortCaps->dwMemorySize = kSystemMemory;
  pPortCaps->dwMaxChannelGroups = kChannelGroups;
  pPortCaps->dwMaxVoices = kVoices;
  pPortCaps->dwMaxAudioChannels = kAudioChannels;
  pPortCaps->dwEffectFlags = kEffectReverbAndChorus;
  // Always terminated, whatever a test table holds.
  const std::size_t units = std::min(port.description.size(), std::size(pPortCaps->wszDescription) - 1);
  std::copy_n(port.description.begin(), units, pPortCaps->wszDescription);
  return S_OK;
}

HRESULT CDirectMusic::Activate(BOOL fEnable) {
  m_bActive = fEnable != FALSE;
  return S_OK;
}

HRESULT CDirectMusic::SetDirectSound(IDirectSound* pDirectSound, HWND hWnd) {
  std::lock_guard lock(m_lock);
  if (pDirectSound != nullptr) pDirectSound->AddRef();
  if (m_pDirectSound != nullptr) m_pDirectSound->Release();
  m_pDirectSound = pDirectSound;
  m_hWnd = hWnd;
  return S_OK;
}

HWND CDirectMusic::Window() const {
  std::lock_guard lock(m_lock);
  return m_hWnd;
}

void RegisterDirectMusicClass() { RegisterBuiltinClass(CLSID_DirectMusic, &CreateDirectMusic); }

}  // namespace platform
