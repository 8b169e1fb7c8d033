// --soundfont: a SoundFont file by its path, played instead of the synthesisers
// the Device list offers.
#pragma once

#include <string>

namespace convert_cli {

// Makes the SoundFont at path the first synthesiser of the Device list (the one
// chosen when no --device is given). With check, it is first loaded once to see
// that it plays. Empty when done, else why not, for "--soundfont PATH: <why>".
// A worker process takes its run's file unchecked: the run checked it.
std::string UseSoundFont(const std::string& path, bool check);

}  // namespace convert_cli
