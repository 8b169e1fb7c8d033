// Encoding a WAV file that the program has just written into an MP3 file.
#pragma once

#include "output/mp3_encoder.h"
#include "platform/core/wintypes.h"

// Encodes wavName (16-bit stereo PCM with the 56-byte header of CWaveFile) into
// mp3Name, created or emptied, resampling from inRate to outRate (Hz), streaming in
// pieces of 1152 stereo frames. Returns 0 on success; a negative result code when a
// file cannot be opened, read or written, the input is not such a WAV file, or the
// encoder fails. After a failure no MP3 file is left under mp3Name by this call.
// encoded, when given, is an encoding made while the song was recorded: when the
// WAV's sound and the rates are what it was made from, its bytes (which are those
// this encoding gives) are written instead of encoding the file again.
HRESULT wavtomp3(const char* wavName, const char* mp3Name, int inRate, int outRate,
                 const EncodedMp3* encoded = nullptr);

// The version of the LAME encoder the program runs with ("3.100").
const char* Mp3EncoderVersion();
