// Reads a Standard MIDI file into a sequence of timed events in music time, the
// form a segment plays from.
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

enum class EventKind : std::uint8_t {
  Note,     // a note with its duration; status 0x90 | channel, data1 key, data2 velocity (1-127)
  Channel,  // any other channel message: status 0x80-0xEF, data1, data2 (0 for one-byte messages)
  Tempo,    // tempo change: tempo in microseconds per quarter note
  SysEx,    // system exclusive: sysex holds the whole message, starting with F0
};

struct Event {
  MUSIC_TIME time = 0;      // music time, 768 ticks a quarter note
  EventKind kind = EventKind::Channel;
  std::uint8_t status = 0;
  std::uint8_t data1 = 0;
  std::uint8_t data2 = 0;
  MUSIC_TIME duration = 0;  // notes: ticks until the note-off, at least 1
  std::uint32_t tempo = 0;  // tempo events
  std::uint32_t track = 0;  // the track it came from
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
