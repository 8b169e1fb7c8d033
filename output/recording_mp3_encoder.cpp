#include "output/recording_mp3_encoder.h"

#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "engine/engine_state.h"
#include "ovdmofilter/captured_audio.h"
#include "output/pcm_digest.h"
#include "platform/dmusic/performance.h"

namespace {

// One encoder call's sound: the pieces a WAV file is encoded in, so the calls,
// and the bytes, are the same.
constexpr DWORD kPieceBytes = Mp3Encoder::kSamplesPerCall * sizeof(short);
// The encoding has fallen behind when more than this waits for it (about 0.2 s
// at 44,100 Hz): its steps then come before the helper's pieces of the music.
constexpr DWORD kBehindBytes = 8 * kPieceBytes;

}  // namespace

// What the encoding needs and has made; the helper's job and the owner take its
// lock for every step, so one step runs at a time and in order.
struct RecordingMp3Encoder::Work {
  std::mutex lock;
  platform::ComPtr<ICapturedAudio> capture;
  platform::ComPtr<ICapturedAudioStream> stream;
  std::uint64_t id = 0;
  std::unique_ptr<Mp3Encoder> encoder;
  bool stopped = false;  // left, failed or finished: nothing more is encoded
  PcmDigest digest;
  EncodedMp3 result;
  std::vector<short> sound = std::vector<short>(Mp3Encoder::kSamplesPerCall);

  // The helper's step: encodes the next piece if it has been recorded (urgent:
  // only when the encoding has fallen behind). True when it encoded one.
  bool Step(bool urgent) {
    std::unique_lock guard(lock, std::try_to_lock);
    if (!guard.owns_lock() || stopped) return false;
    DWORD recorded = 0;
    if (FAILED(capture->GetDataSize(&recorded))) return false;
    const std::uint64_t waiting = recorded > result.soundBytes ? recorded - result.soundBytes : 0;
    if (waiting < (urgent ? kBehindBytes + 1 : kPieceBytes)) return false;
    return Encode() == S_OK;
  }

  // Takes the next piece of the recording, waiting for it until the recording has
  // ended, and encodes it. S_OK: a whole piece; S_FALSE: the recording's end (what
  // was left, maybe nothing); a failure stops the encoding.
  HRESULT Encode() {
    try {
      DWORD copied = 0;
      const HRESULT got =
          stream->WaitAndCopy(id, result.soundBytes, reinterpret_cast<BYTE*>(sound.data()), kPieceBytes, &copied);
      if (FAILED(got)) return Stop(got);
      digest.Add(sound.data(), copied);
      result.soundBytes += copied;
      // Whole samples; a last odd byte is no sample.
      const std::size_t samples = copied / sizeof(short);
      if (samples > 0) {
        const int produced = encoder->Encode(sound.data(), samples);
        if (produced < 0) return Stop(E_FAIL);
        result.mp3.insert(result.mp3.end(), encoder->Bytes(), encoder->Bytes() + produced);
      }
      return got;
    } catch (const std::bad_alloc&) {
      return Stop(E_OUTOFMEMORY);  // the MP3 grew beyond memory: the WAV file is encoded instead
    }
  }

  // Nothing more is encoded; what was made is dropped.
  HRESULT Stop(HRESULT hr) {
    stopped = true;
    result.complete = false;
    std::vector<unsigned char>().swap(result.mp3);
    return FAILED(hr) ? hr : E_FAIL;
  }
};

std::unique_ptr<RecordingMp3Encoder> RecordingMp3Encoder::Start(int outRate) {
  ICapturedAudio* capture = g_EngineState.pFilterCapture.Get();
  platform::CPerformance* performance = platform::AsPerformance(g_EngineState.pPerformance.Get());
  if (capture == nullptr || performance == nullptr || outRate <= 0) return nullptr;
  auto work = std::make_shared<Work>();
  work->capture = platform::ComPtr<ICapturedAudio>::Share(capture);
  if (FAILED(capture->QueryInterface(IID_ICapturedAudioStream, work->stream.PutVoid())) || !work->stream)
    return nullptr;
  CaptureRecord record{};
  if (FAILED(capture->GetFormat(&record)) || FAILED(work->stream->GetRecordingId(&work->id))) return nullptr;
  const WAVEFORMATEX& format = record.wfx;
  if (format.nChannels != 2 || format.wBitsPerSample != 16 || format.nBlockAlign != 4 || format.nSamplesPerSec == 0)
    return nullptr;
  work->result.inRate = static_cast<int>(format.nSamplesPerSec);
  work->result.outRate = outRate;
  HRESULT hr = S_OK;
  std::string failure;
  work->encoder = Mp3Encoder::Create(work->result.inRate, outRate, hr, failure);
  if (!work->encoder) return nullptr;  // encoding the WAV file says why
  if (!performance->SetSpareWork([work](bool urgent) { return work->Step(urgent); }, work.get())) return nullptr;
  return std::unique_ptr<RecordingMp3Encoder>(new RecordingMp3Encoder(
      work, platform::ComPtr<IDirectMusicPerformance8>::Share(g_EngineState.pPerformance.Get())));
}

RecordingMp3Encoder::RecordingMp3Encoder(std::shared_ptr<Work> work,
                                         platform::ComPtr<IDirectMusicPerformance8> performance)
    : work_(std::move(work)), performance_(std::move(performance)) {}

RecordingMp3Encoder::~RecordingMp3Encoder() {
  {
    // Waits for a step under way.
    std::lock_guard guard(work_->lock);
    if (!work_->stopped) work_->Stop(E_ABORT);
  }
  if (platform::CPerformance* performance = platform::AsPerformance(performance_.Get()))
    performance->SetSpareWork({}, work_.get());
}

void RecordingMp3Encoder::RecordingEnded() { work_->stream->EndRecording(work_->id); }

const EncodedMp3& RecordingMp3Encoder::Result() {
  std::lock_guard guard(work_->lock);
  Work& work = *work_;
  if (work.stopped) return work.result;
  HRESULT got = S_OK;
  while ((got = work.Encode()) == S_OK) {
  }
  if (got != S_FALSE) return work.result;
  const int flushed = work.encoder->Flush();
  if (flushed < 0) {
    work.Stop(E_FAIL);
    return work.result;
  }
  try {
    work.result.mp3.insert(work.result.mp3.end(), work.encoder->Bytes(), work.encoder->Bytes() + flushed);
  } catch (const std::bad_alloc&) {
    work.Stop(E_OUTOFMEMORY);
    return work.result;
  }
  work.result.digest = work.digest.Value();
  work.result.complete = true;
  work.stopped = true;
  return work.result;
}
