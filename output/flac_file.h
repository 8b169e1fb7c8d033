// Saving a recording as a 16-bit FLAC file: lossless, the very samples a WAV file
// of it holds.
#pragma once

#include <string>

#include "output/pcm_recording.h"

// Writes recording to path (created or emptied). Empty when the file was written
// whole, else why not (the system's reason when it gave one).
std::string SaveRecordingFlac(const std::string& path, const PcmRecording& recording);
