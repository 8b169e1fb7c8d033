#include "platform/synth/synthesizer_version.h"

#include <fluidsynth.h>

namespace platform {

const char* FluidSynthVersion() { return fluid_version_str(); }

}  // namespace platform
