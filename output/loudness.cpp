#include "output/loudness.h"

#include <ebur128.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

namespace {

// The limiter's look-ahead (and attack) and the time its gain takes to recover.
constexpr double kLookAheadSeconds = 0.005;
constexpr double kReleaseSeconds = 0.08;
// The true peak aimed at, below the limit: meters differ by a tenth of a dB.
constexpr double kTruePeakAimDbtp = kTruePeakLimitDbtp - 0.2;
// The first ceiling for sample peaks: true peaks stand a little above them.
constexpr double kFirstCeilingDbfs = kTruePeakAimDbtp - 0.3;
// Close enough to the target to stop adjusting.
constexpr double kLoudnessToleranceLu = 0.1;
constexpr int kMostPasses = 8;
constexpr std::size_t kBlockFrames = 8192;
constexpr double kFullScale = 32768.0;

double FromDb(double db) { return std::pow(10.0, db / 20.0); }

class Meter {
 public:
  Meter(int channels, int rate)
      : state_(ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
                            EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK)),
        channels_(channels) {
    // A single channel is heard on both sides, as a mono file plays.
    if (state_ != nullptr && channels == 1) ebur128_set_channel(state_, 0, EBUR128_DUAL_MONO);
  }
  ~Meter() {
    if (state_ != nullptr) ebur128_destroy(&state_);
  }
  Meter(const Meter&) = delete;
  Meter& operator=(const Meter&) = delete;

  bool Add(const std::int16_t* samples, std::size_t frames) {
    return state_ != nullptr && ebur128_add_frames_short(state_, samples, frames) == EBUR128_SUCCESS;
  }
  bool Read(double& lufs, double& truePeakDbtp) {
    if (state_ == nullptr || ebur128_loudness_global(state_, &lufs) != EBUR128_SUCCESS) return false;
    double peak = 0;
    for (int channel = 0; channel < channels_; ++channel) {
      double channelPeak = 0;
      if (ebur128_true_peak(state_, static_cast<unsigned>(channel), &channelPeak) != EBUR128_SUCCESS) return false;
      peak = std::max(peak, channelPeak);
    }
    truePeakDbtp = peak > 0 ? 20.0 * std::log10(peak) : -HUGE_VAL;
    return true;
  }

 private:
  ebur128_state* state_;
  int channels_;
};

// Runs the recording's frames from in through the gain and the limiter (sample
// peaks at most ceiling, a fraction of full scale), handing each block of shaped
// frames to sink(first frame, samples, frames), which may write them back over in:
// a frame is never read again once its block is handed over.
template <class Sink>
bool Shape(const std::int16_t* in, std::size_t frames, int channels, int rate, double gain, double ceiling,
           Sink&& sink) {
  const std::size_t width = static_cast<std::size_t>(channels);
  const std::size_t lookAhead = std::max<std::size_t>(1, static_cast<std::size_t>(rate * kLookAheadSeconds));
  const double recovery = 1.0 - std::exp(-1.0 / (rate * kReleaseSeconds));
  // A frame whose peak is above this needs less than the full gain.
  const double loudest = ceiling * kFullScale / gain;
  const auto needed = [&](std::size_t frame) {
    int peak = 0;
    for (std::size_t c = 0; c < width; ++c) peak = std::max(peak, std::abs(static_cast<int>(in[frame * width + c])));
    return peak > loudest ? loudest / peak : 1.0;
  };
  // The least gain needed within the look-ahead: frames in order, their gains rising.
  std::deque<std::pair<std::size_t, double>> least;
  // The held gains of the last lookAhead + 1 frames, whose average is applied.
  std::vector<double> held(lookAhead + 1, 1.0);
  double heldSum = static_cast<double>(held.size());
  std::size_t heldAt = 0;
  double hold = 1.0;
  std::vector<std::int16_t> block(std::min(frames, kBlockFrames) * width);
  std::size_t blockStart = 0, inBlock = 0;
  std::size_t next = 0;
  for (std::size_t frame = 0; frame < frames; ++frame) {
    for (; next < frames && next <= frame + lookAhead; ++next) {
      const double gainNeeded = needed(next);
      while (!least.empty() && least.back().second >= gainNeeded) least.pop_back();
      least.emplace_back(next, gainNeeded);
    }
    while (least.front().first < frame) least.pop_front();
    // Down at once to what the look-ahead needs; back up slowly.
    hold = std::min(least.front().second, hold + (1.0 - hold) * recovery);
    heldSum += hold - held[heldAt];
    held[heldAt] = hold;
    heldAt = (heldAt + 1) % held.size();
    // Every frame of the average window looked ahead at this frame: none exceeds its need.
    const double applied = gain * std::min(1.0, heldSum / static_cast<double>(held.size()));
    for (std::size_t c = 0; c < width; ++c) {
      const double value = std::nearbyint(in[frame * width + c] * applied);
      block[inBlock * width + c] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }
    if (++inBlock == kBlockFrames || frame + 1 == frames) {
      if (!sink(blockStart, block.data(), inBlock)) return false;
      blockStart += inBlock;
      inBlock = 0;
      // Sums of many small steps drift: start the running sum afresh.
      heldSum = std::accumulate(held.begin(), held.end(), 0.0);
    }
  }
  return true;
}

