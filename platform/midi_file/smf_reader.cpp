// The container of a Standard MIDI file (RIFF wrapper, header, chunks) and the
// making of a sequence from its tracks: time base, format 2 sequencing, length,
// playing time and the limits that keep hostile files out.
#include "platform/midi_file/smf_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/midi_file/smf_cursor.h"
#include "platform/midi_file/smf_track.h"

namespace platform::smf {
namespace {

using Bytes = std::span<const std::uint8_t>;

bool HasId(Bytes bytes, std::size_t at, const char* id) {
  return bytes.size() >= at + 4 && std::equal(id, id + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// A chunk id for a message: its four characters when printable, else in hex.
std::string ChunkName(std::uint32_t id) {
  std::string text;
  bool printable = true;
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = static_cast<char>((id >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) printable = false;
    text += c;
  }
  if (printable) return "'" + text + "'";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", id);
  return hex;
}

// File ticks to music time: ticks * num / den, rounded to the nearest tick.
struct TimeBase {
  std::int64_t num = kTicksPerQuarter;
  std::int64_t den = 1;
  bool smpte = false;

  // ticks never exceed kTickCeiling (2^40) and num stays below 2^21, so the
  // product fits in 64 bits.
  std::int64_t ToMusic(std::int64_t ticks) const { return (ticks * num + den / 2) / den; }
};

// Reads the division word: ticks a quarter note, or SMPTE frames a second and
// ticks a frame. False for a division that gives no time at all.
bool MakeTimeBase(std::uint16_t division, TimeBase& base, std::string& message) {
  if ((division & 0x8000) == 0) {
    if (division == 0) {
      message = "the header gives a time division of 0 ticks a quarter note";
      return false;
    }
    base.num = kTicksPerQuarter;
    base.den = division;
    return true;
  }
  // SMPTE: the high byte is minus the frame rate (29 stands for 29.97 drop
  // frame), the low byte counts ticks a frame. Seconds map to music time at the
  // default tempo: 1,000,000 / kDefaultTempo quarter notes a second.
  int frames = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
  int ticksPerFrame = division & 0xFF;
  if (ticksPerFrame == 0) {
    message = "the header gives an SMPTE time division of 0 ticks a frame";
    return false;
  }
  std::int64_t musicPerSecond = std::int64_t{kTicksPerQuarter} * 1000000 / kDefaultTempo;
  base.smpte = true;
  if (frames == 29) {
    base.num = musicPerSecond * 1001;
    base.den = std::int64_t{30000} * ticksPerFrame;
  } else {
    base.num = musicPerSecond;
    base.den = std::int64_t{frames} * ticksPerFrame;
  }
  return true;
}

// The Standard MIDI file inside a RIFF "RMID" file: its "data" chunk.
bool UnwrapRmid(Bytes bytes, Bytes& smf, std::string& message) {
  if (bytes.size() < 12 || !HasId(bytes, 8, "RMID")) {
    message = "a RIFF file that holds no MIDI music (no RMID form)";
    return false;
  }
  // The RIFF size is not trusted: the chunks are read to the end of the bytes.
  ByteCursor in(bytes);
  in.Take(12);
  while (in.Remaining() >= 8) {
    std::size_t at = in.Position();
    std::uint32_t id = 0;
    std::uint32_t size = 0;
    in.ReadU32(id);
    in.ReadU32(size);
    if (HasId(bytes, at, "data")) {
      smf = in.Take(size);
      return true;
    }
    in.Take(std::size_t{size} + (size & 1u));
  }
  message = "a RIFF MIDI file without its data chunk";
  return false;
}

// Seconds of music time 0..end through the tempo events (sorted by time).
double PlayingSeconds(const std::vector<Event>& events, std::int64_t end) {
  double seconds = 0.0;
  std::int64_t at = 0;
  std::uint32_t tempo = kDefaultTempo;
  for (const Event& e : events) {
    if (e.kind != EventKind::Tempo) continue;
    if (e.time >= end) break;
    seconds += static_cast<double>(e.time - at) * tempo / (1e6 * kTicksPerQuarter);
    at = e.time;
    tempo = e.tempo;
  }
  seconds += static_cast<double>(end - at) * tempo / (1e6 * kTicksPerQuarter);
  return seconds;
}

std::string SecondsText(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f s", seconds);
  return text;
}

class SequenceBuilder {
 public:
  SequenceBuilder(Sequence& out, std::string& message, double maxSeconds)
      : out_(out), message_(message), maxSeconds_(maxSeconds) {}

  HRESULT Read(Bytes bytes) {
    if (bytes.empty()) return Fail(kResultNotMidiFile, "the file is empty");
    Bytes smf = bytes;
    if (HasId(bytes, 0, "RIFF") && !UnwrapRmid(bytes, smf, message_)) return kResultNotMidiFile;
    if (!HasId(smf, 0, "MThd")) {
      return Fail(kResultNotMidiFile, smf.size() < 4 ? "the file is too short to be a MIDI file"
                                                     : "not a Standard MIDI file (it does not start with MThd)");
    }
    HRESULT hr = ReadChunks(smf);
    if (FAILED(hr)) return hr;
    return Finish();
  }

 private:
  HRESULT Fail(HRESULT hr, std::string text) {
    message_ = std::move(text);
    out_ = Sequence{};
    return hr;
  }
  void Warn(std::string text) { out_.warnings.push_back(std::move(text)); }

  HRESULT ReadChunks(Bytes smf) {
    ByteCursor in(smf);
    in.Take(4);
    std::uint32_t headerLength = 0;
    std::uint16_t division = 0;
    if (!in.ReadU32(headerLength) || !in.ReadU16(format_) || !in.ReadU16(declaredTracks_) || !in.ReadU16(division)) {
      return Fail(kResultInvalidFile, "the file ends inside its header");
    }
    if (headerLength < 6) {
      return Fail(kResultInvalidFile,
                  "the header is " + std::to_string(headerLength) + " bytes long, too short for a MIDI header");
    }
    if (headerLength - 6 > in.Remaining()) {
      return Fail(kResultInvalidFile, "the header claims " + std::to_string(headerLength) +
                                          " bytes, more than the file holds: no track can be found");
    }
    if (headerLength > 6) {
      Warn("the header holds " + std::to_string(headerLength - 6) + " extra bytes; skipped");
      in.Take(headerLength - 6);
    }
    if (!MakeTimeBase(division, base_, message_)) return Fail(kResultInvalidFile, message_);

    while (!in.AtEnd()) {
      if (in.Remaining() < 8) {
        Warn(std::to_string(in.Remaining()) + " stray byte(s) after the last chunk ignored");
        break;
      }
      std::uint32_t id = 0;
      std::uint32_t length = 0;
      in.ReadU32(id);
      in.ReadU32(length);
      bool cut = length > in.Remaining();
      if (id != 0x4D54726Bu) {  // not "MTrk"
        if (cut) {
          Warn("chunk " + ChunkName(id) + " runs past the end of the file; the rest of the file is ignored");
          break;
        }
        Warn("unknown chunk " + ChunkName(id) + " (" + std::to_string(length) + " bytes) skipped");
        in.Take(length);
        continue;
      }
      unsigned number = static_cast<unsigned>(tracks_.size() + 1);
      TrackRead track = ReadTrack(in.Take(length), cut, number);
      if (track.vlqTooLong) {
        return Fail(kResultInvalidFile, "track " + std::to_string(number) +
                                            ": a variable-length number runs over 4 bytes; this is no MIDI track");
      }
      if (track.dataOutOfRange) out_.dataOutOfRange = true;
      if (cut) {
        out_.truncated = true;
        track.warnings.push_back("track " + std::to_string(number) +
                                 ": the file was cut short inside this track; what was read plays");
      }
      tracks_.push_back(std::move(track));
    }

    if (tracks_.empty()) {
      return Fail(kResultInvalidFile,
                  "the file holds no track (its header announces " + std::to_string(declaredTracks_) + ")");
    }
    if (tracks_.size() != declaredTracks_) {
      Warn("the header announces " + std::to_string(declaredTracks_) + " track(s), the file holds " +
           std::to_string(tracks_.size()));
    }
    if (format_ > 2) Warn("unknown format " + std::to_string(format_) + "; its tracks play together");
    if (format_ == 0 && tracks_.size() > 1)
      Warn("a format 0 file with " + std::to_string(tracks_.size()) + " tracks; they play together");
    return S_OK;
  }

  // Turns the tracks into the sequence: music times, durations, length, limits.
  HRESULT Finish() {
    std::size_t total = 0;
    for (const TrackRead& t : tracks_) total += t.events.size();
    out_.events.reserve(total + 1);
    if (base_.smpte) {
      Event tempo;
      tempo.kind = EventKind::Tempo;
      tempo.tempo = kDefaultTempo;
      music_.push_back(0);
      out_.events.push_back(tempo);
    }

    bool anyNote = false;
    bool droppedSmpteTempo = false;
    std::int64_t offset = 0;     // format 2: where the current track starts
    std::int64_t musicEnd = 0;   // last channel event or note end
    std::int64_t silentEnd = 0;  // last event or track end, for files without notes
    for (TrackRead& track : tracks_) {
      for (std::string& w : track.warnings) out_.warnings.push_back(std::move(w));
      std::int64_t trackEnd = base_.ToMusic(std::min(offset + track.endTick, kTickCeiling));
      silentEnd = std::max(silentEnd, trackEnd);
      for (TrackEvent& te : track.events) {
        if (te.event.kind == EventKind::Tempo && base_.smpte) {
          droppedSmpteTempo = true;
          continue;
        }
        std::int64_t start = base_.ToMusic(std::min(offset + te.tick, kTickCeiling));
        Event& e = out_.events.emplace_back(std::move(te.event));
        music_.push_back(start);
        silentEnd = std::max(silentEnd, start);
        if (e.kind == EventKind::Note) {
          anyNote = true;
          std::int64_t end = te.endTick < 0 ? trackEnd : base_.ToMusic(std::min(offset + te.endTick, kTickCeiling));
          std::int64_t duration = std::max<std::int64_t>(1, end - start);
          musicEnd = std::max(musicEnd, start + duration);  // too long a note fails the length check below
          e.duration =
              static_cast<MUSIC_TIME>(std::min<std::int64_t>(duration, std::numeric_limits<MUSIC_TIME>::max()));
        } else if (e.kind == EventKind::Channel) {
          musicEnd = std::max(musicEnd, start);
        }
      }
      if (format_ == 2) offset = std::min(offset + track.endTick, kTickCeiling);
    }
    tracks_.clear();
    if (droppedSmpteTempo) Warn("tempo events ignored: the file counts time in SMPTE frames");

    std::int64_t length = anyNote ? musicEnd : silentEnd;
    if (length == 0) {
      return Fail(kResultInvalidFile, out_.truncated ? "the file was cut short before any music"
                                                     : "the file holds no music (no notes and no length)");
    }
    if (length > std::numeric_limits<MUSIC_TIME>::max()) {
      return Fail(kResultInvalidFile, "the music runs past the longest time a segment can hold");
    }

    // Keep what lies within the length, in time order (stable: equal times keep
    // track order, then file order).
    std::vector<std::size_t> order;
    order.reserve(out_.events.size());
    for (std::size_t i = 0; i < out_.events.size(); ++i) {
      if (music_[i] <= length) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [this](std::size_t a, std::size_t b) { return music_[a] < music_[b]; });
    std::vector<Event> sorted;
    sorted.reserve(order.size());
    for (std::size_t i : order) {
      Event& e = sorted.emplace_back(std::move(out_.events[i]));
      e.time = static_cast<MUSIC_TIME>(music_[i]);
    }
    out_.events = std::move(sorted);
    out_.length = static_cast<MUSIC_TIME>(length);
    out_.seconds = PlayingSeconds(out_.events, length);
    if (!(out_.seconds <= maxSeconds_)) {
      return Fail(kResultInvalidFile, "the music would play for " + SecondsText(out_.seconds) + ", longer than the " +
                                          SecondsText(maxSeconds_) + " allowed");
    }
    return S_OK;
  }

  Sequence& out_;
  std::string& message_;
  double maxSeconds_;
  std::uint16_t format_ = 0;
  std::uint16_t declaredTracks_ = 0;
  TimeBase base_;
  std::vector<TrackRead> tracks_;
  std::vector<std::int64_t> music_;  // music time of each event of out_.events, before sorting
};

}  // namespace

HRESULT ReadStandardMidiFile(std::span<const std::uint8_t> bytes, Sequence& out, std::string& message,
                             double maxSeconds) {
  out = Sequence{};
  message.clear();
  return SequenceBuilder(out, message, maxSeconds).Read(bytes);
}

}  // namespace platform::smf
