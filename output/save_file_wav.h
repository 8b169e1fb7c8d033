// Saving what the capture effect recorded for the file just played as a WAV file.
#pragma once

#include <string>

#include "output/pcm_recording.h"
#include "ovdmofilter/captured_audio.h"
#include "platform/core/wintypes.h"

// Reads the recording through the engine's capture interface (pFilterCapture) and
// writes it to fileName. S_OK when the file was written, else E_FAIL. *sampleRate
// receives the recording's samples per second, also when writing fails.
HRESULT SaveFileWAV(const char* fileName, DWORD* sampleRate);

// The same, reading through capture: size, then format (into g_CaptureRecord), then
// the bytes, which go to the file in one Write.
HRESULT SaveCaptureToWav(ICapturedAudio* capture, const char* fileName, DWORD* sampleRate);

// Writes recording (already read from the capture, and perhaps shaped) to fileName
// as a WAV file of the same layout. S_OK when the file was written whole.
HRESULT SaveRecordingWav(const char* fileName, const PcmRecording& recording);

// The most bytes of sound a written WAV file holds: the writer's file offsets are
// 32-bit signed (mmio's are), so the whole file stays below 2 GiB, 56 bytes of
// header and a pad byte included. (The RIFF sizes themselves would allow 4 GiB.)
constexpr DWORD kMaxWavDataBytes = 0x7FFFFFFF - 56 - 1;

// Why the recording of a song that plays for seconds (whole seconds of music, as
// the engine gives them; the release and the 700 ms tail are added here) in the
// attached capture effect's format could not be saved as a WAV file; empty when it
// can. The reason names input, the recording's length and the limit, so a song too
// long is refused before its music is rendered.
std::string WavTooLongReason(const std::string& input, int seconds);
