#include "output/flac_file.h"

#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Frames handed to the encoder at once: its input is 32-bit, so the recording is
// widened a block at a time rather than whole.
constexpr std::size_t kBlockFrames = 16384;
// libFLAC's default level: a good size at a fraction of a second per song.
constexpr unsigned kCompressionLevel = 5;

struct EncoderDeleter {
  void operator()(FLAC__StreamEncoder* encoder) const { FLAC__stream_encoder_delete(encoder); }
};

// The system's reason when there is one, else the encoder's state.
std::string EncoderFailure(const FLAC__StreamEncoder* encoder, int error) {
  if (error != 0) return std::strerror(error);
  return std::string("the FLAC encoder failed (") +
         FLAC__StreamEncoderStateString[FLAC__stream_encoder_get_state(encoder)] + ")";
}

}  // namespace

std::string SaveRecordingFlac(const std::string& path, const PcmRecording& recording) {
  if (recording.channels <= 0 || recording.channels > 8 || recording.rate <= 0)
    return "the recording's format cannot be stored as FLAC";
  std::unique_ptr<FLAC__StreamEncoder, EncoderDeleter> encoder(FLAC__stream_encoder_new());
  if (!encoder) return std::strerror(ENOMEM);
  const std::size_t frames = recording.Frames();
  FLAC__StreamEncoder* e = encoder.get();
  if (!FLAC__stream_encoder_set_channels(e, static_cast<unsigned>(recording.channels)) ||
      !FLAC__stream_encoder_set_bits_per_sample(e, 16) ||
      !FLAC__stream_encoder_set_sample_rate(e, static_cast<unsigned>(recording.rate)) ||
      !FLAC__stream_encoder_set_compression_level(e, kCompressionLevel) ||
      !FLAC__stream_encoder_set_total_samples_estimate(e, frames))
    return EncoderFailure(e, 0);
  errno = 0;
  if (FLAC__stream_encoder_init_file(e, path.c_str(), nullptr, nullptr) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    return errno != 0 ? std::strerror(errno) : "the FLAC encoder cannot start";

  std::vector<FLAC__int32> block(std::min(frames, kBlockFrames) * static_cast<std::size_t>(recording.channels));
  const std::int16_t* in = recording.samples.data();
  for (std::size_t done = 0; done < frames;) {
    const std::size_t count = std::min(frames - done, kBlockFrames);
    const std::size_t values = count * static_cast<std::size_t>(recording.channels);
    std::copy(in, in + values, block.begin());
    in += values;
    errno = 0;
    if (!FLAC__stream_encoder_process_interleaved(e, block.data(), static_cast<unsigned>(count))) {
      const int error = errno;
      FLAC__stream_encoder_finish(e);
      return EncoderFailure(e, error);
    }
    done += count;
  }
  // The last frames and the stream's header (its length and checksum) are written here.
  errno = 0;
  if (!FLAC__stream_encoder_finish(e)) return EncoderFailure(e, errno);
  return {};
}
