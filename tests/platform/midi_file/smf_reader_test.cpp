// The Standard MIDI file reader on files the tests build: time base, notes,
// length, formats, running status, wrappers, forgiven damage and hostile input.
#include "platform/midi_file/smf_reader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/platform/midi_file/midi_builder.h"

namespace {

using namespace smf_test;
using platform::smf::Event;
using platform::smf::EventKind;
using platform::smf::ReadStandardMidiFile;
using platform::smf::Sequence;

struct Read {
  HRESULT hr = E_FAIL;
  Sequence seq;
  std::string message;
};

Read ReadBytes(const std::string& file, double maxSeconds = 4.0 * 3600.0) {
  Read r;
  std::vector<std::uint8_t> bytes = Bytes(file);
  r.hr = ReadStandardMidiFile(bytes, r.seq, r.message, maxSeconds);
  return r;
}

Read ReadOk(const std::string& file) {
  Read r = ReadBytes(file);
  EXPECT_EQ(r.hr, S_OK) << r.message;
  return r;
}

std::vector<const Event*> Of(const Sequence& seq, EventKind kind) {
  std::vector<const Event*> out;
  for (const Event& e : seq.events) {
    if (e.kind == kind) out.push_back(&e);
  }
  return out;
}

bool HasWarning(const Sequence& seq, const std::string& part) {
  return std::any_of(seq.warnings.begin(), seq.warnings.end(),
                     [&](const std::string& w) { return w.find(part) != std::string::npos; });
}

// ---- Time base and tempo map ---------------------------------------------------

TEST(SmfTime, DivisionConvertsToMusicTimeWithoutAccumulatingRounding) {
  // 7 ticks a quarter: each tick is 109.71 music ticks. Rounding each absolute
  // time lands the 7th note exactly on the quarter; rounding the deltas would
  // drift to 770.
  Track t;
  for (int i = 0; i < 8; ++i) t.On(i == 0 ? 0 : 1, 0, 60 + i).Off(0, 0, 60 + i);
  Read r = ReadOk(File(0, 7, {t.End()}));
  std::vector<const Event*> notes = Of(r.seq, EventKind::Note);
  ASSERT_EQ(notes.size(), 8u);
  EXPECT_EQ(notes[1]->time, 110);
  EXPECT_EQ(notes[2]->time, 219);
  EXPECT_EQ(notes[3]->time, 329);
  EXPECT_EQ(notes[7]->time, 768);
  EXPECT_EQ(notes[7]->duration, 1);  // note-on and note-off on one tick
}

TEST(SmfTime, CommonDivisionsAreExact) {
  for (std::uint16_t division : {96, 120, 192, 384, 480, 960, 1536}) {
    Read r = ReadOk(File(0, division, {Track().On(division, 0, 60).Off(division * 2, 0, 60).End()}));
    std::vector<const Event*> notes = Of(r.seq, EventKind::Note);
    ASSERT_EQ(notes.size(), 1u) << division;
    EXPECT_EQ(notes[0]->time, 768) << division;
    EXPECT_EQ(notes[0]->duration, 1536) << division;
    EXPECT_EQ(r.seq.length, 2304) << division;
  }
}

TEST(SmfTime, SecondsFollowTheTempoMapAcrossTracks) {
  // Quarter at 120 bpm (0.5 s), then two quarters at 240 bpm (0.25 s each),
  // the tempo track apart from the notes as format 1 files have it.
  Track tempo;
  tempo.Tempo(0, 500000).Tempo(96, 250000).End();
  Track notes;
  notes.On(0, 0, 60).Off(96, 0, 60).On(0, 0, 62).Off(192, 0, 62).End();
  Read r = ReadOk(File(1, 96, {tempo, notes}));
  EXPECT_EQ(r.seq.length, 3 * 768);
  EXPECT_DOUBLE_EQ(r.seq.seconds, 1.0);
  std::vector<const Event*> tempos = Of(r.seq, EventKind::Tempo);
  ASSERT_EQ(tempos.size(), 2u);
  EXPECT_EQ(tempos[1]->time, 768);
  EXPECT_EQ(tempos[1]->tempo, 250000u);
}

TEST(SmfTime, SmpteDivisionMapsSecondsAtTheDefaultTempo) {
  // 25 frames of 40 ticks: 1000 ticks a second; one second is two quarter
  // notes at the default tempo. The file's own tempo event means nothing.
  std::uint16_t division = static_cast<std::uint16_t>((0x100 - 25) << 8 | 40);
  Read r = ReadOk(File(0, division, {Track().Tempo(0, 1000000).On(1000, 0, 60).Off(500, 0, 60).End()}));
  std::vector<const Event*> tempos = Of(r.seq, EventKind::Tempo);
  ASSERT_EQ(tempos.size(), 1u);
  EXPECT_EQ(tempos[0]->time, 0);
  EXPECT_EQ(tempos[0]->tempo, platform::smf::kDefaultTempo);
  std::vector<const Event*> notes = Of(r.seq, EventKind::Note);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0]->time, 1536);
  EXPECT_EQ(notes[0]->duration, 768);
  EXPECT_DOUBLE_EQ(r.seq.seconds, 1.5);
  EXPECT_TRUE(HasWarning(r.seq, "SMPTE"));

  // 29.97 drop-frame: 30 frames of 1 tick are 1.001 s.
  std::uint16_t drop = static_cast<std::uint16_t>((0x100 - 29) << 8 | 1);
  Read d = ReadOk(File(0, drop, {Track().On(0, 0, 60).Off(30, 0, 60).End()}));
  EXPECT_EQ(d.seq.length, 1538);  // 1.001 s * 1536 = 1537.54
}

