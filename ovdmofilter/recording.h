// The one recording of the process, shared by every instance of the capture
// effect: the instance inside a sound buffer appends what passes through it, and
// any instance reads it back.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/core/waveformat.h"
#include "platform/core/wintypes.h"

namespace ovdmofilter {

class Recording {
 public:
  // The recording of this process.
  static Recording& Instance();

  // Starts a new, empty recording of the given format.
  void Begin(const WAVEFORMATEX& format);
  // Keeps the format of what is recorded from now on.
  void SetFormat(const WAVEFORMATEX& format);
  void Append(const BYTE* data, std::size_t size);

  WAVEFORMATEX Format() const;
  // The recorded size, capped at the largest whole number of frames a 32-bit count holds.
  DWORD Size() const;
  // Copies the first size bytes to dest; past the end of the recording dest is zero
  // filled. Returns the number of recorded bytes copied.
  std::size_t CopyTo(BYTE* dest, std::size_t size) const;

  // 16-bit stereo PCM at 44100 Hz, until a buffer gives its own.
  static WAVEFORMATEX DefaultFormat();

 private:
  Recording();

  // The recorded bytes in pieces of kPieceBytes, the last one filled to size_:
  // a long recording grows without moving what it holds.
  static constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

  mutable std::mutex mutex_;
  WAVEFORMATEX format_;
  std::vector<std::unique_ptr<BYTE[]>> pieces_;
  std::size_t size_ = 0;
};

}  // namespace ovdmofilter
