// A private interface by which an effect declares itself a recording sink: a
// buffer that carries one leaves the speakers and renders off-line, driven by the
// waits of the thread that started the playback.
#pragma once

#include "platform/com/unknown.h"

// {6B0D3C4E-2F1A-4C7B-9E55-1D8A0F3B7C21}
inline constexpr IID IID_IRecordingSink{0x6B0D3C4E, 0x2F1A, 0x4C7B, {0x9E, 0x55, 0x1D, 0x8A, 0x0F, 0x3B, 0x7C, 0x21}};

struct IRecordingSink : IUnknown {
  // Called when the effect is attached to a buffer: a new, empty recording starts.
  virtual HRESULT BeginRecording() = 0;

 protected:
  ~IRecordingSink() = default;
};