// ---- Notes ------------------------------------------------------------------------

TEST(SmfNotes, PairingAndDurations) {
  Track t;
  t.On(0, 0, 60)     // 0..96, ended by velocity 0
      .On(0, 1, 60)  // channel 1, same key: its own note, 0..192
      .Event(96, {0x90, 60, 0})
      .Off(0, 0, 61)  // note-off without note-on: dropped
      .Off(96, 1, 60)
      .On(0, 0, 64)
      .On(48, 0, 64)   // struck again while sounding: the first ends at 240
      .Off(48, 0, 64)  // ends the second at 288
      .Off(0, 0, 64)   // nothing sounds any more: dropped
      .On(0, 0, 67)    // never released: sounds to the end of the track
      .End(96);
  Read r = ReadOk(File(0, 96, {t}));
  std::vector<const Event*> n = Of(r.seq, EventKind::Note);
  ASSERT_EQ(n.size(), 5u);
  auto expect = [](const Event* e, int status, int key, int time, int duration) {
    EXPECT_EQ(e->status, status);
    EXPECT_EQ(e->data1, key);
    EXPECT_EQ(e->time, time);
    EXPECT_EQ(e->duration, duration);
  };
  expect(n[0], 0x90, 60, 0, 768);
  expect(n[1], 0x91, 60, 0, 1536);
  expect(n[2], 0x90, 64, 1536, 384);
  expect(n[3], 0x90, 64, 1920, 384);
  expect(n[4], 0x90, 67, 2304, 768);
  EXPECT_EQ(n[0]->data2, 100);
  EXPECT_EQ(r.seq.length, 3072);  // the held note's track end
  EXPECT_TRUE(Of(r.seq, EventKind::Channel).empty());
}

