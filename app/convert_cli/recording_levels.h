// How loud the recording of the file just converted is: what a record of the run
// says of each file besides its names.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace convert_cli {

struct RecordingLevels {
  double seconds = 0;              // its length
  double peakDbfs = -HUGE_VAL;     // the loudest sample against full scale; -inf for silence
  unsigned long long clipped = 0;  // samples at full scale (+32767 or -32768)
};

// The levels of 16-bit PCM samples, channels interleaved, at frames per second.
RecordingLevels LevelsOf(const std::vector<std::int16_t>& samples, int channels, int rate);

// The levels of the capture effect's recording, read back as the save reads it.
// Called on the worker's thread, after the save and before the next file.
RecordingLevels MeasureRecording();

}  // namespace convert_cli
