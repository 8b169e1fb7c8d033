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
  for (std::size_t at = 0; at < copied; at += kPieceBytes)
    std::memcpy(dest + at, pieces_[at / kPieceBytes].get(), std::min(kPieceBytes, copied - at));
  if (copied < size) std::memset(dest + copied, 0, size - copied);
  return copied;
}

}  // namespace ovdmofilter