TEST(SmfNotes, OtherChannelMessagesAreKeptAsTheyAre) {
  Track t;
  t.Event(0, {0xC3, 5}).Event(0, {0xB3, 7, 90}).Event(0, {0xE3, 0, 64}).Event(0, {0xD3, 40}).Event(0, {0xA3, 60, 20});
  t.On(0, 3, 60).Off(96, 3, 60).End();
  Read r = ReadOk(File(0, 96, {t}));
  std::vector<const Event*> c = Of(r.seq, EventKind::Channel);
  ASSERT_EQ(c.size(), 5u);
  EXPECT_EQ(c[0]->status, 0xC3);
  EXPECT_EQ(c[0]->data1, 5);
  EXPECT_EQ(c[0]->data2, 0);
  EXPECT_EQ(c[1]->status, 0xB3);
  EXPECT_EQ(c[1]->data2, 90);
  EXPECT_EQ(c[2]->status, 0xE3);
  EXPECT_EQ(c[3]->status, 0xD3);
  EXPECT_EQ(c[4]->status, 0xA3);
}

// ---- Length -------------------------------------------------------------------------

TEST(SmfLength, EndOfTrackLongAfterTheMusicAddsNothing) {
  // An hour of silence before the end-of-track marker.
  Read r = ReadOk(File(0, 96, {Track().On(0, 0, 60).Off(96, 0, 60).End(96 * 2 * 3600)}));
  EXPECT_EQ(r.seq.length, 768);
  EXPECT_DOUBLE_EQ(r.seq.seconds, 0.5);
}

TEST(SmfLength, LastChannelEventCountsAndEventsAfterTheMusicAreDropped) {
  Track t;
  t.On(0, 0, 60).Off(96, 0, 60).Event(96, {0xB0, 123, 0}).SysEx(96, 0xF0, Raw({0x7E, 0x7F, 0x09, 0x01, 0xF7}));
  t.Tempo(0, 400000).End(960);
  Read r = ReadOk(File(0, 96, {t}));
  EXPECT_EQ(r.seq.length, 1536);
  EXPECT_TRUE(Of(r.seq, EventKind::SysEx).empty());
  EXPECT_TRUE(Of(r.seq, EventKind::Tempo).empty());
  for (const Event& e : r.seq.events) EXPECT_LE(e.time, r.seq.length);
}

TEST(SmfLength, HeldNoteInOneTrackReachesThatTrackEndOnly) {
  Track a;
  a.On(0, 0, 60).End(960);  // held to 960
  Track b;
  b.On(0, 1, 60).Off(96, 1, 60).End(96 * 100);  // released early, long end marker
  Read r = ReadOk(File(1, 96, {a, b}));
  EXPECT_EQ(r.seq.length, 960 * 8);
}

TEST(SmfLength, FilesWithoutNotesLastToTheirEndAndEmptyOnesFail) {
  // Silence that says how long it is plays as that much silence.
  Read silent = ReadOk(File(1, 96, {Track().Text(0, "silence").End(960)}));
  EXPECT_EQ(silent.seq.length, 960 * 8);
  EXPECT_DOUBLE_EQ(silent.seq.seconds, 5.0);
  Read controller = ReadOk(File(1, 96, {Track().Event(960, {0xB0, 123, 0}).End()}));
  EXPECT_EQ(controller.seq.length, 960 * 8);

  Read empty = ReadBytes(File(1, 96, {Track().End()}));
  EXPECT_EQ(empty.hr, platform::smf::kResultInvalidFile);
  EXPECT_NE(empty.message.find("no music"), std::string::npos) << empty.message;
  EXPECT_TRUE(empty.seq.events.empty());
}

// ---- Formats and merging -------------------------------------------------------------

TEST(SmfFormats, Format1MergesTracksByTimeKeepingTrackOrder) {
  Track a;
  a.On(0, 0, 60).Off(96, 0, 60).End();
  Track b;
  b.On(0, 1, 62).On(48, 1, 64).Off(48, 1, 62).Off(0, 1, 64).End();
  Read r = ReadOk(File(1, 96, {a, b}));
  std::vector<const Event*> n = Of(r.seq, EventKind::Note);
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[0]->data1, 60);
  EXPECT_EQ(n[0]->track, 0u);
  EXPECT_EQ(n[1]->data1, 62);
  EXPECT_EQ(n[1]->track, 1u);
  EXPECT_EQ(n[2]->data1, 64);
  EXPECT_EQ(n[2]->time, 384);
}

