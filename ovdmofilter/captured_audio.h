// The capture effect's public header: the private interface through which a host
// reads the recording back, and the record the host and the effect share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/com/unknown.h"
#include "platform/core/waveformat.h"
#include "platform/core/wintypes.h"

// The record handed to the capture effect: one instance for the whole run, so the
// effect may keep its address. 36 bytes, little-endian.
struct CaptureRecord {
  DWORD hHeap;        // set by the program before Setup: the process heap's handle value
  BYTE reserved[12];  // the effect's own; zero at start
  WAVEFORMATEX wfx;   // the captured format, stored by GetFormat
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

// {145E98C8-AD6D-4CF9-B205-7C1E86C12A0D}
inline constexpr IID IID_ICapturedAudioStream{
    0x145E98C8, 0xAD6D, 0x4CF9, {0xB2, 0x05, 0x7C, 0x1E, 0x86, 0xC1, 0x2A, 0x0D}};

// Reads the recording while it is being made, so that a reader can work on the
// sound as it is captured instead of after the music.
struct ICapturedAudioStream : IUnknown {
  // Identifies the recording being made now; attaching the effect starts a new one.
  virtual HRESULT GetRecordingId(std::uint64_t* id) = 0;
  // Waits until recording id holds size bytes from offset, or has ended, or has been
  // replaced; then copies what it holds there, at most size bytes, to dest and
  // stores the count in *copied. S_OK: size bytes copied; S_FALSE: the recording
  // ended with fewer; E_ABORT: it was replaced (nothing copied).
  virtual HRESULT WaitAndCopy(std::uint64_t id, std::uint64_t offset, BYTE* dest, DWORD size, DWORD* copied) = 0;
  // Recording id is complete: waiting readers get what it holds, and wait no more.
  virtual HRESULT EndRecording(std::uint64_t id) = 0;

 protected:
  ~ICapturedAudioStream() = default;
};
