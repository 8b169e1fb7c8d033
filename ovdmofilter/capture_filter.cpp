#include "ovdmofilter/capture_filter.h"

#include <cstring>
#include <new>

#include "ovdmofilter/recording.h"
#include "platform/com/com.h"

namespace ovdmofilter {
namespace {

constexpr DWORD DMO_SET_TYPEF_TEST_ONLY = 0x1;
constexpr DWORD DMO_SET_TYPEF_CLEAR = 0x2;

std::atomic<long>& LiveCount() {
  static std::atomic<long> count{0};
  return count;
}

bool SameFormat(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
  return a.wFormatTag == b.wFormatTag && a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec &&
         a.wBitsPerSample == b.wBitsPerSample && a.nBlockAlign == b.nBlockAlign;
}

}  // namespace

CCaptureFilter::CCaptureFilter() { ++LiveCount(); }
CCaptureFilter::~CCaptureFilter() { --LiveCount(); }

long CCaptureFilter::LiveObjects() { return LiveCount().load(); }

// ---- media types ------------------------------------------------------------------

std::optional<WAVEFORMATEX> CCaptureFilter::AcceptedFormat(const DMO_MEDIA_TYPE* pmt) {
  if (pmt == nullptr || !(pmt->majortype == MEDIATYPE_Audio) || !(pmt->subtype == MEDIASUBTYPE_PCM) ||
      !(pmt->formattype == FORMAT_WaveFormatEx) || pmt->pbFormat == nullptr || pmt->cbFormat < 16)
    return std::nullopt;
  WAVEFORMATEX format{};
  std::memcpy(&format, pmt->pbFormat, 16);  // the fields before cbSize
  // What the program reads back must be 16-bit stereo PCM with consistent sizes.
  if (format.wFormatTag != WAVE_FORMAT_PCM || format.nChannels != 2 || format.wBitsPerSample != 16 ||
      format.nSamplesPerSec == 0 || format.nBlockAlign != 4 || format.nAvgBytesPerSec != format.nSamplesPerSec * 4)
    return std::nullopt;
  format.cbSize = 0;
  return format;
}

HRESULT CCaptureFilter::SetType(bool input, DWORD index, const DMO_MEDIA_TYPE* pmt, DWORD flags) {
  if (index != 0) return DMO_E_INVALIDSTREAMINDEX;
  std::lock_guard lock(mutex_);
  std::optional<WAVEFORMATEX>& own = input ? inputFormat_ : outputFormat_;
  const std::optional<WAVEFORMATEX>& other = input ? outputFormat_ : inputFormat_;
  if (flags & DMO_SET_TYPEF_CLEAR) {
    if (!(flags & DMO_SET_TYPEF_TEST_ONLY)) own.reset();
    return S_OK;
  }
  if (pmt == nullptr) return E_POINTER;
  const std::optional<WAVEFORMATEX> format = AcceptedFormat(pmt);
  // In place: both streams carry the same format.
  if (!format || (other && !SameFormat(*other, *format))) return DMO_E_TYPE_NOT_ACCEPTED;
  if (flags & DMO_SET_TYPEF_TEST_ONLY) return S_OK;
  own = format;
  if (input) Recording::Instance().SetFormat(*format);
  return S_OK;
}

HRESULT CCaptureFilter::GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) {
  if (pcInputStreams == nullptr || pcOutputStreams == nullptr) return E_POINTER;
  *pcInputStreams = 1;
  *pcOutputStreams = 1;
  return S_OK;
}

HRESULT CCaptureFilter::SetInputType(DWORD dwInputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) {
  return SetType(true, dwInputStreamIndex, pmt, dwFlags);
}

HRESULT CCaptureFilter::SetOutputType(DWORD dwOutputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) {
  return SetType(false, dwOutputStreamIndex, pmt, dwFlags);
}

HRESULT CCaptureFilter::GetInputCurrentType(DWORD dwInputStreamIndex, DMO_MEDIA_TYPE* pmt) {
  if (dwInputStreamIndex != 0) return DMO_E_INVALIDSTREAMINDEX;
  if (pmt == nullptr) return E_POINTER;
  std::lock_guard lock(mutex_);
  if (!inputFormat_) return DMO_E_TYPE_NOT_SET;
  // The caller frees pbFormat with CoTaskMemFree.
  auto* format = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
  if (format == nullptr) return E_OUTOFMEMORY;
  std::memcpy(format, &*inputFormat_, sizeof(WAVEFORMATEX));
  *pmt = DMO_MEDIA_TYPE{};
  pmt->majortype = MEDIATYPE_Audio;
  pmt->subtype = MEDIASUBTYPE_PCM;
  pmt->bFixedSizeSamples = TRUE;
  pmt->lSampleSize = inputFormat_->nBlockAlign;
  pmt->formattype = FORMAT_WaveFormatEx;
  pmt->cbFormat = sizeof(WAVEFORMATEX);
  pmt->pbFormat = format;
  return S_OK;
}

