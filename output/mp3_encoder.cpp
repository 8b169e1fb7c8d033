#include "output/mp3_encoder.h"

#include <lame/lame.h>

#include <algorithm>

#include "output/mp3_transcoder.h"
#include "platform/core/format.h"

namespace {

constexpr int kMp3BufferSize = 10000;

}  // namespace

std::unique_ptr<Mp3Encoder> Mp3Encoder::Create(int inRate, int outRate, HRESULT& hr, std::string& failure) {
  std::unique_ptr<Mp3Encoder> encoder(new Mp3Encoder);
  encoder->lame_ = lame_init();
  if (encoder->lame_ == nullptr) {
    hr = E_OUTOFMEMORY;
    failure = "lame_init - FAILED";
    return nullptr;
  }
  lame_global_flags* lame = encoder->lame_;
  lame_set_in_samplerate(lame, inRate);
  lame_set_out_samplerate(lame, outRate);
  lame_set_num_channels(lame, 1);
  // No Xing/Info frame: it would stand first in the stream with counts that are
  // only known at the end, and the stream goes out as it is produced.
  lame_set_bWriteVbrTag(lame, 0);
  lame_set_num_channels(lame, 2);
  // No ID3v2 tag in front of the stream: the file holds the MPEG frames only.
  lame_set_write_id3tag_automatic(lame, 0);
  // Bit rate, mode and quality keep the library's defaults.
  // The library replaces a rate it does not support with one of its own choice;
  // an MP3 at another rate than the one chosen is a failure too.
  const int result = lame_init_params(lame);
  if (result < 0 || lame_get_out_samplerate(lame) != outRate) {
    hr = E_INVALIDARG;
    failure = platform::FormatText("lame_init_params (%d Hz to %d Hz) - FAILED (%d)", inRate, outRate, result);
    return nullptr;
  }
  // 10,000 bytes hold any encoder call's output at these settings unless the
  // output rate is much higher than the input's; then the buffer takes LAME's
  // documented worst case, 1.25 bytes per (resampled) sample plus 7200.
  const long long frames = kSamplesPerCall / 2;
  const long long resampled = (frames * outRate + inRate - 1) / inRate;
  const long long worstCase = std::max(frames, resampled) * 5 / 4 + 7200;
  encoder->buffer_.resize(static_cast<std::size_t>(std::max<long long>(kMp3BufferSize, worstCase)));
  hr = S_OK;
  return encoder;
}

Mp3Encoder::~Mp3Encoder() {
  if (lame_ != nullptr) lame_close(lame_);
}

int Mp3Encoder::Encode(const short* pcm, std::size_t count) {
  count = std::min(count, kSamplesPerCall);
  // Interleaved left, right; an odd last sample is dropped.
  return lame_encode_buffer_interleaved(lame_, const_cast<short*>(pcm), static_cast<int>(count / 2), buffer_.data(),
                                        static_cast<int>(buffer_.size()));
}

int Mp3Encoder::Flush() { return lame_encode_flush(lame_, buffer_.data(), static_cast<int>(buffer_.size())); }

const char* Mp3EncoderVersion() { return get_lame_version(); }
