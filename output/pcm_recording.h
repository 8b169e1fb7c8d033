// A recording held as 16-bit samples, for the steps that shape it or write it in a
// format of their own before it is saved.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PcmRecording {
  std::vector<std::int16_t> samples;  // channels interleaved
  int channels = 0;
  int rate = 0;  // frames per second
  std::size_t Frames() const { return channels > 0 ? samples.size() / static_cast<std::size_t>(channels) : 0; }
};

// Reads the capture effect's recording of the file just played (pFilterCapture).
// Empty when it was read, else why not.
std::string ReadCapturedRecording(PcmRecording& recording);
