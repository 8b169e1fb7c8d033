// LAME with the settings every MP3 of the program is made with, fed in pieces of
// 1152 stereo frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/wintypes.h"

struct lame_global_struct;

class Mp3Encoder {
 public:
  // 1152 stereo frames (2304 16-bit samples): the most each encoder call takes.
  static constexpr std::size_t kSamplesPerCall = 2304;

  // An encoder from inRate to outRate (Hz). Null when the library refuses them;
  // hr and failure (the failed step, as the log shows it) then say why.
  static std::unique_ptr<Mp3Encoder> Create(int inRate, int outRate, HRESULT& hr, std::string& failure);
  ~Mp3Encoder();
  Mp3Encoder(const Mp3Encoder&) = delete;
  Mp3Encoder& operator=(const Mp3Encoder&) = delete;

  // Encodes count interleaved left/right samples (at most kSamplesPerCall; an odd
  // last one is dropped). Returns the number of MP3 bytes produced, which Bytes()
  // holds until the next call; negative on an encoder error.
  int Encode(const short* pcm, std::size_t count);
  // Ends the stream: the last bytes, as Encode gives them.
  int Flush();
  const unsigned char* Bytes() const { return buffer_.data(); }

 private:
  Mp3Encoder() = default;

  lame_global_struct* lame_ = nullptr;
  std::vector<unsigned char> buffer_;
};

// An MP3 encoded from a recording while it was captured: its bytes, and what they
// were encoded from, so that they stand for an encoding of a WAV file only when
// its rates, sound bytes and their digest agree.
struct EncodedMp3 {
  bool complete = false;  // the encoder took the whole recording and flushed
  int inRate = 0;
  int outRate = 0;
  std::uint64_t soundBytes = 0;  // the recorded bytes taken
  std::uint64_t digest = 0;      // PcmDigest of those bytes
  std::vector<unsigned char> mp3;
};
