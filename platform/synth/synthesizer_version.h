// Which FluidSynth does the synthesis.
#pragma once

namespace platform {

// The version of the FluidSynth library in use ("2.3.1").
const char* FluidSynthVersion();

}  // namespace platform
