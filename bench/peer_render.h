// Rendering a MIDI file with the fluidsynth program (and lame for MP3), the peer
// the benchmark compares against.
#pragma once

#include <string>

#include "bench/bench_options.h"

namespace bench {

// Renders midiFile with soundFont into outFile: WAV straight from fluidsynth's
// fast renderer, MP3 as fluidsynth's raw output piped into lame, resampled to
// mp3Rate. False with error set when a program is missing or fails.
bool RenderWithFluidSynth(const std::string& soundFont, const std::string& midiFile, const std::string& outFile,
                          OutputFormat format, int mp3Rate, std::string& error);

}  // namespace bench
