#include "bench/synthesis_settings.h"

#include <cstdio>

#include "platform/synth/synthesizer.h"

namespace bench {
namespace {

using platform::Synthesizer;

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string SynthesisSettingsText() {
  return "sample rate " + std::to_string(Synthesizer::kSampleRate) + " Hz, gain " + Format("%g", Synthesizer::kGain) +
         ", reverb on, chorus on (FluidSynth's default parameters), polyphony " +
         std::to_string(Synthesizer::kPolyphony) +
         " voices, fourth-order interpolation (FluidSynth's default), 16-bit output";
}

std::vector<std::string> FluidSynthOptions() {
  return {"-ni", "-q",
          "-g",  Format("%g", Synthesizer::kGain),
          "-R",  "1",
          "-C",  "1",
          "-o",  "synth.polyphony=" + std::to_string(Synthesizer::kPolyphony),
          "-r",  std::to_string(Synthesizer::kSampleRate),
          "-O",  "s16"};
}

std::string JoinFluidSynthOptions() {
  std::string joined;
  for (const std::string& option : FluidSynthOptions()) {
    if (!joined.empty()) joined += ' ';
    joined += option;
  }
  return joined;
}

}  // namespace bench
