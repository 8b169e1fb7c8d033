// The audio path's sound buffer: 16-bit stereo PCM at the synthesiser's rate, with
// a volume and a chain of in-place effects (DirectX media objects).
#pragma once

#include "platform/com/unknown.h"
#include "platform/core/waveformat.h"
#include "platform/core/wintypes.h"

struct IDirectSound : IUnknown {
 protected:
  ~IDirectSound() = default;
};

inline constexpr IID IID_IDirectSoundBuffer{
    0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
inline constexpr IID IID_IDirectSoundBuffer8{
    0x6825A449, 0x7524, 0x4D82, {0x92, 0x0F, 0x50, 0xE3, 0x6A, 0xB3, 0xAB, 0x1E}};

constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;

constexpr DWORD DSFX_LOCHARDWARE = 0x1;
constexpr DWORD DSFX_LOCSOFTWARE = 0x2;

// Per-effect results of SetFX.
constexpr DWORD DSFXR_PRESENT = 0;
constexpr DWORD DSFXR_LOCHARDWARE = 1;
constexpr DWORD DSFXR_LOCSOFTWARE = 2;
constexpr DWORD DSFXR_UNALLOCATED = 3;
constexpr DWORD DSFXR_FAILED = 4;
constexpr DWORD DSFXR_UNKNOWN = 5;

constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = MakeResult(0x88780032);
constexpr HRESULT DSERR_CONTROLUNAVAIL = MakeResult(0x8878001E);
constexpr HRESULT DSERR_UNINITIALIZED = MakeResult(0x887800AA);
constexpr HRESULT DSERR_NODRIVER = MakeResult(0x88780078);
constexpr HRESULT DSERR_ALLOCATED = MakeResult(0x8878000A);
constexpr HRESULT DSERR_ALREADYINITIALIZED = MakeResult(0x88780082);

struct DSEFFECTDESC {
  DWORD dwSize;
  DWORD dwFlags;
  GUID guidDSFXClass;
  std::uint32_t dwReserved1;  // pointer-sized on Windows; unused
  std::uint32_t dwReserved2;
};
static_assert(sizeof(DSEFFECTDESC) == 32);

struct IDirectSoundBuffer8 : IUnknown {
  virtual HRESULT GetFormat(WAVEFORMATEX* pwfx, DWORD dwSizeAllocated, DWORD* pdwSizeWritten) = 0;
  virtual HRESULT GetVolume(LONG* plVolume) = 0;
  virtual HRESULT SetVolume(LONG lVolume) = 0;
  // Replaces the buffer's effects with dwEffectsCount new ones (0 removes them all).
  // Only while the buffer is not playing (DSERR_INVALIDCALL otherwise).
  virtual HRESULT SetFX(DWORD dwEffectsCount, DSEFFECTDESC* pDSFXDesc, DWORD* pdwResultCodes) = 0;

 protected:
  ~IDirectSoundBuffer8() = default;
};
