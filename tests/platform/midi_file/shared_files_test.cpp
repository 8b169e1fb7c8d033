// The reader on the collection of real and deliberately damaged MIDI files that
// sits beside the repository. Skipped where that folder is absent.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/midi_file/smf_reader.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::smf::EventKind;
using platform::smf::ReadStandardMidiFile;
using platform::smf::Sequence;

fs::path SharedDir() { return fs::path(HALVANE_SHARED_DIR); }

struct Outcome {
  HRESULT hr = E_FAIL;
  Sequence seq;
  std::string message;
};

Outcome ReadFile(const fs::path& path) {
  std::string bytes = testing_support::ReadFileBytes(path);
  std::vector<std::uint8_t> data(bytes.begin(), bytes.end());
  Outcome o;
  o.hr = ReadStandardMidiFile(data, o.seq, o.message);
  return o;
}

std::size_t Notes(const Sequence& seq) {
  std::size_t n = 0;
  for (const auto& e : seq.events) n += e.kind == EventKind::Note ? 1 : 0;
  return n;
}

TEST(SmfSharedFiles, RealFilesMatchTheirListedLengthAndNotes) {
  fs::path dir = SharedDir() / "midi";
  if (!fs::is_directory(dir)) GTEST_SKIP() << dir << " is absent";
  // Note counts and playing times as the collection lists them.
  const std::map<std::string, std::pair<std::size_t, double>> expected = {
      {"midifile-ts-tracks.mid", {4873, 133.9}},
      {"mma-bossa.mid", {1887, 74.3}},
      {"openmsx-midnight_snow_run.mid", {2004, 139.1}},
      {"pangzero-UPiPang.mid", {2840, 80.3}},
      {"pianobooster-04-ClairDeLaLune.mid", {276, 48.0}},
      {"planetblupi-music005-10min.mid", {27003, 602.9}},
      {"playmidi-jazz.mid", {4064, 131.0}},
      {"simutrans-05-Boring-afternoon.mid", {10032, 289.9}},
  };
  for (const auto& [name, want] : expected) {
    fs::path path = dir / name;
    if (!fs::exists(path)) continue;
    Outcome o = ReadFile(path);
    ASSERT_EQ(o.hr, S_OK) << name << ": " << o.message;
    EXPECT_EQ(Notes(o.seq), want.first) << name;
    EXPECT_NEAR(o.seq.seconds, want.second, 0.05) << name;
    EXPECT_FALSE(o.seq.truncated) << name;
  }
}

TEST(SmfSharedFiles, UnusualFilesPlayAndBrokenOnesFailOrAreSalvaged) {
  fs::path edge = SharedDir() / "midi-tests" / "edge";
  fs::path bad = SharedDir() / "midi-tests" / "bad";
  if (!fs::is_directory(edge) || !fs::is_directory(bad)) GTEST_SKIP() << "the MIDI test collection is absent";
  // A file of one empty track holds no music; every other unusual file plays.
  for (const auto& entry : fs::directory_iterator(edge)) {
    std::string name = entry.path().filename().string();
    Outcome o = ReadFile(entry.path());
    if (name == "jazz-test-empty.mid") {
      EXPECT_TRUE(FAILED(o.hr)) << name;
      EXPECT_FALSE(o.message.empty()) << name;
      continue;
    }
    EXPECT_EQ(o.hr, S_OK) << name << ": " << o.message;
    EXPECT_GT(o.seq.length, 0) << name;
  }
  // Notes each broken file still plays (a C major scale, twice in the format 0
  // file with two tracks); 0 for files that must fail.
  const std::map<std::string, std::size_t> salvaged = {
      {"jazz-test-2-tracks-type-0.mid", 16},
      {"jazz-test-corrupt-file-missing-byte.mid", 8},
      {"jazz-test-empty-file.mid", 0},
      {"jazz-test-illegal-message-all.mid", 8},
      {"jazz-test-illegal-message-f4.mid", 8},
      {"jazz-test-not-a-midi-file.mid", 0},
      {"jazz-test-running-status-metaevent.mid", 8},
      {"jazz-test-running-status-sysex.mid", 8},
  };
  for (const auto& [name, notes] : salvaged) {
    fs::path path = bad / name;
    if (!fs::exists(path)) continue;
    Outcome o = ReadFile(path);
    if (notes > 0) {
      EXPECT_EQ(o.hr, S_OK) << name << ": " << o.message;
      EXPECT_EQ(Notes(o.seq), notes) << name;
    } else {
      EXPECT_TRUE(FAILED(o.hr)) << name;
      EXPECT_FALSE(o.message.empty()) << name;
    }
  }
}

}  // namespace
