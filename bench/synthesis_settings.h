// The synthesis settings of the engine's synthesiser, and the fluidsynth options
// that give the fluidsynth program the same ones.
#pragma once

#include <string>
#include <vector>

namespace bench {

// "sample rate 44100 Hz, gain 0.2, ..." for the help text.
std::string SynthesisSettingsText();
// The fluidsynth options (without -F and the files), one argument each.
std::vector<std::string> FluidSynthOptions();
std::string JoinFluidSynthOptions();

}  // namespace bench