struct Setting {
  double gainDb = 0;
  double ceilingDbfs = 0;
  double lufs = -HUGE_VAL;
  double truePeakDbtp = -HUGE_VAL;
};

bool MeasureShaped(const PcmRecording& recording, Setting& setting, const std::function<bool()>& stopped) {
  Meter meter(recording.channels, recording.rate);
  return Shape(recording.samples.data(), recording.Frames(), recording.channels, recording.rate, FromDb(setting.gainDb),
               FromDb(setting.ceilingDbfs),
               [&](std::size_t, const std::int16_t* samples, std::size_t frames) {
                 return !(stopped && stopped()) && meter.Add(samples, frames);
               }) &&
         meter.Read(setting.lufs, setting.truePeakDbtp);
}

}  // namespace

bool MeasureLoudness(const PcmRecording& recording, double& lufs, double& truePeakDbtp) {
  if (recording.channels <= 0 || recording.rate <= 0) return false;
  Meter meter(recording.channels, recording.rate);
  return meter.Add(recording.samples.data(), recording.Frames()) && meter.Read(lufs, truePeakDbtp);
}

std::string NormaliseLoudness(PcmRecording& recording, double targetLufs, LoudnessResult& result,
                              const std::function<bool()>& stopped) {
  constexpr const char* kCannotMeasure = "its loudness cannot be measured";
  constexpr const char* kStopped = "stopped while its loudness was measured";
  const auto failed = [&] { return stopped && stopped() ? kStopped : kCannotMeasure; };
  result = {};
  double inputPeak = -HUGE_VAL;
  if (!MeasureLoudness(recording, result.measuredLufs, inputPeak)) return kCannotMeasure;
  if (!std::isfinite(result.measuredLufs)) {
    // Silence, or too short for a loudness: nothing to bring anywhere.
    result.outputLufs = result.measuredLufs;
    result.truePeakDbtp = inputPeak;
    return {};
  }
  std::int16_t* samples = recording.samples.data();
  const std::size_t width = static_cast<std::size_t>(recording.channels);
  const auto shapeInPlace = [&](const Setting& setting) {
    Shape(samples, recording.Frames(), recording.channels, recording.rate, FromDb(setting.gainDb),
          FromDb(setting.ceilingDbfs), [&](std::size_t first, const std::int16_t* shaped, std::size_t frames) {
            std::copy(shaped, shaped + frames * width, samples + first * width);
            return true;
          });
  };
  const double gainDb = targetLufs - result.measuredLufs;
  if (inputPeak + gainDb <= kTruePeakAimDbtp) {
    // No peak comes near the limit: the gain alone, which moves loudness and true
    // peak by itself (up to the rounding to 16 bits), and the limiter stays idle.
    shapeInPlace({gainDb, 0});
    result.gainDb = gainDb;
    result.outputLufs = result.measuredLufs + gainDb;
    result.truePeakDbtp = inputPeak + gainDb;
    return {};
  }
  Setting trying{gainDb, kFirstCeilingDbfs};
  std::optional<Setting> best, last;
  for (int pass = 0; pass < kMostPasses; ++pass) {
    if (!MeasureShaped(recording, trying, stopped)) return failed();
    if (trying.truePeakDbtp <= kTruePeakAimDbtp) {
      if (!best || std::abs(trying.lufs - targetLufs) < std::abs(best->lufs - targetLufs)) best = trying;
      if (std::abs(trying.lufs - targetLufs) <= kLoudnessToleranceLu) break;
    }
    // The limiter takes back part of a gain: how much the last step gave decides the
    // next (a secant step), as little as a tenth of it at most ten times the gain.
    double slope = 1;
    if (last && std::abs(trying.gainDb - last->gainDb) > 0.01 && trying.ceilingDbfs == last->ceilingDbfs)
      slope = std::clamp((trying.lufs - last->lufs) / (trying.gainDb - last->gainDb), 0.1, 1.0);
    last = trying;
    if (trying.truePeakDbtp > kTruePeakAimDbtp) trying.ceilingDbfs -= trying.truePeakDbtp - kTruePeakAimDbtp + 0.05;
    trying.gainDb += (targetLufs - trying.lufs) / slope;
  }
  if (!best) {
    // The gain alone, low enough that no peak comes near the limit.
    const double safeGainDb = kTruePeakAimDbtp - inputPeak;
    best = Setting{safeGainDb, 0, result.measuredLufs + safeGainDb, kTruePeakAimDbtp};
  }
  shapeInPlace(*best);
  result.gainDb = best->gainDb;
  result.outputLufs = best->lufs;
  result.truePeakDbtp = best->truePeakDbtp;
  return {};
}
