#include "tests/platform/dmusic/test_media.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace dmusic_test {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(v & 0xFF);
  out.push_back((v >> 8) & 0xFF);
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void PutName(std::vector<std::uint8_t>& out, const char* name, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out.push_back(i < std::strlen(name) ? name[i] : 0);
}
std::vector<std::uint8_t> Chunk(const char* id, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> out(id, id + 4);
  Put32(out, static_cast<std::uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) out.push_back(0);
  return out;
}
std::vector<std::uint8_t> List(const char* type, const std::vector<std::vector<std::uint8_t>>& chunks) {
  std::vector<std::uint8_t> body(type, type + 4);
  for (const auto& chunk : chunks) body.insert(body.end(), chunk.begin(), chunk.end());
  return Chunk("LIST", body);
}
void Gen(std::vector<std::uint8_t>& out, int oper, int amount) {
  Put16(out, static_cast<std::uint32_t>(oper));
  Put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(amount)));
}
void PutVarLen(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t bytes[5];
  int n = 0;
  bytes[n++] = v & 0x7F;
  while ((v >>= 7) != 0) bytes[n++] = 0x80 | (v & 0x7F);
  while (n > 0) out.push_back(bytes[--n]);
}

}  // namespace

void WriteTestSoundFont(const std::string& path, double releaseSeconds) {
  // Five cycles of a 100 Hz sine: 2205 samples, looped whole.
  constexpr std::uint32_t kLength = 2205;
  std::vector<std::uint8_t> smpl;
  for (std::uint32_t i = 0; i < kLength; ++i) {
    const double v = std::sin(2.0 * M_PI * 100.0 * i / 44100.0) * 20000.0;
    Put16(smpl, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lrint(v))));
  }
  for (int i = 0; i < 46; ++i) Put16(smpl, 0);

  std::vector<std::uint8_t> ifil, phdr, pbag, pmod(10, 0), pgen, inst, ibag, imod(10, 0), igen, shdr;
  Put16(ifil, 2);
  Put16(ifil, 1);
  PutName(phdr, "Sine", 20);
  Put16(phdr, 0);  // preset
  Put16(phdr, 0);  // bank
  Put16(phdr, 0);  // bag index
  Put32(phdr, 0);
  Put32(phdr, 0);
  Put32(phdr, 0);
  PutName(phdr, "EOP", 20);
  Put16(phdr, 0);
  Put16(phdr, 0);
  Put16(phdr, 1);
  Put32(phdr, 0);
  Put32(phdr, 0);
  Put32(phdr, 0);
  Put16(pbag, 0);
  Put16(pbag, 0);
  Put16(pbag, 1);
  Put16(pbag, 0);
  Gen(pgen, 41, 0);  // instrument 0
  Gen(pgen, 0, 0);
  PutName(inst, "Sine", 20);
  Put16(inst, 0);
  PutName(inst, "EOI", 20);
  Put16(inst, 1);
  Put16(ibag, 0);
  Put16(ibag, 0);
  Put16(ibag, 3);
  Put16(ibag, 0);
  Gen(igen, 54, 1);                                                                 // loop continuously
  Gen(igen, 38, static_cast<int>(std::lrint(1200.0 * std::log2(releaseSeconds))));  // release
  Gen(igen, 53, 0);                                                                 // sample 0
  Gen(igen, 0, 0);
  PutName(shdr, "Sine", 20);
  Put32(shdr, 0);
  Put32(shdr, kLength);
  Put32(shdr, 0);
  Put32(shdr, kLength);
  Put32(shdr, 44100);
  shdr.push_back(43);  // original pitch (98 Hz)
  shdr.push_back(0);
  Put16(shdr, 0);
  Put16(shdr, 1);  // mono
  PutName(shdr, "EOS", 20);
  for (int i = 0; i < 26; ++i) shdr.push_back(0);

  std::vector<std::uint8_t> body{'s', 'f', 'b', 'k'};
  for (const auto& part : {List("INFO", {Chunk("ifil", ifil), Chunk("isng", {'E', 'M', 'U', '8', '0', '0', '0', 0}),
                                         Chunk("INAM", {'T', 'e', 's', 't', 0, 0})}),
                           List("sdta", {Chunk("smpl", smpl)}),
                           List("pdta", {Chunk("phdr", phdr), Chunk("pbag", pbag), Chunk("pmod", pmod),
                                         Chunk("pgen", pgen), Chunk("inst", inst), Chunk("ibag", ibag),
                                         Chunk("imod", imod), Chunk("igen", igen), Chunk("shdr", shdr)})})
    body.insert(body.end(), part.begin(), part.end());
  const std::vector<std::uint8_t> file = Chunk("RIFF", body);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

MidiFile& MidiFile::Track() {
  tracks_.emplace_back();
  return *this;
}

MidiFile& MidiFile::Event(std::uint32_t delta, std::vector<std::uint8_t> bytes) {
  if (tracks_.empty()) Track();
  PutVarLen(tracks_.back(), delta);
  tracks_.back().insert(tracks_.back().end(), bytes.begin(), bytes.end());
  return *this;
}

MidiFile& MidiFile::Tempo(std::uint32_t delta, std::uint32_t tempo) {
  return Event(delta, {0xFF, 0x51, 0x03, static_cast<std::uint8_t>(tempo >> 16), static_cast<std::uint8_t>(tempo >> 8),
                       static_cast<std::uint8_t>(tempo)});
}

MidiFile& MidiFile::Note(std::uint32_t delta, int channel, int key, int velocity, std::uint32_t length) {
  Event(delta, {static_cast<std::uint8_t>(0x90 | channel), static_cast<std::uint8_t>(key),
                static_cast<std::uint8_t>(velocity)});
  return Event(length, {static_cast<std::uint8_t>(0x80 | channel), static_cast<std::uint8_t>(key), 0});
}

std::vector<std::uint8_t> MidiFile::Bytes() const {
  std::vector<std::uint8_t> out{'M', 'T', 'h', 'd', 0,
                                0,   0,   6,   0,   static_cast<std::uint8_t>(tracks_.size() > 1 ? 1 : 0)};
  out.push_back(static_cast<std::uint8_t>(tracks_.size() >> 8));
  out.push_back(static_cast<std::uint8_t>(tracks_.size()));
  out.push_back(static_cast<std::uint8_t>(division_ >> 8));
  out.push_back(static_cast<std::uint8_t>(division_));
  for (std::vector<std::uint8_t> track : tracks_) {
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(track.size() >> shift));
    out.insert(out.end(), track.begin(), track.end());
  }
  return out;
}

void MidiFile::Write(const std::string& path) const {
  const std::vector<std::uint8_t> bytes = Bytes();
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string WriteQuarterNotes(const std::filesystem::path& path, double seconds) {
  std::filesystem::create_directories(path.parent_path());
  MidiFile midi;
  midi.Tempo(0, 500000);
  for (int i = 0; i < static_cast<int>(seconds * 2); ++i) midi.Note(0, 0, 60 + i % 12, 110, 768);
  midi.Write(path.string());
  return path.string();
}

}  // namespace dmusic_test
