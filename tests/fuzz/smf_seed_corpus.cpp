// Writes seed files for the MIDI reader's fuzz target into the folder given:
// one of each form the reader knows, built the way the tests build them.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/platform/midi_file/midi_builder.h"

using namespace smf_test;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  Track notes;
  notes.Tempo(0, 400000).Event(0, {0xC0, 5}).On(0, 0, 60).Event(48, {62, 90}).Event(48, {60, 0}).Off(48, 0, 62).End();
  Track running;
  running.Event(0, {0x90, 60, 100}).Text(0, "x").Event(96, {60, 0}).SysEx(0, 0xF0, Raw({0x7E, 0x7F, 0x09, 0x01, 0xF7}));
  running.Event(0, {62, 100}).Event(0, {0xF1, 1, 0xF2, 1, 2, 0xF8, 0xF4}).Event(96, {62, 0}).End();
  Track packets;
  packets.SysEx(0, 0xF0, Raw({0x43, 0x12}))
      .SysEx(10, 0xF7, Raw({0x00, 0xF7}))
      .SysEx(0, 0xF7, Raw({0xF8}))
      .On(0, 1, 40)
      .End(96);
  Track padded;
  padded.Bytes(Vlq(0, 4) + Raw({0x90, 60, 100}) + Vlq(96, 4) + Raw({0x80, 60, 0}) + Vlq(0, 4) + Raw({0xFF, 0x2F, 0}));
  std::uint16_t smpte = static_cast<std::uint16_t>((0x100 - 25) << 8 | 40);
  std::string format1 = File(1, 96, {Track().Tempo(0, 500000).End(), notes, running});

  std::vector<std::pair<std::string, std::string>> seeds = {
      {"format0.mid", File(0, 96, {notes})},
      {"format1.mid", format1},
      {"format2.mid", File(2, 480, {notes, packets, padded})},
      {"smpte.mid", File(0, smpte, {notes})},
      {"rmid.rmi", Rmid(format1)},
      {"junk.mid", Header(1, 4, 96, 2) + Chunk("Junk", "abc") + notes.Chunk() + "\n"},
      {"cut.mid", format1.substr(0, format1.size() - 9)},
      {"silence.mid", File(1, 96, {Track().Text(0, "silence").End(960)})},
  };
  for (const auto& [name, bytes] : seeds) {
    std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", name.c_str());
      return 1;
    }
  }
  return 0;
}
