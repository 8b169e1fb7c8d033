// Bringing a recording to a loudness (EBU R128 integrated loudness, measured with
// libebur128) with its true peak kept at or below -1 dBTP.
//
// The recording is measured and turned up or down by the gain that reaches the
// target. When that would bring its true peak above the limit (less a margin for
// meters that differ by a tenth of a dB), it also passes through a look-ahead
// limiter: each frame's gain is the moving average, over the 5 ms look-ahead, of
// the least gain any frame within the look-ahead needs to stay under the ceiling,
// so no sample passes it and the gain moves smoothly (a 5 ms attack, an 80 ms
// release). Sample peaks under a ceiling still leave peaks between the samples,
// and limiting takes back loudness, so the result is measured again (loudness and
// true peak) and the gain and ceiling adjusted until both are met, eight passes at
// most. Should that ever fail, the gain alone is cut until the true peak is met,
// and the loudness stays below the target. The recording is shaped in place: no
// second copy of it is made.
#pragma once

#include <cmath>
#include <functional>
#include <string>

#include "output/pcm_recording.h"

// The most true peak written.
constexpr double kTruePeakLimitDbtp = -1.0;

struct LoudnessResult {
  double measuredLufs = -HUGE_VAL;  // the recording's own; -inf for silence
  double gainDb = 0;                // applied before the limiter
  double outputLufs = -HUGE_VAL;    // what was written
  double truePeakDbtp = -HUGE_VAL;  // of what was written
};

// Shapes recording to targetLufs. Silence is left as it is (gain 0). Empty when
// done, else why not (the recording is then unchanged). stopped, when given, is
// asked between blocks: a long recording takes seconds, and a stop ends it early
// (with a reason).
std::string NormaliseLoudness(PcmRecording& recording, double targetLufs, LoudnessResult& result,
                              const std::function<bool()>& stopped = {});

// The integrated loudness and true peak of recording, for NormaliseLoudness and
// for whoever checks its work. False when libebur128 cannot measure it.
bool MeasureLoudness(const PcmRecording& recording, double& lufs, double& truePeakDbtp);
