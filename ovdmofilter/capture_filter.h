// The capture effect: an in-place audio effect that passes its PCM through
// unchanged and appends it to the process's recording. It declares itself a
// recording sink, so a buffer that carries it renders off-line, and it reads the
// recording back through ICapturedAudio.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>

#include "ovdmofilter/captured_audio.h"
#include "platform/com/com_object.h"
#include "platform/dmo/dmo.h"
#include "platform/dsound/recording_sink.h"

namespace ovdmofilter {

class CCaptureFilter final
    : public platform::ComObjectOf<platform::Offers<IMediaObject, IID_IMediaObject>,
                                   platform::Offers<IMediaObjectInPlace, IID_IMediaObjectInPlace>,
                                   platform::Offers<IRecordingSink, IID_IRecordingSink>,
                                   platform::Offers<ICapturedAudio, IID_ICapturedAudio>,
                                   platform::Offers<ICapturedAudioStream, IID_ICapturedAudioStream>> {
 public:
  CCaptureFilter();

  // The number of instances alive in the process.
  static long LiveObjects();

  // IMediaObject: one input and one output stream, both 16-bit PCM of the same format.
  HRESULT GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) override;
  HRESULT SetInputType(DWORD dwInputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) override;
  HRESULT SetOutputType(DWORD dwOutputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) override;
  HRESULT GetInputCurrentType(DWORD dwInputStreamIndex, DMO_MEDIA_TYPE* pmt) override;
  HRESULT AllocateStreamingResources() override;
  HRESULT FreeStreamingResources() override;
  HRESULT Flush() override;
  HRESULT Discontinuity(DWORD dwInputStreamIndex) override;

  // IMediaObjectInPlace
  HRESULT Process(ULONG ulSize, BYTE* pData, REFERENCE_TIME refTimeStart, DWORD dwFlags) override;
  HRESULT Clone(IMediaObjectInPlace** ppMediaObject) override;
  HRESULT GetLatency(REFERENCE_TIME* pLatencyTime) override;

  // IRecordingSink
  HRESULT BeginRecording() override;

  // ICapturedAudio
  HRESULT Setup(CaptureRecord* record) override;
  HRESULT GetFormat(CaptureRecord* record) override;
  HRESULT GetDataSize(DWORD* size) override;
  HRESULT CopyData(BYTE* dest, DWORD size) override;

  // ICapturedAudioStream
  HRESULT GetRecordingId(std::uint64_t* id) override;
  HRESULT WaitAndCopy(std::uint64_t id, std::uint64_t offset, BYTE* dest, DWORD size, DWORD* copied) override;
  HRESULT EndRecording(std::uint64_t id) override;

 private:
  ~CCaptureFilter() override;

  // The format a media type describes, when this effect can run on it.
  static std::optional<WAVEFORMATEX> AcceptedFormat(const DMO_MEDIA_TYPE* pmt);
  HRESULT SetType(bool input, DWORD index, const DMO_MEDIA_TYPE* pmt, DWORD flags);

  mutable std::mutex mutex_;
  std::optional<WAVEFORMATEX> inputFormat_;
  std::optional<WAVEFORMATEX> outputFormat_;
  std::atomic<CaptureRecord*> record_{nullptr};
};

}  // namespace ovdmofilter
