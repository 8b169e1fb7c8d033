// Reads a Standard MIDI file into a sequence of timed events in music time, the
// form a segment plays from.
//
// What it reads: formats 0, 1 and 2 (format 2 tracks play one after another,
// each starting where the previous one ended), any number of tracks, karaoke
// files (their text events are skipped like every meta event but the tempo),
// and RIFF-wrapped files (RIFF "RMID" with the file in its "data" chunk).
//
// Time: absolute times are counted in the file's own ticks and each one is
// converted to music time once, rounded to the nearest tick, so rounding never
// accumulates. A file timed in SMPTE frames is mapped to music time at the
// default tempo and gets one tempo event of kDefaultTempo at time 0 (its own
// tempo events mean nothing and are dropped), so the master tempo still scales it.
//
// Notes: a note-on with velocity 0 is a note-off. A note-off ends the sounding
// note of its channel and key in its track; one without a note-on is dropped.
// A note-on whose key still sounds on that channel ends the earlier note at that
// moment, so notes of one channel and key never overlap. A note without its
// note-off sounds to the end of its track. Every note lasts at least 1 tick.
//
// Length: the time of the last channel event or note end. An end-of-track far
// after the released music adds nothing, except through a note still held
// there. A file without a single note lasts to the latest end of its tracks or
// events (a file of silence that says so plays as silence). A file whose length
// comes out 0 holds no music and fails. Events after the length (a SysEx or a
// tempo change after the music) are dropped: every event lies within the length.
//
// Forgiven, with a warning: running status resumed after a meta event or a
// SysEx, system common and real-time bytes inside a track (skipped with their
// data), data bytes without a status byte (skipped), data bytes above 127 in a
// channel message (they belong to the message, as players read them, and count
// as 127; dataOutOfRange is set), a SysEx without F7, a missing end-of-track, unknown
// chunks, a longer header, stray bytes after the last chunk, a header counting
// the tracks wrongly, more than one track in a format 0 file, bytes after a
// track's end-of-track event, notes never released (held to the end of their
// track), and a track cut off by the end of the file (what was read plays;
// truncated is set). Every one of them is a line of warnings.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/core/wintypes.h"

namespace platform::smf {

// Music time resolution of every sequence, whatever the file's own division.
constexpr MUSIC_TIME kTicksPerQuarter = 768;
// The tempo in force until the first tempo event (120 beats a minute).
constexpr std::uint32_t kDefaultTempo = 500000;

// Result of a file that is no Standard MIDI file at all (DMUS_E_UNSUPPORTED_STREAM).
constexpr HRESULT kResultNotMidiFile = MakeResult(0x88781150);
// Result of a MIDI file that cannot be played: empty of music, lying, hostile
// (DMUS_E_INVALIDFILE).
constexpr HRESULT kResultInvalidFile = MakeResult(0x88781200);

enum class EventKind : std::uint8_t {
  Note,     // a note with its duration; status 0x90 | channel, data1 key, data2 velocity (1-127)
  Channel,  // any other channel message: status 0x80-0xEF, data1, data2 (0 for one-byte messages)
  Tempo,    // tempo change: tempo in microseconds per quarter note
  SysEx,    // system exclusive: sysex holds the whole message, starting with F0
};

struct Event {
  MUSIC_TIME time = 0;  // music time, 768 ticks a quarter note
  EventKind kind = EventKind::Channel;
  std::uint8_t status = 0;
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;
  MUSIC_TIME duration = 0;  // notes: ticks until the note-off, at least 1
  std::uint32_t tempo = 0;  // tempo events
  std::uint32_t track = 0;  // the track it came from, 0 for the file's first track chunk
  std::vector<std::uint8_t> sysex;
};

struct Sequence {
  // Sorted by time; events of equal time keep track order, then file order.
  std::vector<Event> events;
  // The time of the last channel event or note end, or of a track's end where a
  // note is still held there (such a note sounds to the end of its track).
  MUSIC_TIME length = 0;
  // Playing time in seconds at the file's own tempo (through its tempo map).
  double seconds = 0.0;
  // The file was cut short inside a track; what was read is kept.
  bool truncated = false;
  // A channel message carried a data byte above 127, read as 127.
  bool dataOutOfRange = false;
  // Things forgiven while reading (unknown chunks, running status after a meta
  // event, a missing end-of-track, ...), one line each, for the log.
  std::vector<std::string> warnings;
};

// Fills out from the bytes of a file. S_OK when something playable was read;
// otherwise a failure code and message says why (not a MIDI file, empty, a header
// that lies, lengths past the end with nothing playable, music that would last
// longer than maxSeconds at the file's own tempo, ...). Never reads past the
// bytes given, and allocates in proportion to them.
HRESULT ReadStandardMidiFile(std::span<const std::uint8_t> bytes, Sequence& out, std::string& message,
                             double maxSeconds = 4.0 * 3600.0);

}  // namespace platform::smf