TEST(SmfFormats, Format2PlaysTracksOneAfterAnother) {
  Track a;
  a.On(0, 0, 60).Off(96, 0, 60).End(96);  // ends at 192
  Track b;
  b.On(48, 0, 62).End(96);  // held: starts at 240, ends at 336
  Track c;
  c.On(0, 0, 64).Off(96, 0, 64).End();
  Read r = ReadOk(File(2, 96, {a, b, c}));
  std::vector<const Event*> n = Of(r.seq, EventKind::Note);
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[0]->time, 0);
  EXPECT_EQ(n[1]->time, 240 * 8);
  EXPECT_EQ(n[1]->duration, 96 * 8);
  EXPECT_EQ(n[2]->time, 336 * 8);
  EXPECT_EQ(r.seq.length, 432 * 8);
}

TEST(SmfFormats, RmidWrapperHoldsTheFile) {
  std::string smf = File(0, 96, {Track().On(0, 0, 60).Off(96, 0, 60).End()});
  std::string rmid = Rmid(smf);
  // A chunk before the data chunk, with an odd size and its pad byte.
  std::string withInfo = Chunk("RIFF", "RMID" + Chunk("DISP", "abc") + std::string(1, '\0') + Chunk("data", smf));
  for (const std::string& file : {rmid, withInfo}) {
    Read r = ReadOk(file);
    ASSERT_EQ(Of(r.seq, EventKind::Note).size(), 1u);
    EXPECT_EQ(r.seq.length, 768);
  }
}

TEST(SmfFormats, ManyTracks) {
  std::string file = Header(1, 300, 96);
  for (int i = 0; i < 300; ++i)
    file += Track().On(static_cast<std::uint32_t>(i), i % 16, 60).Off(1, i % 16, 60).End().Chunk();
  Read r = ReadOk(file);
  EXPECT_EQ(Of(r.seq, EventKind::Note).size(), 300u);
  EXPECT_EQ(r.seq.events.back().track, 299u);
}

// ---- Running status, system messages and SysEx -----------------------------------------

TEST(SmfStatus, RunningStatusAndWhatInterruptsIt) {
  Track t;
  t.Event(0, {0x90, 60, 100}).Event(96, {60, 0}).Event(0, {62, 100});             // plain running status
  t.Text(0, "verse").Event(96, {62, 0});                                          // resumed after a meta event
  t.SysEx(0, 0xF0, Raw({0x41, 0x10, 0xF7})).Event(0, {64, 100});                  // resumed after a SysEx
  t.Event(96, {0xF8}).Event(0, {0xF2, 1, 2}).Event(0, {0xF4}).Event(0, {64, 0});  // system bytes skipped
  t.End();
  Read r = ReadOk(File(0, 96, {t}));
  std::vector<const Event*> n = Of(r.seq, EventKind::Note);
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[0]->duration, 768);
  EXPECT_EQ(n[1]->data1, 62);
  EXPECT_EQ(n[1]->duration, 768);
  EXPECT_EQ(n[2]->data1, 64);
  EXPECT_EQ(n[2]->duration, 768);
  EXPECT_TRUE(HasWarning(r.seq, "track 1: running status resumed after a meta event"));
  EXPECT_TRUE(HasWarning(r.seq, "track 1: running status resumed after a SysEx"));
  EXPECT_TRUE(HasWarning(r.seq, "system message inside the track skipped (3 times)"));
  ASSERT_EQ(Of(r.seq, EventKind::SysEx).size(), 1u);
  EXPECT_EQ(Of(r.seq, EventKind::SysEx)[0]->sysex, Bytes(Raw({0xF0, 0x41, 0x10, 0xF7})));
}

