// A read position over a span of bytes that never reads past its end: every read
// says whether the bytes were there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace platform::smf {

// How a variable-length quantity (7 bits a byte, high bit = more follow) ended.
enum class VlqResult : std::uint8_t {
  Ok,       // read, at most 4 bytes
  End,      // the bytes ran out inside it
  TooLong,  // a fifth byte would follow: no valid file holds one
};

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return bytes_.size() - pos_; }
  bool AtEnd() const { return pos_ >= bytes_.size(); }

  // The next byte without taking it; only when !AtEnd().
  std::uint8_t Peek() const { return bytes_[pos_]; }

  bool ReadByte(std::uint8_t& value) {
    if (AtEnd()) return false;
    value = bytes_[pos_++];
    return true;
  }

  bool ReadU16(std::uint16_t& value) {
    if (Remaining() < 2) return false;
    value = static_cast<std::uint16_t>((bytes_[pos_] << 8) | bytes_[pos_ + 1]);
    pos_ += 2;
    return true;
  }

  bool ReadU32(std::uint32_t& value) {
    if (Remaining() < 4) return false;
    value = (std::uint32_t{bytes_[pos_]} << 24) | (std::uint32_t{bytes_[pos_ + 1]} << 16) |
            (std::uint32_t{bytes_[pos_ + 2]} << 8) | std::uint32_t{bytes_[pos_ + 3]};
    pos_ += 4;
    return true;
  }

  VlqResult ReadVlq(std::uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
      std::uint8_t b = 0;
      if (!ReadByte(b)) return VlqResult::End;
      value = (value << 7) | (b & 0x7Fu);
      if ((b & 0x80u) == 0) return VlqResult::Ok;
    }
    return VlqResult::TooLong;
  }

  // Takes up to count bytes; returns what was there (shorter at the end).
  std::span<const std::uint8_t> Take(std::size_t count) {
    std::size_t n = count < Remaining() ? count : Remaining();
    std::span<const std::uint8_t> part = bytes_.subspan(pos_, n);
    pos_ += n;
    return part;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace platform::smf
