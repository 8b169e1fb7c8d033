#include "ovdmofilter/recording.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace ovdmofilter {

Recording& Recording::Instance() {
  static Recording recording;
  return recording;
}

Recording::Recording() : format_(DefaultFormat()) {}

WAVEFORMATEX Recording::DefaultFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = 44100;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 4;
  format.nAvgBytesPerSec = 44100 * 4;
  format.cbSize = 0;
  return format;
}

void Recording::Begin(const WAVEFORMATEX& format) {
  std::lock_guard lock(mutex_);
  format_ = format;
  pieces_.clear();  // a long recording before must not hold its memory on
  pieces_.shrink_to_fit();
  size_ = 0;
  ++take_;
  ended_ = false;
  wakeAt_ = std::numeric_limits<std::size_t>::max();
  grown_.notify_all();  // readers of the recording before give up
}

void Recording::SetFormat(const WAVEFORMATEX& format) {
  std::lock_guard lock(mutex_);
  format_ = format;
}

void Recording::Append(const BYTE* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
  std::lock_guard lock(mutex_);
  while (size > 0) {
    const std::size_t used = size_ % kPieceBytes;
    if (used == 0 && size_ / kPieceBytes == pieces_.size())
      pieces_.push_back(std::make_unique_for_overwrite<BYTE[]>(kPieceBytes));
    const std::size_t n = std::min(size, kPieceBytes - used);
    std::memcpy(pieces_[size_ / kPieceBytes].get() + used, data, n);
    data += n;
    size -= n;
    size_ += n;
  }
  if (size_ >= wakeAt_) {
    wakeAt_ = std::numeric_limits<std::size_t>::max();
    grown_.notify_all();
  }
}

WAVEFORMATEX Recording::Format() const {
  std::lock_guard lock(mutex_);
  return format_;
}

DWORD Recording::Size() const {
  std::lock_guard lock(mutex_);
  const std::size_t block = std::max<std::size_t>(format_.nBlockAlign, 1);
  const std::size_t limit = std::numeric_limits<DWORD>::max() / block * block;
  return static_cast<DWORD>(std::min(size_, limit));
}

std::size_t Recording::CopyTo(BYTE* dest, std::size_t size) const {
  if (dest == nullptr || size == 0) return 0;
  std::lock_guard lock(mutex_);
  const std::size_t copied = std::min(size, size_);
  CopyRange(0, dest, copied);
  if (copied < size) std::memset(dest + copied, 0, size - copied);
  return copied;
}

void Recording::CopyRange(std::size_t offset, BYTE* dest, std::size_t size) const {
  while (size > 0) {
    const std::size_t within = offset % kPieceBytes;
    const std::size_t n = std::min(size, kPieceBytes - within);
    std::memcpy(dest, pieces_[offset / kPieceBytes].get() + within, n);
    dest += n;
    offset += n;
    size -= n;
  }
}

std::uint64_t Recording::Take() const {
  std::lock_guard lock(mutex_);
  return take_;
}

HRESULT Recording::WaitAndCopy(std::uint64_t take, std::uint64_t offset, BYTE* dest, std::size_t size,
                               std::size_t* copied) {
  if (copied == nullptr || (dest == nullptr && size > 0)) return E_POINTER;
  *copied = 0;
  std::unique_lock lock(mutex_);
  const std::size_t want = offset + size;
  while (take_ == take && !ended_ && size_ < want) {
    wakeAt_ = std::min(wakeAt_, want);
    grown_.wait(lock);
  }
  if (take_ != take) return E_ABORT;
  if (offset >= size_) return size == 0 ? S_OK : S_FALSE;
  const std::size_t n = std::min<std::size_t>(size, size_ - offset);
  CopyRange(static_cast<std::size_t>(offset), dest, n);
  *copied = n;
  return n == size ? S_OK : S_FALSE;
}

void Recording::End(std::uint64_t take) {
  std::lock_guard lock(mutex_);
  if (take != take_) return;
  ended_ = true;
  grown_.notify_all();
}

}  // namespace ovdmofilter