TEST(SmfStatus, StrayDataBytesAreSkipped) {
  Track t;
  t.Event(0, {0x40, 0x41}).Event(0, {0x90, 60, 100});  // data before any status: skipped, the note reads at its time
  t.Off(96, 0, 60).End();
  Read r = ReadOk(File(0, 96, {t}));
  std::vector<const Event*> n = Of(r.seq, EventKind::Note);
  ASSERT_EQ(n.size(), 1u);
  EXPECT_EQ(n[0]->data1, 60);
  EXPECT_EQ(n[0]->duration, 768);
  EXPECT_TRUE(HasWarning(r.seq, "data bytes without a status byte"));
  EXPECT_FALSE(r.seq.dataOutOfRange);
}

TEST(SmfStatus, DataBytesAbove127BelongToTheirMessageAsTheirTopValue) {
  // Volume FF, a note-on with key C8 and velocity 90 (running status), a pitch
  // bend of two high bytes: each byte is data, clamped; the song goes on.
  Track t;
  t.Event(0, {0xB0, 7, 0xFF}).Event(0, {0x90, 0xC8, 0x90}).Event(0, {60, 0xFF});
  t.Event(0, {0xE0, 0x80, 0xFF}).Off(96, 0, 60).Event(0, {0x80, 0xC8, 0}).On(0, 0, 64).Off(96, 0, 64).End();
  Read r = ReadOk(File(0, 96, {t}));
  std::vector<const Event*> c = Of(r.seq, EventKind::Channel);
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0]->data2, 127);
  EXPECT_EQ(c[1]->data1, 127);
  EXPECT_EQ(c[1]->data2, 127);
  std::vector<const Event*> n = Of(r.seq, EventKind::Note);
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[0]->data1, 127);
  EXPECT_EQ(n[0]->data2, 127);
  EXPECT_EQ(n[0]->duration, 768);  // the note-off with key C8 ends it
  EXPECT_EQ(n[1]->data1, 60);
  EXPECT_EQ(n[2]->data1, 64);
  EXPECT_EQ(r.seq.length, 1536);
  EXPECT_TRUE(r.seq.dataOutOfRange);
  EXPECT_TRUE(HasWarning(r.seq, "track 1: data bytes above 127 in channel messages read as 127 (7 times)"));
}

TEST(SmfStatus, SysExPacketsAndEscapes) {
  Track t;
  t.SysEx(0, 0xF0, Raw({0x43, 0x12}))  // first packet, continued below
      .SysEx(10, 0xF7, Raw({0x00, 0xF7}))
      .SysEx(0, 0xF7, Raw({0xF0, 0x7E, 0xF7}))  // a whole SysEx sent as an escape
      .SysEx(0, 0xF7, Raw({0xF8}))              // an escaped real-time byte: not kept
      .SysEx(0, 0xF0, Raw({0x7D}))              // never closed
      .On(0, 0, 60)
      .Off(96, 0, 60)
      .End();
  Read r = ReadOk(File(0, 96, {t}));
  std::vector<const Event*> s = Of(r.seq, EventKind::SysEx);
  ASSERT_EQ(s.size(), 3u);
  EXPECT_EQ(s[0]->sysex, Bytes(Raw({0xF0, 0x43, 0x12, 0x00, 0xF7})));
  EXPECT_EQ(s[0]->time, 0);
  EXPECT_EQ(s[1]->sysex, Bytes(Raw({0xF0, 0x7E, 0xF7})));
  EXPECT_EQ(s[2]->sysex, Bytes(Raw({0xF0, 0x7D, 0xF7})));
  EXPECT_TRUE(HasWarning(r.seq, "escape packet"));
  EXPECT_TRUE(HasWarning(r.seq, "SysEx without its closing F7"));
}

// ---- Unusual but readable --------------------------------------------------------------

