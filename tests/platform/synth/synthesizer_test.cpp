// The synthesiser in one part or two halves: the halves together sound as the
// whole does, and every rendering of the same events gives the same samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/core/error_text.h"
#include "platform/dmusic/dmusic.h"
#include "platform/synth/synthesizer.h"
#include "tests/platform/dmusic/test_media.h"
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

// Notes, controllers, pitch bends and a SysEx message at many frames of
// stretches of several lengths: on and between the pieces the halves are cut
// into, at the start and at the end of a stretch.
std::vector<float> PlayInStretches(platform::Synthesizer& synth) {
  constexpr int kLengths[] = {4096, 1024, 64, 576, 4096, 2048, 512, 4096};
  static const std::uint8_t kMasterVolume[] = {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x70, 0xF7};
  std::vector<float> out, block(platform::Synthesizer::kMaxRenderFrames * 2);
  int step = 0;
  for (int round = 0; round < 3; ++round)
    for (const int frames : kLengths) {
      for (int offset = 0; offset <= frames; offset += offset % 512 == 448 ? 64 : 448) {
        synth.SetEventOffset(offset);
        const auto channel = static_cast<std::uint8_t>(step % 3 == 0 ? 9 : step % 5);
        const auto key = static_cast<std::uint8_t>(40 + (step * 5) % 30);
        synth.ChannelMessage(static_cast<std::uint8_t>(0x90 | channel), key, static_cast<std::uint8_t>(60 + step % 60));
        if (step >= 3) {
          const auto earlier = static_cast<std::uint8_t>(step % 3 == 0 ? 9 : (step - 3) % 5);
          synth.ChannelMessage(static_cast<std::uint8_t>(0x80 | earlier),
                               static_cast<std::uint8_t>(40 + ((step - 3) * 5) % 30), 0);
        }
        if (step % 4 == 1)
          synth.ChannelMessage(static_cast<std::uint8_t>(0xE0 | channel), 0, static_cast<std::uint8_t>(step % 128));
        if (step % 7 == 2)
          synth.ChannelMessage(static_cast<std::uint8_t>(0xB0 | channel), 91, static_cast<std::uint8_t>(step % 128));
        if (step % 29 == 5) synth.SysEx(kMasterVolume, sizeof(kMasterVolume));
        ++step;
      }
      synth.Render(block.data(), frames);
      out.insert(out.end(), block.begin(), block.begin() + 2 * frames);
    }
  return out;
}

TEST(Synthesizer, TheSamplesDoNotDependOnWhichThreadRendersWhichHalf) {
  testing_support::TempDir dir;
  const std::string font = dir.File("sine.sf2");
  dmusic_test::WriteTestSoundFont(font, 0.05);
  using Who = platform::PieceSharing::Who;
  const auto render = [&](Who who) {
    std::shared_ptr<platform::Synthesizer> synth;
    EXPECT_EQ(platform::Synthesizer::Acquire(font, synth, 2), S_OK);
    synth->SetSharingForTest(who);
    return PlayInStretches(*synth);
  };
  const std::vector<float> shared = render(Who::kAnyone);
  EXPECT_GT(*std::max_element(shared.begin(), shared.end()), 0.01f);
  for (const Who who : {Who::kCallerOnly, Who::kHelperOnly, Who::kTakingTurns})
    EXPECT_TRUE(render(who) == shared) << "sharing " << static_cast<int>(who);
}

TEST(Synthesizer, TheHelpersSpareTimeJobRunsAloneOnItAndLeavesTheSamplesAsTheyAre) {
  testing_support::TempDir dir;
  const std::string font = dir.File("sine.sf2");
  dmusic_test::WriteTestSoundFont(font, 0.05);
  std::shared_ptr<platform::Synthesizer> plain, busy, one;
  ASSERT_EQ(platform::Synthesizer::Acquire(font, plain, 2), S_OK);
  ASSERT_EQ(platform::Synthesizer::Acquire(font, busy, 2), S_OK);
  ASSERT_EQ(platform::Synthesizer::Acquire(font, one, 1), S_OK);
  EXPECT_FALSE(one->SetSpareWork([](bool) { return false; }, &one));

  // A job far behind at first (its steps come before the helper's pieces, which
  // the caller takes over), then one with steps for whenever the helper is free.
  constexpr int kUrgent = 200, kSteps = 400;
  std::atomic<int> steps{0}, inside{0}, overlaps{0}, onCaller{0};
  const std::thread::id caller = std::this_thread::get_id();
  ASSERT_TRUE(busy->SetSpareWork(
      [&](bool urgent) {
        if (steps.load() >= (urgent ? kUrgent : kSteps)) return false;
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        if (std::this_thread::get_id() == caller) onCaller.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
        steps.fetch_add(1);
        inside.fetch_sub(1);
        return true;
      },
      &busy));
  EXPECT_TRUE(PlayInStretches(*busy) == PlayInStretches(*plain));
  for (int wait = 0; wait < 500 && steps.load() < kSteps; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(steps.load(), kSteps);  // the helper goes on between stretches too
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(onCaller.load(), 0);

  // Only the owner removes its job; when that returns, no step runs or follows.
  std::atomic<bool> removed{false};
  std::atomic<int> ran{0}, late{0};
  busy->SetSpareWork(
      [&](bool) {
        if (removed.load()) late.fetch_add(1);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        ran.fetch_add(1);
        return true;
      },
      &busy);
  busy->SetSpareWork({}, &plain);
  const int before = ran.load();
  for (int wait = 0; wait < 500 && ran.load() == before; ++wait)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_GT(ran.load(), before);
  busy->SetSpareWork({}, &busy);
  removed.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(late.load(), 0);
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

// A preloaded SoundFont is already loaded when the synthesiser is made: it
// plays even after its file has gone. A file that cannot load is still
// refused, with its reason, by the synthesiser that needs it.
TEST(Synthesizer, APreloadedSoundFontIsReadyWhenNeeded) {
  testing_support::TempDir dir;
  const std::string font = dir.File("preloaded.sf2"), broken = dir.File("broken.sf2");
  dmusic_test::WriteTestSoundFont(font, 0.2);
  std::ofstream(broken) << "RIFF\4\0\0\0sfbkjunk";
  platform::Synthesizer::Preload(font, 2);
  platform::Synthesizer::Preload(broken, 1);
  platform::Synthesizer::FinishPreloads();
  ASSERT_EQ(std::remove(font.c_str()), 0);
  std::shared_ptr<platform::Synthesizer> synth;
  ASSERT_EQ(platform::Synthesizer::Acquire(font, synth, 2), S_OK);
  const std::vector<float> played = Play(*synth);
  EXPECT_GT(*std::max_element(played.begin(), played.end()), 0.01f);
  EXPECT_EQ(platform::Synthesizer::Acquire(broken, synth, 1), DMUS_E_CANNOT_OPEN_PORT);
  EXPECT_NE(platform::TakeErrorText().find("broken.sf2 cannot be loaded"), std::string::npos);
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
