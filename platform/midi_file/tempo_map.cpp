#include "platform/midi_file/tempo_map.h"

#include <algorithm>
#include <limits>

#include "platform/midi_file/smf_reader.h"

namespace platform {

TempoMap::TempoMap() : points_{{0, 0, smf::kDefaultTempo}} {}

TempoMap::TempoMap(const std::vector<Change>& changes) {
  std::uint32_t first = changes.empty() ? smf::kDefaultTempo : changes.front().tempo;
  points_.push_back({0, 0, first == 0 ? 1u : first});
  for (const Change& change : changes) {
    if (change.time <= 0) {
      points_.front().tempo = change.tempo == 0 ? 1 : change.tempo;
      continue;
    }
    const Point& last = points_.back();
    const std::int64_t position = last.position + static_cast<std::int64_t>(change.time - last.time) * last.tempo;
    const std::uint32_t tempo = change.tempo == 0 ? 1 : change.tempo;
    if (change.time == last.time)
      points_.back().tempo = tempo;
    else
      points_.push_back({change.time, position, tempo});
  }
}

std::int64_t TempoMap::Position(MUSIC_TIME mt) const {
  auto it =
      std::upper_bound(points_.begin(), points_.end(), mt, [](MUSIC_TIME t, const Point& p) { return t < p.time; });
  const Point& p = it == points_.begin() ? points_.front() : *std::prev(it);
  return p.position + static_cast<std::int64_t>(mt - p.time) * p.tempo;
}

MUSIC_TIME TempoMap::MusicTimeAt(std::int64_t position) const {
  auto it = std::upper_bound(points_.begin(), points_.end(), position,
                             [](std::int64_t q, const Point& p) { return q < p.position; });
  const Point& p = it == points_.begin() ? points_.front() : *std::prev(it);
  const std::int64_t offset = position - p.position;
  // Floor division, also for positions before 0.
  std::int64_t ticks = offset / p.tempo;
  if (offset % p.tempo != 0 && offset < 0) --ticks;
  const std::int64_t mt = p.time + ticks;
  return static_cast<MUSIC_TIME>(
      std::clamp<std::int64_t>(mt, std::numeric_limits<MUSIC_TIME>::min(), std::numeric_limits<MUSIC_TIME>::max()));
}

}  // namespace platform