TEST(SmfForgiven, UnusualLayoutsPlay) {
  Track music;
  music.On(0, 0, 60).Off(96, 0, 60).End();
  std::string note = music.Chunk();
  struct Case {
    const char* name;
    std::string file;
    const char* warning;
  };
  std::vector<Case> cases = {
      {"longer header", Header(1, 1, 96, 4) + note, "4 extra bytes"},
      {"unknown chunk between tracks", Header(1, 2, 96) + Chunk("Junk", "xyz") + note + note, "unknown chunk 'Junk'"},
      {"stray byte after the last chunk", Header(1, 1, 96) + note + "\n", "1 stray byte"},
      {"more tracks announced than present", Header(1, 5, 96) + note, "announces 5 track(s), the file holds 1"},
      {"missing end-of-track", Header(0, 1, 96) + Chunk("MTrk", Track().On(0, 0, 60).Off(96, 0, 60).Body()),
       "no end-of-track"},
      {"padded delta times",
       Header(0, 1, 96) + Chunk("MTrk", Vlq(0, 4) + Raw({0x90, 60, 100}) + Vlq(96, 4) + Raw({0x80, 60, 0}) + Vlq(0, 4) +
                                            Raw({0xFF, 0x2F, 0})),
       nullptr},
      {"format 0 with two tracks", Header(0, 2, 96) + note + note, "format 0 file with 2 tracks"},
      {"bytes after the end-of-track", Header(0, 1, 96) + Chunk("MTrk", music.Body() + Raw({0x00, 0x90, 0x3c})),
       "track 1: 3 byte(s) after the end-of-track event ignored"},
      {"a note never released", Header(0, 1, 96) + Track().On(0, 0, 62).On(0, 0, 60).Off(96, 0, 60).End().Chunk(),
       "track 1: 1 note(s) without a note-off held to the end of the track"},
  };
  for (const Case& c : cases) {
    Read r = ReadBytes(c.file);
    ASSERT_EQ(r.hr, S_OK) << c.name << ": " << r.message;
    EXPECT_EQ(r.seq.length, 768) << c.name;
    EXPECT_FALSE(r.seq.truncated) << c.name;
    EXPECT_FALSE(Of(r.seq, EventKind::Note).empty()) << c.name;
    if (c.warning != nullptr) {
      EXPECT_TRUE(HasWarning(r.seq, c.warning)) << c.name;
    }
  }
}

TEST(SmfForgiven, FileCutShortKeepsWhatWasRead) {
  Track first;
  first.On(0, 0, 60).Off(96, 0, 60).End();
  Track second;
  second.On(0, 1, 62).Off(96, 1, 62).On(0, 1, 64).Off(96, 1, 64).End();
  std::string whole = File(1, 96, {first, second});
  // Cut inside the second note of the last track: that note is held to where
  // the bytes end.
  std::string cut = whole.substr(0, whole.size() - 6);
  Read r = ReadOk(cut);
  EXPECT_TRUE(r.seq.truncated);
  EXPECT_TRUE(HasWarning(r.seq, "track 2: the file was cut short"));
  std::vector<const Event*> n = Of(r.seq, EventKind::Note);
  ASSERT_EQ(n.size(), 3u);
  EXPECT_EQ(n[2]->data1, 64);
  EXPECT_EQ(r.seq.length, 1536);
}

// ---- Hostile input ----------------------------------------------------------------------

