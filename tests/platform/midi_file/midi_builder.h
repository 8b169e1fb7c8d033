// Builds the bytes of Standard MIDI files for tests: header, chunks, tracks,
// variable-length numbers and events, including the broken forms real files have.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace smf_test {

// A variable-length number, padded with 0x80 bytes to at least minBytes.
inline std::string Vlq(std::uint32_t value, int minBytes = 1) {
  std::string groups;
  do {
    groups.insert(groups.begin(), static_cast<char>(value & 0x7F));
    value >>= 7;
  } while (value != 0);
  while (static_cast<int>(groups.size()) < minBytes) groups.insert(groups.begin(), '\0');
  for (std::size_t i = 0; i + 1 < groups.size(); ++i) groups[i] = static_cast<char>(groups[i] | 0x80);
  return groups;
}

inline std::string Be32(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

inline std::string Be16(std::uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }

inline std::string Raw(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

// A chunk with its own length, or a length that lies.
inline std::string Chunk(const std::string& id, const std::string& body) {
  return id + Be32(static_cast<std::uint32_t>(body.size())) + body;
}
inline std::string ChunkClaiming(const std::string& id, std::uint32_t length, const std::string& body) {
  return id + Be32(length) + body;
}

inline std::string Header(std::uint16_t format, std::uint16_t tracks, std::uint16_t division, int extraBytes = 0) {
  return Chunk("MThd",
               Be16(format) + Be16(tracks) + Be16(division) + std::string(static_cast<std::size_t>(extraBytes), '\0'));
}

// The body of a track chunk, event by event; each event takes its delta time.
class Track {
 public:
  Track& Event(std::uint32_t delta, std::initializer_list<int> bytes) {
    body_ += Vlq(delta) + Raw(bytes);
    return *this;
  }
  Track& On(std::uint32_t delta, int channel, int key, int velocity = 100) {
    return Event(delta, {0x90 | channel, key, velocity});
  }
  Track& Off(std::uint32_t delta, int channel, int key) { return Event(delta, {0x80 | channel, key, 64}); }
  Track& Tempo(std::uint32_t delta, std::uint32_t tempo) {
    return Event(delta, {0xFF, 0x51, 0x03, static_cast<int>(tempo >> 16) & 0xFF, static_cast<int>(tempo >> 8) & 0xFF,
                         static_cast<int>(tempo) & 0xFF});
  }
  Track& Text(std::uint32_t delta, const std::string& text) {
    body_ += Vlq(delta) + Raw({0xFF, 0x01}) + Vlq(static_cast<std::uint32_t>(text.size())) + text;
    return *this;
  }
  Track& SysEx(std::uint32_t delta, int status, const std::string& data) {
    body_ += Vlq(delta) + static_cast<char>(status) + Vlq(static_cast<std::uint32_t>(data.size())) + data;
    return *this;
  }
  Track& End(std::uint32_t delta = 0) { return Event(delta, {0xFF, 0x2F, 0x00}); }
  // Bytes as they are: a padded delta, running status, broken messages.
  Track& Bytes(const std::string& bytes) {
    body_ += bytes;
    return *this;
  }

  const std::string& Body() const { return body_; }
  std::string Chunk() const { return smf_test::Chunk("MTrk", body_); }

 private:
  std::string body_;
};

// A whole file: header and the given tracks.
inline std::string File(std::uint16_t format, std::uint16_t division, std::initializer_list<Track> tracks) {
  std::string s = Header(format, static_cast<std::uint16_t>(tracks.size()), division);
  for (const Track& t : tracks) s += t.Chunk();
  return s;
}

// The same file wrapped as a RIFF "RMID" file.
inline std::string Rmid(const std::string& smf) {
  std::string data = Chunk("data", smf);
  if (smf.size() % 2 != 0) data += '\0';
  return Chunk("RIFF", "RMID" + data);
}

inline std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace smf_test
