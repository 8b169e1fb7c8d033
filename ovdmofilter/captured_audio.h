// The capture effect's public header: the private interface through which a host
// reads the recording back, and the record the host and the effect share.
#pragma once

#include <cstddef>

#include "platform/com/unknown.h"
#include "platform/core/waveformat.h"
#include "platform/core/wintypes.h"

// The record handed to the capture effect: one instance for the whole run, so the
// effect may keep its address. 36 bytes, little-endian.
struct CaptureRecord {
  DWORD hHeap;         // set by the program before Setup: the process heap's handle value
  BYTE reserved[12];   // the effect's own; zero at start
  WAVEFORMATEX wfx;    // the captured format, stored by GetFormat
  BYTE padding[2];
};
static_assert(sizeof(CaptureRecord) == 36);
static_assert(offsetof(CaptureRecord, hHeap) == 0);
static_assert(offsetof(CaptureRecord, reserved) == 4);
static_assert(offsetof(CaptureRecord, wfx) == 16);
static_assert(offsetof(CaptureRecord, padding) == 34);

// {15891CD2-F41F-4E61-A094-CE10D5073C58}
inline constexpr IID IID_ICapturedAudio{0x15891CD2, 0xF41F, 0x4E61, {0xA0, 0x94, 0xCE, 0x10, 0xD5, 0x07, 0x3C, 0x58}};

// Reads back what the capture effect recorded since it was last attached: the size,
// then the format, then the bytes (interleaved PCM as wfx describes).
struct ICapturedAudio : IUnknown {
  // Called once, right after creation, with hHeap set.
  virtual HRESULT Setup(CaptureRecord* record) = 0;
  // Stores the captured format in record->wfx.
  virtual HRESULT GetFormat(CaptureRecord* record) = 0;
  // Stores the number of captured bytes.
  virtual HRESULT GetDataSize(DWORD* size) = 0;
  // Copies the first size captured bytes to dest.
  virtual HRESULT CopyData(BYTE* dest, DWORD size) = 0;

 protected:
  ~ICapturedAudio() = default;
};