TEST(SmfHostile, MalformedFilesFailCleanly) {
  std::string note = Track().On(0, 0, 60).Off(96, 0, 60).End().Chunk();
  std::string fiveByteVlq =
      Chunk("MTrk", Raw({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 100}) + Raw({0x60, 0x80, 60, 0, 0, 0xFF, 0x2F, 0}));
  std::uint16_t smpteZero = static_cast<std::uint16_t>((0x100 - 25) << 8);
  struct Case {
    const char* name;
    std::string file;
    HRESULT hr;
  };
  const HRESULT notMidi = platform::smf::kResultNotMidiFile;
  const HRESULT invalid = platform::smf::kResultInvalidFile;
  std::vector<Case> cases = {
      {"empty file", "", notMidi},
      {"text", "hello, world\n", notMidi},
      {"three bytes", "MTh", notMidi},
      {"header cut", "MThd" + Be32(6) + Be16(1), invalid},
      {"header too short", Chunk("MThd", Be16(0) + Be16(1)) + note, invalid},
      {"header length past the end", ChunkClaiming("MThd", 0x7FFFFFF0, Be16(0) + Be16(1) + Be16(96)) + note, invalid},
      {"header alone", Header(1, 3, 96), invalid},
      {"division 0", Header(0, 1, 0) + note, invalid},
      {"SMPTE with 0 ticks a frame", Header(0, 1, smpteZero) + note, invalid},
      {"only unknown chunks", Header(0, 1, 96) + Chunk("Junk", "abcd"), invalid},
      {"track length past the end, nothing playable",
       Header(0, 1, 96) + ChunkClaiming("MTrk", 1000000, Raw({0x00, 0xFF, 0x01, 0x02, 'h', 'i'})), invalid},
      {"VLQ over 4 bytes", Header(0, 1, 96) + fiveByteVlq, invalid},
      {"meta length over 4 bytes",
       Header(0, 1, 96) + Chunk("MTrk", Raw({0x00, 0xFF, 0x01, 0x81, 0x81, 0x81, 0x81, 0x01})), invalid},
      {"delta past 4 hours", File(0, 1, {Track().On(0, 0, 60).Off(30000, 0, 60).End()}), invalid},
      {"slowest tempo past 4 hours", File(0, 96, {Track().Tempo(0, 0xFFFFFF).On(0, 0, 60).Off(96 * 900, 0, 60).End()}),
       invalid},
      {"music time past 32 bits", File(0, 1, {Track().Tempo(0, 1).On(0, 0, 60).Off(0x0FFFFFFF, 0, 60).End()}), invalid},
      {"held note to a far end", File(0, 1, {Track().On(0, 0, 60).End(0x0FFFFFFF)}), invalid},
      {"RIFF that is no RMID", Chunk("RIFF", "WAVE" + Chunk("data", "xx")), notMidi},
      {"RMID without data chunk", Chunk("RIFF", "RMID" + Chunk("DISP", "ab")), notMidi},
      {"RMID with an empty data chunk", Rmid(""), notMidi},
  };
  for (const Case& c : cases) {
    Read r = ReadBytes(c.file);
    EXPECT_EQ(r.hr, c.hr) << c.name << ": " << r.message;
    EXPECT_FALSE(r.message.empty()) << c.name;
    EXPECT_TRUE(r.seq.events.empty()) << c.name;
    EXPECT_EQ(r.seq.length, 0) << c.name;
  }
}

TEST(SmfHostile, LimitIsTheCallersPlayingTime) {
  std::string file = File(0, 96, {Track().On(0, 0, 60).Off(96 * 20, 0, 60).End()});  // 10 s
  EXPECT_EQ(ReadBytes(file, 10.0).hr, S_OK);
  Read r = ReadBytes(file, 9.0);
  EXPECT_EQ(r.hr, platform::smf::kResultInvalidFile);
  EXPECT_NE(r.message.find("10 s"), std::string::npos) << r.message;
}

TEST(SmfHostile, EveryPrefixOfAFileIsReadSafely) {
  // Cutting a file anywhere must give either a failure with a message or what
  // was there, never a read past the bytes (checked by the sanitizer builds).
  Track t;
  t.Tempo(0, 400000).SysEx(0, 0xF0, Raw({0x7E, 0x7F, 0x09, 0x01, 0xF7})).Event(0, {0xC0, 5});
  t.On(0, 0, 60).Event(48, {62, 90}).Text(0, "la").Event(48, {60, 0}).Off(48, 0, 62).End();
  std::string whole = Rmid(File(1, 96, {Track().Tempo(0, 500000).End(), t}));
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    std::vector<std::uint8_t> bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    Sequence seq;
    std::string message;
    HRESULT hr = ReadStandardMidiFile(bytes, seq, message);
    if (FAILED(hr)) {
      EXPECT_FALSE(message.empty()) << n;
    } else {
      EXPECT_GT(seq.length, 0) << n;
    }
  }
}

}  // namespace
