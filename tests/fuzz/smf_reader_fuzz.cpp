// libFuzzer target: any bytes through the MIDI file reader. Besides the
// sanitizers' own checks, a success must hold a sequence the engine can trust.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "platform/midi_file/smf_reader.h"

using platform::smf::Event;
using platform::smf::EventKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::smf::Sequence seq;
  std::string message;
  HRESULT hr = platform::smf::ReadStandardMidiFile(std::span<const std::uint8_t>(data, size), seq, message);
  if (FAILED(hr)) {
    if (message.empty() || !seq.events.empty()) std::abort();
    return 0;
  }
  if (seq.length <= 0 || !(seq.seconds <= 4.0 * 3600.0)) std::abort();
  MUSIC_TIME last = 0;
  for (const Event& e : seq.events) {
    if (e.time < last || e.time > seq.length) std::abort();
    last = e.time;
    if (e.kind == EventKind::Note && (e.duration < 1 || e.time + static_cast<std::int64_t>(e.duration) > seq.length ||
                                      e.data2 == 0 || (e.status & 0xF0) != 0x90 || e.data1 > 127 || e.data2 > 127)) {
      std::abort();
    }
    if (e.kind == EventKind::Channel && (e.status < 0x80 || e.status >= 0xF0 || (e.status & 0xF0) == 0x90 ||
                                         (e.status & 0xF0) == 0x80 || e.data1 > 127 || e.data2 > 127)) {
      std::abort();
    }
    if (e.kind == EventKind::SysEx && (e.sysex.size() < 2 || e.sysex.front() != 0xF0 || e.sysex.back() != 0xF7)) {
      std::abort();
    }
    if (e.kind == EventKind::Tempo && e.tempo == 0) std::abort();
    // Nothing kept may be larger than the input could describe.
    if (e.sysex.size() > size + 2) std::abort();
  }
  if (seq.events.size() > size) std::abort();
  return 0;
}
