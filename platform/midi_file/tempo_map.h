// A segment's tempo map: where each music time falls in real time. Positions are
// kept as exact integer sums of ticks times microseconds a quarter note, so a
// tempo change on every tick loses nothing and rounding never accumulates.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/core/wintypes.h"

namespace platform {

class TempoMap {
 public:
  // One tempo in force from time on: tempo microseconds a quarter note.
  struct Change {
    MUSIC_TIME time;
    std::uint32_t tempo;
  };

  // The default tempo (120 beats a minute) everywhere.
  TempoMap();
  // The given changes, sorted by time; the first tempo also holds before the
  // first change. An empty list means the default tempo.
  explicit TempoMap(const std::vector<Change>& changes);

  // Microseconds a quarter note times ticks, from music time 0 to mt; negative
  // before 0. One second at the file's own tempo is 768,000,000 units.
  std::int64_t Position(MUSIC_TIME mt) const;
  // The music time at a position (the inverse of Position, rounded down).
  MUSIC_TIME MusicTimeAt(std::int64_t position) const;

  static constexpr double kUnitsPerSecond = 768.0 * 1000000.0;

 private:
  struct Point {
    MUSIC_TIME time;
    std::int64_t position;
    std::uint32_t tempo;
  };
  std::vector<Point> points_;  // the first at time 0
};

}  // namespace platform
