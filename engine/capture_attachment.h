// Finding the capture effect once, and attaching it to (or removing every effect
// from) the sound buffer of the configured audio path.
#pragma once

#include "platform/core/wintypes.h"

// Looks for the audio effect named "OVDMOFilter", creates one instance of it and
// reaches its capture interface (pFilterObject, pFilterCapture, FilterDesc), then
// hands it g_CaptureRecord. S_OK when found and ready; S_FALSE when no effect of
// that name is installed; otherwise the failing call's code.
HRESULT FindFilter();

// Attaches the effect FindFilter found to the audio path's buffer, with the path
// inactive while the effects change. E_FAIL when no buffer is configured.
HRESULT SetFilter();

// Removes every effect from the audio path's buffer. E_FAIL when no buffer is configured.
HRESULT RemoveFilter();
