#include "output/captured_audio.h"

// Zero at start; the program sets hHeap before Setup, the effect fills in the rest.
CaptureRecord g_CaptureRecord{};
