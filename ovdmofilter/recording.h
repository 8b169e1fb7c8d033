// The one recording of the process, shared by every instance of the capture
// effect: the instance inside a sound buffer appends what passes through it, and
// any instance reads it back.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
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

  // Which recording is being made: each Begin starts a new one.
  std::uint64_t Take() const;
  // Waits until recording take holds size bytes from offset, or is ended, or has been
  // replaced by a new one; then copies what it holds there (at most size bytes) to
  // dest and stores the count in copied. S_OK when size bytes were copied, S_FALSE
  // when the recording ended with fewer, E_ABORT (nothing copied) when it was replaced.
  HRESULT WaitAndCopy(std::uint64_t take, std::uint64_t offset, BYTE* dest, std::size_t size, std::size_t* copied);
  // Nothing more will be appended to recording take that readers should wait for:
  // they get what it holds. A later Append is still kept.
  void End(std::uint64_t take);

  // 16-bit stereo PCM at 44100 Hz, until a buffer gives its own.
  static WAVEFORMATEX DefaultFormat();

 private:
  Recording();
  // Copies size recorded bytes from offset; the caller holds the lock.
  void CopyRange(std::size_t offset, BYTE* dest, std::size_t size) const;

  // The recorded bytes in pieces of kPieceBytes, the last one filled to size_:
  // a long recording grows without moving what it holds.
  static constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

  mutable std::mutex mutex_;
  WAVEFORMATEX format_;
  std::vector<std::unique_ptr<BYTE[]>> pieces_;
  std::size_t size_ = 0;

  // Readers waiting for more: woken when the size reaches wakeAt_, or at End or Begin.
  std::condition_variable grown_;
  std::size_t wakeAt_ = std::numeric_limits<std::size_t>::max();
  std::uint64_t take_ = 0;
  bool ended_ = false;
};

}  // namespace ovdmofilter
