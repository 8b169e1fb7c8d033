#include "output/recording_mp3_encoder.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <vector>

#include "engine/engine_state.h"
#include "output/pcm_digest.h"

namespace {

// How much sound the encoder waits for at a time: 16 encoder calls, about 0.4 s
// at 44,100 Hz. Whole encoder pieces, so the calls are those a WAV file gets.
constexpr std::size_t kSamplesPerWait = 16 * Mp3Encoder::kSamplesPerCall;

}  // namespace

std::unique_ptr<RecordingMp3Encoder> RecordingMp3Encoder::Start(int outRate) {
  ICapturedAudio* capture = g_EngineState.pFilterCapture.Get();
  if (capture == nullptr || outRate <= 0) return nullptr;
  platform::ComPtr<ICapturedAudioStream> stream;
  if (FAILED(capture->QueryInterface(IID_ICapturedAudioStream, stream.PutVoid())) || !stream) return nullptr;
  CaptureRecord record{};
  std::uint64_t id = 0;
  if (FAILED(capture->GetFormat(&record)) || FAILED(stream->GetRecordingId(&id))) return nullptr;
  const WAVEFORMATEX& format = record.wfx;
  if (format.nChannels != 2 || format.wBitsPerSample != 16 || format.nBlockAlign != 4 || format.nSamplesPerSec == 0)
    return nullptr;
  std::unique_ptr<RecordingMp3Encoder> encoder(
      new RecordingMp3Encoder(std::move(stream), id, static_cast<int>(format.nSamplesPerSec), outRate));
  try {
    encoder->thread_ = std::thread(&RecordingMp3Encoder::Run, encoder.get());
  } catch (const std::system_error&) {
    return nullptr;
  }
  return encoder;
}

RecordingMp3Encoder::RecordingMp3Encoder(platform::ComPtr<ICapturedAudioStream> stream, std::uint64_t id, int inRate,
                                         int outRate)
    : stream_(std::move(stream)), id_(id) {
  result_.inRate = inRate;
  result_.outRate = outRate;
}

RecordingMp3Encoder::~RecordingMp3Encoder() {
  if (!thread_.joinable()) return;
  stopped_ = true;
  // Wakes an encoder waiting for sound; the recording is over for it anyway.
  stream_->EndRecording(id_);
  thread_.join();
}

void RecordingMp3Encoder::RecordingEnded() { stream_->EndRecording(id_); }

const EncodedMp3& RecordingMp3Encoder::Result() {
  if (thread_.joinable()) thread_.join();
  return result_;
}

void RecordingMp3Encoder::Run() {
  try {
    Encode();
  } catch (const std::bad_alloc&) {
    result_.complete = false;  // the MP3 grew beyond memory: the WAV file is encoded instead
    result_.mp3.clear();
  }
}

void RecordingMp3Encoder::Encode() {
  HRESULT hr = S_OK;
  std::string failure;
  const std::unique_ptr<Mp3Encoder> encoder = Mp3Encoder::Create(result_.inRate, result_.outRate, hr, failure);
  if (!encoder) return;
  std::vector<short> sound(kSamplesPerWait);
  PcmDigest digest;
  for (;;) {
    DWORD copied = 0;
    const HRESULT got = stream_->WaitAndCopy(id_, result_.soundBytes, reinterpret_cast<BYTE*>(sound.data()),
                                             static_cast<DWORD>(sound.size() * sizeof(short)), &copied);
    if (FAILED(got) || stopped_) return;
    digest.Add(sound.data(), copied);
    result_.soundBytes += copied;
    // Whole samples, in the pieces the encoder takes; a last odd byte is no sample.
    const std::size_t samples = copied / sizeof(short);
    for (std::size_t at = 0; at < samples; at += Mp3Encoder::kSamplesPerCall) {
      const int produced = encoder->Encode(sound.data() + at, std::min(Mp3Encoder::kSamplesPerCall, samples - at));
      if (produced < 0) return;
      result_.mp3.insert(result_.mp3.end(), encoder->Bytes(), encoder->Bytes() + produced);
    }
    if (got == S_FALSE) break;  // the recording has ended: that was the rest
  }
  const int flushed = encoder->Flush();
  if (flushed < 0) return;
  result_.mp3.insert(result_.mp3.end(), encoder->Bytes(), encoder->Bytes() + flushed);
  result_.digest = digest.Value();
  result_.complete = true;
}
