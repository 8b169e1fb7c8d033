// FluidSynth reports its troubles on standard error; the platform says nothing
// there but the one line about a missing sound device, so its log is turned off.
#pragma once

namespace platform {

// Turns FluidSynth's log off for the process (once; later calls do nothing).
void SilenceFluidSynthLog();

}  // namespace platform
