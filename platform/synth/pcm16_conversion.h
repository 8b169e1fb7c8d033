// Float samples of the synthesiser to the 16-bit samples handed out: scaled,
// rounded to the nearest (halves to even, the processor's rounding), clamped
// (never wrapped around), with the count of clamped samples and where the last
// audible sample lies.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

struct Pcm16Conversion {
  std::uint64_t clipped = 0;   // samples clamped
  std::int64_t loudUntil = 0;  // the frame after the last one with a sample beyond quietPeak
};

// Converts frames of interleaved stereo from in to out.
Pcm16Conversion ConvertToPcm16(const float* in, std::int16_t* out, std::size_t frames, float scale, int quietPeak);

// The same, one sample at a time; every sample gives exactly what
// ConvertToPcm16 gives, NaN included (0, and loud).
Pcm16Conversion ConvertToPcm16OneByOne(const float* in, std::int16_t* out, std::size_t frames, float scale,
                                       int quietPeak);

}  // namespace platform
