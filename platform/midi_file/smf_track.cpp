// Reads one track chunk: delta times, channel messages with running status,
// SysEx and escape packets, meta events, and the illegal bytes that real files
// hold. Notes are paired here, per channel and key, into events with an end.
#include "platform/midi_file/smf_track.h"

#include <algorithm>
#include <array>

#include "platform/midi_file/smf_cursor.h"

namespace platform::smf {
namespace {

// What a track may hold that a strict reader would refuse; each is counted and
// reported once per track.
enum class Forgiven : unsigned {
  RunningAfterMeta,
  RunningAfterSysEx,
  DataWithoutStatus,
  SystemMessage,
  DataOutOfRange,
  UnterminatedSysEx,
  IgnoredEscape,
  ZeroTempo,
  ShortTempo,
  Count,
};

constexpr std::array<const char*, static_cast<unsigned>(Forgiven::Count)> kForgivenText = {
    "running status resumed after a meta event",
    "running status resumed after a SysEx",
    "data bytes without a status byte skipped",
    "system message inside the track skipped",
    "data bytes above 127 in channel messages read as 127",
    "SysEx without its closing F7 completed",
    "escape packet (F7) that is no SysEx ignored",
    "tempo of 0 ignored",
    "tempo event shorter than 3 bytes ignored",
};

// Data bytes that follow a system common or real-time status byte (F1-FE,
// without F0, F7 and FF, which the file format gives their own meaning).
int SystemDataBytes(std::uint8_t status) {
  switch (status) {
    case 0xF1:
      return 1;  // time code quarter frame
    case 0xF2:
      return 2;  // song position
    case 0xF3:
      return 1;  // song select
    default:
      return 0;  // F4, F5 undefined; F6 tune request; F8-FE real time
  }
}

// Bytes of data after a channel status byte.
int ChannelDataBytes(std::uint8_t status) {
  std::uint8_t type = status & 0xF0;
  return (type == 0xC0 || type == 0xD0) ? 1 : 2;
}

class TrackReader {
 public:
  TrackReader(std::span<const std::uint8_t> data, unsigned number) : in_(data), number_(number) {
    openNote_.fill(-1);
    // Every event takes at least two bytes; the guess only saves regrowth.
    out_.events.reserve(data.size() / 4);
  }

  TrackRead Read(bool cutShort) {
    bool ended = ReadEvents();
    if (out_.vlqTooLong) return std::move(out_);
    out_.endTick = tick_;
    if (openSysEx_ >= 0) CloseSysEx();
    for (unsigned i = 0; i < static_cast<unsigned>(Forgiven::Count); ++i) {
      if (counts_[i] == 0) continue;
      std::string line = Prefix() + kForgivenText[i];
      if (counts_[i] > 1) line += " (" + std::to_string(counts_[i]) + " times)";
      out_.warnings.push_back(std::move(line));
    }
    out_.dataOutOfRange = counts_[static_cast<unsigned>(Forgiven::DataOutOfRange)] > 0;
    if (!ended && !cutShort) out_.warnings.push_back(Prefix() + "no end-of-track event; the track ends with its chunk");
    if (ended && !in_.AtEnd())
      out_.warnings.push_back(Prefix() + std::to_string(in_.Remaining()) +
                              " byte(s) after the end-of-track event ignored");
    const auto held = std::count_if(openNote_.begin(), openNote_.end(), [](std::int64_t note) { return note >= 0; });
    if (held > 0)
      out_.warnings.push_back(Prefix() + std::to_string(held) +
                              " note(s) without a note-off held to the end of the track");
    return std::move(out_);
  }

 private:
  std::string Prefix() const { return "track " + std::to_string(number_) + ": "; }
  void Forgive(Forgiven what) { ++counts_[static_cast<unsigned>(what)]; }

  // Reads events until the end-of-track event (true) or the end of the bytes.
  bool ReadEvents() {
    bool haveTime = false;  // the next byte is read at the current time, without a delta
    while (!in_.AtEnd()) {
      if (!haveTime) {
        std::uint32_t delta = 0;
        VlqResult r = in_.ReadVlq(delta);
        if (r == VlqResult::TooLong) {
          out_.vlqTooLong = true;
          return false;
        }
        if (r == VlqResult::End) return false;
        tick_ = tick_ + delta < kTickCeiling ? tick_ + delta : kTickCeiling;
        if (in_.AtEnd()) return false;
      }
      haveTime = false;

      std::uint8_t status = in_.Peek();
      if (status < 0x80) {
        if (running_ == 0) {
          // Out of step: skip to the next status byte and read it at this time.
          Forgive(Forgiven::DataWithoutStatus);
          while (!in_.AtEnd() && in_.Peek() < 0x80) in_.Take(1);
          haveTime = true;
          continue;
        }
        if (interrupted_ != 0) {
          Forgive(interrupted_ == 0xFF ? Forgiven::RunningAfterMeta : Forgiven::RunningAfterSysEx);
          interrupted_ = 0;
        }
        ReadChannelMessage(running_);
        continue;
      }
      in_.Take(1);
      if (status < 0xF0) {
        running_ = status;
        interrupted_ = 0;
        ReadChannelMessage(status);
      } else if (status == 0xFF) {
        if (running_ != 0) interrupted_ = 0xFF;
        if (ReadMeta()) return true;
        if (out_.vlqTooLong) return false;
      } else if (status == 0xF0 || status == 0xF7) {
        if (running_ != 0) interrupted_ = 0xF0;
        ReadSysEx(status);
        if (out_.vlqTooLong) return false;
      } else {
        Forgive(Forgiven::SystemMessage);
        for (int i = SystemDataBytes(status); i > 0 && !in_.AtEnd() && in_.Peek() < 0x80; --i) in_.Take(1);
      }
    }
    return false;
  }

