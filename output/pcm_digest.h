// A fast 64-bit digest of a byte stream, the same however the stream is cut into
// pieces: to tell whether two copies of a recording hold the same sound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class PcmDigest {
 public:
  void Add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_ += size;
    while (size > 0 && held_ > 0) {  // complete the word a piece before began
      carry_[held_++] = *bytes++;
      --size;
      if (held_ == 8) {
        Mix(Load(carry_));
        held_ = 0;
      }
    }
    for (; size >= 8; bytes += 8, size -= 8) Mix(Load(bytes));
    for (; size > 0; --size) carry_[held_++] = *bytes++;
  }

  std::uint64_t Value() const {
    std::uint64_t h = state_;
    if (held_ > 0) {
      unsigned char last[8] = {};
      std::memcpy(last, carry_, held_);
      h = Step(h, Load(last));
    }
    return Step(h, size_);
  }

 private:
  static std::uint64_t Load(const unsigned char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
  }
  static std::uint64_t Step(std::uint64_t h, std::uint64_t word) {
    h ^= word * 0x9E3779B97F4A7C15ull;
    h = (h << 29) | (h >> 35);
    return h * 0xBF58476D1CE4E5B9ull + 0x94D049BB133111EBull;
  }
  void Mix(std::uint64_t word) { state_ = Step(state_, word); }

  std::uint64_t state_ = 0x243F6A8885A308D3ull;
  std::uint64_t size_ = 0;
  unsigned char carry_[8] = {};
  std::size_t held_ = 0;
};
