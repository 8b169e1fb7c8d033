// The synthesiser in one part or two halves: the halves together sound as the
// whole does, and every rendering of the same events gives the same samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/synthesizer.h"
#include "tests/dmusic/test_media.h"
#include "tests/support/temp_dir.h"

namespace {

std::vector<float> Play(platform::Synthesizer& synth) {
  std::vector<float> out(44100 / 64 * 64 * 2);
  for (int channel = 0; channel < 4; ++channel) {
    synth.ChannelMessage(static_cast<std::uint8_t>(0xB0 | channel), 91, 100);
    synth.ChannelMessage(static_cast<std::uint8_t>(0xB0 | channel), 93, 100);
    synth.ChannelMessage(static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(48 + 7 * channel), 100);
  }
  const int frames = static_cast<int>(out.size() / 2);
  for (int done = 0; done < frames; done += 1024) {
    const int n = std::min(1024, frames - done);
    if (done == 1024 * 20)
      for (int channel = 0; channel < 4; ++channel)
        synth.ChannelMessage(static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(48 + 7 * channel), 0);
    synth.Render(out.data() + 2 * done, n);
  }
  return out;
}

TEST(Synthesizer, TwoHalvesSoundAsOneAndRepeatExactly) {
  testing_support::TempDir dir;
  const std::string font = dir.File("sine.sf2");
  dmusic_test::WriteTestSoundFont(font, 0.2);
  std::shared_ptr<platform::Synthesizer> whole, halves, again;
  ASSERT_EQ(platform::Synthesizer::Acquire(font, whole, 1), S_OK);
  ASSERT_EQ(platform::Synthesizer::Acquire(font, halves, 2), S_OK);
  ASSERT_EQ(platform::Synthesizer::Acquire(font, again, 2), S_OK);
  const std::vector<float> a = Play(*whole);
  const std::vector<float> b = Play(*halves);
  const std::vector<float> c = Play(*again);
  EXPECT_TRUE(b == c);
  float peak = 0, difference = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    peak = std::max(peak, std::fabs(a[i]));
    difference = std::max(difference, std::fabs(a[i] - b[i]));
  }
  EXPECT_GT(peak, 0.01f);
  EXPECT_LT(difference, peak * 1e-3f);
  EXPECT_EQ(whole->ActiveVoices(), 0);

  std::shared_ptr<platform::Synthesizer> missing;
  EXPECT_EQ(platform::Synthesizer::Acquire(dir.File("none.sf2"), missing), DMUS_E_CANNOT_OPEN_PORT);
  EXPECT_FALSE(missing);
}

TEST(Synthesizer, EveryNoteEndsInTheHalfItSoundsIn) {
  // Overlapping notes, repeated keys and a held pedal, shared out between the
  // halves: every note-off must reach the half its note sounds in, or voices
  // hang on after all notes are released.
  testing_support::TempDir dir;
  const std::string font = dir.File("sine.sf2");
  dmusic_test::WriteTestSoundFont(font, 0.05);
  std::shared_ptr<platform::Synthesizer> halves;
  ASSERT_EQ(platform::Synthesizer::Acquire(font, halves, 2), S_OK);
  std::vector<float> block(platform::Synthesizer::kMaxRenderFrames * 2);
  for (int step = 0; step < 48; ++step) {
    const auto channel = static_cast<std::uint8_t>(step % 3 == 0 ? 9 : step % 4);
    const auto key = static_cast<std::uint8_t>(36 + (step * 7) % 24);
    if (step == 12) halves->ChannelMessage(0xB1, 64, 127);
    halves->ChannelMessage(static_cast<std::uint8_t>(0x90 | channel), key, 90);
    halves->SetEventOffset(256);
    halves->ChannelMessage(static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key + 12), 90);
    halves->Render(block.data(), 1024);
    if (step % 2 == 1) {
      halves->ChannelMessage(static_cast<std::uint8_t>(0x80 | channel), key, 0);
      halves->ChannelMessage(static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key + 12), 0);
    }
    if (step == 30) halves->ChannelMessage(0xB1, 64, 0);
  }
  EXPECT_GT(halves->ActiveVoices(), 0);
  for (int step = 0; step < 48; ++step) {
    const auto channel = static_cast<std::uint8_t>(step % 3 == 0 ? 9 : step % 4);
    const auto key = static_cast<std::uint8_t>(36 + (step * 7) % 24);
    if (step % 2 == 0) {
      halves->ChannelMessage(static_cast<std::uint8_t>(0x80 | channel), key, 0);
      halves->ChannelMessage(static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key + 12), 0);
    }
  }
  for (int i = 0; i < 20; ++i) halves->Render(block.data(), platform::Synthesizer::kMaxRenderFrames);
  EXPECT_EQ(halves->ActiveVoices(), 0);
}

TEST(Synthesizer, TheHalvesTogetherSoundNoMoreVoicesThanOneSynthesiser) {
  // Every key of 15 channels struck at once: far beyond the polyphony, so each
  // synthesiser sounds as many voices as it allows. The halves must not sound
  // twice as many (3 dB louder on these unrelated sines).
  testing_support::TempDir dir;
  const std::string font = dir.File("sine.sf2");
  dmusic_test::WriteTestSoundFont(font, 0.2);
  const auto level = [&](int parts) {
    std::shared_ptr<platform::Synthesizer> synth;
    EXPECT_EQ(platform::Synthesizer::Acquire(font, synth, parts), S_OK);
    for (int channel = 0; channel < 16; ++channel)
      for (int key = 0; key < 128 && channel != 9; ++key)
        synth->ChannelMessage(static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key), 100);
    std::vector<float> block(platform::Synthesizer::kMaxRenderFrames * 2);
    double sum = 0;
    for (int i = 0; i < 8; ++i) {
      synth->Render(block.data(), platform::Synthesizer::kMaxRenderFrames);
      for (float v : block) sum += static_cast<double>(v) * v;
    }
    EXPECT_LE(synth->ActiveVoices(), platform::Synthesizer::kPolyphony);
    return 10 * std::log10(sum / static_cast<double>(8 * block.size()));
  };
  const double whole = level(1);
  EXPECT_NEAR(level(2), whole, 0.5);
}

}  // namespace
