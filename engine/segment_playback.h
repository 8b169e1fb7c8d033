// Playing one MIDI file: loading it as a segment, playing it on the configured
// audio path, the end-of-music notifications the caller polls, the clock in whole
// seconds, and stopping and closing the performance down.
#pragma once

#include <string>
#include <vector>

#include "platform/core/wintypes.h"

// Loads the file at path (8-bit text, any length the platform accepts) as the
// segment to play. On failure the segment loaded before stays.
HRESULT LoadMIDI(const char* path);

// Why the last LoadMIDI failed, in a few words for a person ("the file is empty",
// "the music would play for ... longer than ... allowed"); LoadMIDI also logs it.
// Empty after a load that succeeded (and when the loader gave no reason).
std::string GetLoadFailureMIDI();

// What the MIDI reader had to repair to play the file the last LoadMIDI loaded
// (a track cut short, data bytes out of range, a note never released, ...), one
// reason each, as LoadMIDI logs them after "Repaired: ". Empty for a sound file.
std::vector<std::string> GetLoadRepairsMIDI();

// Plays the loaded segment once, as a secondary segment that also controls tempo
// and time signature, on the configured audio path; with notify, segment
// notifications are queued for GetNotifyMIDI.
HRESULT PlayMIDI(BOOL notify);

// Takes one waiting notification and returns its option (2: the music is almost
// at its end), or -1 when none is waiting or the queue cannot be read.
int GetNotifyMIDI();

// Stops queuing segment notifications.
HRESULT RemoveNotifyMIDI();

// Lets the music sound on for 700 ms (on a recording clock: renders 700 ms more),
// whatever still sounds fading to silence over the last few milliseconds, then
// stops everything (a performance that is not set up has nothing to let sound on
// and stops at once), logs how many samples were clipped (when any were) and
// closes the performance down.
HRESULT StopMIDI();

// The performance's clock in whole seconds (take differences of two readings);
// 0 when it cannot be read.
int GetTimeMIDI();

// The clock time, in whole seconds, to which the performance maps the segment's
// length; 0 when it cannot be worked out.
int GetEndTimeMIDI();

// The same two readings in the clock's own units (100 ns), for differences that
// must not depend on where the clock stood within a second: two whole-second
// readings of the same span differ by one depending on that phase.
REFERENCE_TIME GetReferenceTimeMIDI();
REFERENCE_TIME GetEndReferenceTimeMIDI();

// How long StopMIDI lets the music sound on.
constexpr DWORD kStopTailMs = 700;
