// Reads the events of one track chunk, in the file's own ticks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/midi_file/smf_reader.h"

namespace platform::smf {

// Absolute times of a track are counted in 64 bits and held at this ceiling:
// no file reaches it honestly (it is far beyond any music time), so a time held
// there only ever means "too late to play", and products with the time base
// never overflow.
constexpr std::int64_t kTickCeiling = std::int64_t{1} << 40;

// One event of a track at its absolute time in file ticks.
struct TrackEvent {
  std::int64_t tick = 0;
  std::int64_t endTick = -1;  // notes: the note-off's tick; -1 while the note is held
  Event event;                // kind, status, data, tempo, sysex (times unset)
};

struct TrackRead {
  std::vector<TrackEvent> events;
  // Where the track ends: its end-of-track event, else the time of the last
  // thing read.
  std::int64_t endTick = 0;
  // Things forgiven, one line each, already prefixed with the track's number.
  std::vector<std::string> warnings;
  // A channel message carried a data byte above 127 (read as 127).
  bool dataOutOfRange = false;
  // A VLQ of more than 4 bytes: the bytes are no Standard MIDI track at all.
  bool vlqTooLong = false;
};

// Reads the bytes of a track chunk. cutShort tells that the chunk was cut by the
// end of the file (its missing end-of-track is then no extra warning). number is
// the track's position in the file, from 1, for the warnings.
TrackRead ReadTrack(std::span<const std::uint8_t> data, bool cutShort, unsigned number);

}  // namespace platform::smf
