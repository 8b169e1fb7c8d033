#include "platform/synth/pcm16_conversion.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {
namespace {

// One sample; loud tells whether it lies beyond quietPeak.
std::int16_t ConvertSample(float in, float scale, int quietPeak, std::uint64_t& clipped, bool& loud) {
  float v = in * scale;
  if (v > 32767.0f) {
    v = 32767.0f;
    ++clipped;
  } else if (v < -32768.0f) {
    v = -32768.0f;
    ++clipped;
  }
  const long sample = std::lrint(v);  // NaN gives the smallest long: 0 once cut to 16 bits, and loud
  loud = sample > quietPeak || sample < -quietPeak;
  return static_cast<std::int16_t>(sample);
}

// Samples [from, to) one at a time; loud: the sample after the last loud one so far.
void ConvertRange(const float* in, std::int16_t* out, std::size_t from, std::size_t to, float scale, int quietPeak,
                  std::uint64_t& clipped, std::size_t& loud) {
  for (std::size_t i = from; i < to; ++i) {
    bool isLoud = false;
    out[i] = ConvertSample(in[i], scale, quietPeak, clipped, isLoud);
    if (isLoud) loud = i + 1;
  }
}

Pcm16Conversion Finish(std::uint64_t clipped, std::size_t loud) {
  return {clipped, static_cast<std::int64_t>((loud + 1) / 2)};
}

}  // namespace

Pcm16Conversion ConvertToPcm16OneByOne(const float* in, std::int16_t* out, std::size_t frames, float scale,
                                       int quietPeak) {
  std::uint64_t clipped = 0;
  std::size_t loud = 0;
  ConvertRange(in, out, 0, frames * 2, scale, quietPeak, clipped, loud);
  return Finish(clipped, loud);
}

Pcm16Conversion ConvertToPcm16(const float* in, std::int16_t* out, std::size_t frames, float scale, int quietPeak) {
  const std::size_t count = frames * 2;
  std::uint64_t clipped = 0;
  std::size_t loud = 0;  // the sample after the last loud one
  std::size_t i = 0;
#if defined(__SSE2__)
  // Eight samples at a time, as the one-by-one conversion does them: the same
  // product, the same clamping, the processor's rounding mode for both. A group
  // holding a NaN goes one by one.
  const __m128 factor = _mm_set1_ps(scale);
  const __m128 top = _mm_set1_ps(32767.0f);
  const __m128 bottom = _mm_set1_ps(-32768.0f);
  const __m128i peak = _mm_set1_epi32(quietPeak);
  const __m128i negativePeak = _mm_set1_epi32(-quietPeak);
  for (; i + 8 <= count; i += 8) {
    const __m128 a = _mm_mul_ps(_mm_loadu_ps(in + i), factor);
    const __m128 b = _mm_mul_ps(_mm_loadu_ps(in + i + 4), factor);
    if (_mm_movemask_ps(_mm_or_ps(_mm_cmpunord_ps(a, a), _mm_cmpunord_ps(b, b))) != 0) {
      ConvertRange(in, out, i, i + 8, scale, quietPeak, clipped, loud);
      continue;
    }
    const int clampedA = _mm_movemask_ps(_mm_or_ps(_mm_cmpgt_ps(a, top), _mm_cmplt_ps(a, bottom)));
    const int clampedB = _mm_movemask_ps(_mm_or_ps(_mm_cmpgt_ps(b, top), _mm_cmplt_ps(b, bottom)));
    clipped += static_cast<unsigned>(__builtin_popcount(static_cast<unsigned>(clampedA | (clampedB << 4))));
    const __m128i ia = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(a, bottom), top));
    const __m128i ib = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(b, bottom), top));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(ia, ib));
    const __m128i loudA = _mm_or_si128(_mm_cmpgt_epi32(ia, peak), _mm_cmplt_epi32(ia, negativePeak));
    const __m128i loudB = _mm_or_si128(_mm_cmpgt_epi32(ib, peak), _mm_cmplt_epi32(ib, negativePeak));
    const int lanes = _mm_movemask_ps(_mm_castsi128_ps(loudA)) | (_mm_movemask_ps(_mm_castsi128_ps(loudB)) << 4);
    if (lanes != 0) loud = i + static_cast<std::size_t>(32 - __builtin_clz(static_cast<unsigned>(lanes)));
  }
#endif
  ConvertRange(in, out, i, count, scale, quietPeak, clipped, loud);
  return Finish(clipped, loud);
}

}  // namespace platform
