// FluidSynth reports its troubles on standard error; the platform says nothing
// there but the one line about a missing sound device, so its log is turned off.
// Its error messages are kept instead, for the thread they arise on, so that a
// failure (a SoundFont that cannot be loaded) can be told with FluidSynth's reason.
#pragma once

#include <string>

namespace platform {

// Turns FluidSynth's log off for the process (once; later calls do nothing).
void SilenceFluidSynthLog();

// The first error message FluidSynth gave on the calling thread since the last call
// (empty when none); clears it.
std::string TakeFluidSynthError();

}  // namespace platform