  // Reads the data of a channel message whose status is known. Every byte in a
  // data position belongs to the message, as players read it, even one above
  // 127 (which a strict reader would take for the next status byte and lose the
  // rest of the track to); its value is clamped to 127.
  void ReadChannelMessage(std::uint8_t status) {
    std::uint8_t data[2] = {0, 0};
    int count = ChannelDataBytes(status);
    for (int i = 0; i < count; ++i) {
      if (!in_.ReadByte(data[i])) return;  // the track ends inside the message
      if (data[i] > 0x7F) {
        Forgive(Forgiven::DataOutOfRange);
        data[i] = 0x7F;
      }
    }
    AddChannelMessage(status, data[0], data[1]);
  }

  void AddChannelMessage(std::uint8_t status, std::uint8_t key, std::uint8_t value) {
    std::uint8_t type = status & 0xF0;
    std::size_t slot = (status & 0x0Fu) * 128u + key;
    if (type == 0x90 && value > 0) {
      // A key struck again while it sounds ends the earlier note here, so no two
      // notes of one channel and key ever overlap.
      if (openNote_[slot] >= 0) out_.events[static_cast<std::size_t>(openNote_[slot])].endTick = tick_;
      openNote_[slot] = static_cast<std::int64_t>(out_.events.size());
      TrackEvent& e = Push();
      e.event.kind = EventKind::Note;
      e.event.status = status;
      e.event.data1 = key;
      e.event.data2 = value;
      return;
    }
    if (type == 0x80 || type == 0x90) {
      // A note-off ends the sounding note of its channel and key; one without a
      // note-on is dropped.
      if (openNote_[slot] >= 0) {
        out_.events[static_cast<std::size_t>(openNote_[slot])].endTick = tick_;
        openNote_[slot] = -1;
      }
      return;
    }
    TrackEvent& e = Push();
    e.event.kind = EventKind::Channel;
    e.event.status = status;
    e.event.data1 = key;
    e.event.data2 = value;
  }

  // Reads a meta event; true at the end-of-track event.
  bool ReadMeta() {
    std::uint8_t type = 0;
    if (!in_.ReadByte(type)) return false;
    std::uint32_t length = 0;
    VlqResult r = in_.ReadVlq(length);
    if (r == VlqResult::TooLong) out_.vlqTooLong = true;
    if (r != VlqResult::Ok) return false;
    std::span<const std::uint8_t> data = in_.Take(length);
    if (type == 0x2F) return true;
    if (type != 0x51) return false;
    if (data.size() < 3) {
      Forgive(Forgiven::ShortTempo);
      return false;
    }
    std::uint32_t tempo = (std::uint32_t{data[0]} << 16) | (std::uint32_t{data[1]} << 8) | data[2];
    if (tempo == 0) {
      Forgive(Forgiven::ZeroTempo);
      return false;
    }
    TrackEvent& e = Push();
    e.event.kind = EventKind::Tempo;
    e.event.tempo = tempo;
    return false;
  }

  // F0 starts a SysEx (kept whole, with its F0); F7 either continues a SysEx
  // sent in packets or escapes bytes to send as they are, which counts only
  // when they form a SysEx.
  void ReadSysEx(std::uint8_t status) {
    std::uint32_t length = 0;
    VlqResult r = in_.ReadVlq(length);
    if (r == VlqResult::TooLong) out_.vlqTooLong = true;
    if (r != VlqResult::Ok) return;
    std::span<const std::uint8_t> data = in_.Take(length);
    if (status == 0xF7 && openSysEx_ >= 0) {
      std::vector<std::uint8_t>& sysex = out_.events[static_cast<std::size_t>(openSysEx_)].event.sysex;
      sysex.insert(sysex.end(), data.begin(), data.end());
      if (!data.empty() && data.back() == 0xF7) openSysEx_ = -1;
      return;
    }
    if (openSysEx_ >= 0) CloseSysEx();
    if (status == 0xF7 && (data.empty() || data.front() != 0xF0)) {
      Forgive(Forgiven::IgnoredEscape);
      return;
    }
    TrackEvent& e = Push();
    e.event.kind = EventKind::SysEx;
    if (status == 0xF0) e.event.sysex.push_back(0xF0);
    e.event.sysex.insert(e.event.sysex.end(), data.begin(), data.end());
    if (e.event.sysex.back() != 0xF7) openSysEx_ = static_cast<std::int64_t>(out_.events.size() - 1);
  }

  // A SysEx that never got its F7: the synthesiser gets it completed.
  void CloseSysEx() {
    out_.events[static_cast<std::size_t>(openSysEx_)].event.sysex.push_back(0xF7);
    openSysEx_ = -1;
    Forgive(Forgiven::UnterminatedSysEx);
  }

  TrackEvent& Push() {
    TrackEvent& e = out_.events.emplace_back();
    e.tick = tick_;
    e.event.track = number_ - 1;
    return e;
  }

  ByteCursor in_;
  unsigned number_;
  TrackRead out_;
  std::int64_t tick_ = 0;
  std::uint8_t running_ = 0;                       // the last channel status, 0 before any
  std::uint8_t interrupted_ = 0;                   // 0xFF after a meta event, 0xF0 after a SysEx, else 0
  std::int64_t openSysEx_ = -1;                    // index of a SysEx still waiting for F7 packets
  std::array<std::int64_t, 16 * 128> openNote_{};  // index of the sounding note per channel and key
  std::array<unsigned, static_cast<unsigned>(Forgiven::Count)> counts_{};
};

}  // namespace

TrackRead ReadTrack(std::span<const std::uint8_t> data, bool cutShort, unsigned number) {
  return TrackReader(data, number).Read(cutShort);
}

}  // namespace platform::smf
