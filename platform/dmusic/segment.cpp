#include "platform/dmusic/segment.h"

namespace platform {
namespace {

std::shared_ptr<const TempoMap> MakeTempoMap(const smf::Sequence& sequence) {
  std::vector<TempoMap::Change> changes;
  for (const smf::Event& event : sequence.events)
    if (event.kind == smf::EventKind::Tempo) changes.push_back({event.time, event.tempo});
  return std::make_shared<const TempoMap>(changes);
}

}  // namespace

CSegment::CSegment(smf::Sequence sequence)
    : sequence_(std::make_shared<const smf::Sequence>(std::move(sequence))),
      tempo_(MakeTempoMap(*sequence_)),
      length_(sequence_->length) {}

HRESULT CSegment::GetLength(MUSIC_TIME* pmtLength) {
  if (pmtLength == nullptr) return E_POINTER;
  *pmtLength = length_.load();
  return S_OK;
}

HRESULT CSegment::SetLength(MUSIC_TIME mtLength) {
  if (mtLength <= 0) return E_INVALIDARG;
  length_.store(mtLength);
  return S_OK;
}

HRESULT CSegment::GetRepeats(DWORD* pdwRepeats) {
  if (pdwRepeats == nullptr) return E_POINTER;
  *pdwRepeats = repeats_.load();
  return S_OK;
}

HRESULT CSegment::SetRepeats(DWORD dwRepeats) {
  repeats_.store(dwRepeats);
  return S_OK;
}

HRESULT CSegment::SetParam(REFGUID rguidType, DWORD, DWORD, MUSIC_TIME, void*) {
  return rguidType == GUID_StandardMIDIFile ? S_OK : DMUS_E_NOT_FOUND;
}

CSegment* AsSegment(IUnknown* unknown) {
  if (unknown == nullptr) return nullptr;
  ComPtr<IDirectMusicSegment> segment;
  if (FAILED(unknown->QueryInterface(IID_IDirectMusicSegment, segment.PutVoid())) || !segment) return nullptr;
  return dynamic_cast<CSegment*>(segment.Get());
}

bool SegmentWasTruncated(IDirectMusicSegment* segment) {
  const CSegment* ours = AsSegment(segment);
  return ours != nullptr && ours->Truncated();
}

bool SegmentHadDataOutOfRange(IDirectMusicSegment* segment) {
  const CSegment* ours = AsSegment(segment);
  return ours != nullptr && ours->DataOutOfRange();
}

std::vector<std::string> SegmentWarnings(IDirectMusicSegment* segment) {
  const CSegment* ours = AsSegment(segment);
  return ours != nullptr ? ours->Warnings() : std::vector<std::string>{};
}

HRESULT CSegmentState::GetStartTime(MUSIC_TIME* pmtStart) {
  if (pmtStart == nullptr) return E_POINTER;
  *pmtStart = start_;
  return S_OK;
}

}  // namespace platform
