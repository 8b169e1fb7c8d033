// Float to 16-bit conversion: eight samples at a time give exactly what one at a
// time gives, wherever a sample falls (rounding, clamping, NaN, the quiet peak).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/synth/pcm16_conversion.h"

namespace {

TEST(Pcm16Conversion, GroupsOfEightMatchOneByOneAndRoundClampAndFindTheLastLoudFrame) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Scaled by 32768: halves round to even, the edges clamp, NaN becomes 0.
  const std::vector<float> edges = {
      0.5f / 32768, 1.5f / 32768, -2.5f / 32768, 32767.5f / 32768, -32768.5f / 32768, 1.0f,        -1.0f, 2.0f,
      inf,          -inf,         -0.0f,         3.0f / 32768,     -3.0f / 32768,     2.0f / 32768};
  std::vector<float> in;
  std::uint32_t seed = 16;
  for (int i = 0; i < 4102; ++i) {  // 2051 frames: six samples after the last group of eight
    seed = seed * 1664525u + 1013904223u;
    in.push_back((static_cast<float>(seed >> 8) / (1u << 24) - 0.5f) * 2.2f);
  }
  for (std::size_t i = 0; i < edges.size(); ++i) in[100 + 7 * i] = edges[i];
  in[3001] = nan;
  // The tail is quiet but for one sample in the last whole group.
  for (std::size_t i = 4000; i < in.size(); ++i) in[i] = 1.0f / 32768;
  in[4090] = -4.0f / 32768;
  in[4100] = -3.0f / 32768;

  const std::size_t frames = in.size() / 2;
  std::vector<std::int16_t> grouped(in.size(), 7), single(in.size(), 7);
  const platform::Pcm16Conversion a = platform::ConvertToPcm16(in.data(), grouped.data(), frames, 32768.0f, 2);
  const platform::Pcm16Conversion b = platform::ConvertToPcm16OneByOne(in.data(), single.data(), frames, 32768.0f, 2);
  EXPECT_EQ(grouped, single);
  EXPECT_EQ(a.clipped, b.clipped);
  EXPECT_EQ(a.loudUntil, b.loudUntil);
  EXPECT_EQ(a.loudUntil, 4100 / 2 + 1);

  const std::vector<std::int16_t> expected = {0,     2,     -2,     32767, -32768, 32767, -32768,
                                              32767, 32767, -32768, 0,     3,      -3,    2};
  for (std::size_t i = 0; i < edges.size(); ++i) EXPECT_EQ(grouped[100 + 7 * i], expected[i]) << "edge " << i;
  EXPECT_EQ(grouped[3001], 0);
  // 2.0, inf, -inf and, at 32768 exactly, 1.0 beyond the top; 1.5 beyond the bottom does not round in.
  std::uint64_t randomClipped = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const float v = in[i] * 32768.0f;
    if (v > 32767.0f || v < -32768.0f) ++randomClipped;
  }
  EXPECT_EQ(a.clipped, randomClipped);
  EXPECT_EQ(grouped[in.size() - 1], 1);  // after the last group, one by one
}

}  // namespace
