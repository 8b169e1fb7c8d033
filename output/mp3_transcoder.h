// Encoding a WAV file that the program has just written into an MP3 file.
#pragma once

#include "platform/core/wintypes.h"

// Encodes wavName (16-bit stereo PCM with the 56-byte header of CWaveFile) into
// mp3Name, created or emptied, resampling from inRate to outRate (Hz), streaming in
// pieces of 1152 stereo frames. Returns 0 on success; a negative result code when a
// file cannot be opened, read or written, the input is not such a WAV file, or the
// encoder fails. After a failure no MP3 file is left under mp3Name by this call.
HRESULT wavtomp3(const char* wavName, const char* mp3Name, int inRate, int outRate);

// The version of the LAME encoder the program runs with ("3.100").
const char* Mp3EncoderVersion();