HRESULT CCaptureFilter::AllocateStreamingResources() { return S_OK; }
HRESULT CCaptureFilter::FreeStreamingResources() { return S_OK; }
HRESULT CCaptureFilter::Flush() { return S_OK; }

HRESULT CCaptureFilter::Discontinuity(DWORD dwInputStreamIndex) {
  return dwInputStreamIndex == 0 ? S_OK : DMO_E_INVALIDSTREAMINDEX;
}

// ---- in-place processing --------------------------------------------------------------

HRESULT CCaptureFilter::Process(ULONG ulSize, BYTE* pData, REFERENCE_TIME, DWORD) {
  if (ulSize == 0) return S_OK;
  if (pData == nullptr) return E_POINTER;
  {
    std::lock_guard lock(mutex_);
    if (!inputFormat_) return DMO_E_TYPE_NOT_SET;
  }
  // The sound passes through unchanged; a copy goes to the recording.
  Recording::Instance().Append(pData, ulSize);
  return S_OK;
}

HRESULT CCaptureFilter::Clone(IMediaObjectInPlace** ppMediaObject) {
  if (ppMediaObject == nullptr) return E_POINTER;
  auto* copy = new (std::nothrow) CCaptureFilter();
  if (copy == nullptr) return E_OUTOFMEMORY;
  {
    std::lock_guard lock(mutex_);
    copy->inputFormat_ = inputFormat_;
    copy->outputFormat_ = outputFormat_;
  }
  *ppMediaObject = static_cast<IMediaObjectInPlace*>(copy);
  return S_OK;
}

HRESULT CCaptureFilter::GetLatency(REFERENCE_TIME* pLatencyTime) {
  if (pLatencyTime == nullptr) return E_POINTER;
  *pLatencyTime = 0;
  return S_OK;
}

// ---- recording ---------------------------------------------------------------------------

HRESULT CCaptureFilter::BeginRecording() {
  std::optional<WAVEFORMATEX> format;
  {
    std::lock_guard lock(mutex_);
    format = inputFormat_;
  }
  Recording::Instance().Begin(format.value_or(Recording::DefaultFormat()));
  return S_OK;
}

HRESULT CCaptureFilter::Setup(CaptureRecord* record) {
  if (record == nullptr) return E_POINTER;
  record_ = record;
  return S_OK;
}

HRESULT CCaptureFilter::GetFormat(CaptureRecord* record) {
  if (record == nullptr) record = record_.load();
  if (record == nullptr) return E_POINTER;
  record->wfx = Recording::Instance().Format();
  return S_OK;
}

HRESULT CCaptureFilter::GetDataSize(DWORD* size) {
  if (size == nullptr) return E_POINTER;
  *size = Recording::Instance().Size();
  return S_OK;
}

HRESULT CCaptureFilter::CopyData(BYTE* dest, DWORD size) {
  if (size == 0) return S_OK;
  if (dest == nullptr) return E_POINTER;
  // Asking for more than was recorded gets the recording and zeros after it.
  return Recording::Instance().CopyTo(dest, size) == size ? S_OK : S_FALSE;
}

// ---- reading while recording ---------------------------------------------------------

HRESULT CCaptureFilter::GetRecordingId(std::uint64_t* id) {
  if (id == nullptr) return E_POINTER;
  *id = Recording::Instance().Take();
  return S_OK;
}

HRESULT CCaptureFilter::WaitAndCopy(std::uint64_t id, std::uint64_t offset, BYTE* dest, DWORD size, DWORD* copied) {
  if (copied == nullptr) return E_POINTER;
  std::size_t n = 0;
  const HRESULT hr = Recording::Instance().WaitAndCopy(id, offset, dest, size, &n);
  *copied = static_cast<DWORD>(n);
  return hr;
}

HRESULT CCaptureFilter::EndRecording(std::uint64_t id) {
  Recording::Instance().End(id);
  return S_OK;
}

}  // namespace ovdmofilter
