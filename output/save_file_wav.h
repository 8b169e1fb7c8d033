// Saving what the capture effect recorded for the file just played as a WAV file.
#pragma once

#include "ovdmofilter/captured_audio.h"
#include "platform/core/wintypes.h"

// Reads the recording through the engine's capture interface (pFilterCapture) and
// writes it to fileName. S_OK when the file was written, else E_FAIL. *sampleRate
// receives the recording's samples per second, also when writing fails.
HRESULT SaveFileWAV(const char* fileName, DWORD* sampleRate);

// The same, reading through capture: size, then format (into g_CaptureRecord), then
// the bytes, which go to the file in one Write.
HRESULT SaveCaptureToWav(ICapturedAudio* capture, const char* fileName, DWORD* sampleRate);
