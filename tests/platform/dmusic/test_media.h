// Files the music engine's tests make for themselves: a tiny SoundFont and
// Standard MIDI files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace dmusic_test {

// Writes a SoundFont with one preset (bank 0, program 0): a looped sine that
// sounds while the key is held and releases in about releaseSeconds.
void WriteTestSoundFont(const std::string& path, double releaseSeconds = 0.1);

// Builds a Standard MIDI file, one track after another.
class MidiFile {
 public:
  explicit MidiFile(int division = 768) : division_(division) {}
  // Starts a new track; events are added to the last one with their delta time.
  MidiFile& Track();
  MidiFile& Event(std::uint32_t delta, std::vector<std::uint8_t> bytes);
  MidiFile& Tempo(std::uint32_t delta, std::uint32_t microsecondsPerQuarter);
  MidiFile& Note(std::uint32_t delta, int channel, int key, int velocity, std::uint32_t length);
  std::vector<std::uint8_t> Bytes() const;
  void Write(const std::string& path) const;

 private:
  int division_;
  std::vector<std::vector<std::uint8_t>> tracks_;
};

// Writes quarter notes at 120 beats a minute, about seconds of music (rounded to
// halves), making the file's folder; gives the path.
std::string WriteQuarterNotes(const std::filesystem::path& path, double seconds);

}  // namespace dmusic_test
