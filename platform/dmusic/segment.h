// A segment made from a Standard MIDI file, and the state of one playing of it.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dmusic/dmusic.h"
#include "platform/midi_file/smf_reader.h"
#include "platform/midi_file/tempo_map.h"

namespace platform {

class CSegment final : public ComObject<IDirectMusicSegment8, IID_IDirectMusicSegment, IID_IDirectMusicSegment8> {
 public:
  // Starts with one reference, owned by whoever created it.
  explicit CSegment(smf::Sequence sequence);

  // IDirectMusicSegment
  HRESULT GetLength(MUSIC_TIME* pmtLength) override;
  // A length of at least 1; events after it do not play.
  HRESULT SetLength(MUSIC_TIME mtLength) override;
  HRESULT GetRepeats(DWORD* pdwRepeats) override;
  // How many times the segment plays again after its first time.
  HRESULT SetRepeats(DWORD dwRepeats) override;
  // GUID_StandardMIDIFile marks the segment as coming from a MIDI file (it
  // always does); any other parameter is DMUS_E_NOT_FOUND.
  HRESULT SetParam(REFGUID rguidType, DWORD dwGroupBits, DWORD dwIndex, MUSIC_TIME mtTime, void* pParam) override;

  // ---- The performance's side ----
  const std::vector<smf::Event>& Events() const { return sequence_->events; }
  const std::shared_ptr<const TempoMap>& Tempo() const { return tempo_; }
  MUSIC_TIME Length() const { return length_.load(); }
  DWORD Repeats() const { return repeats_.load(); }
  // The file was cut short inside a track (what was read plays).
  bool Truncated() const { return sequence_->truncated; }
  // A channel message of the file carried a data byte above 127 (read as 127).
  bool DataOutOfRange() const { return sequence_->dataOutOfRange; }
  // What the reader forgave, one line each.
  const std::vector<std::string>& Warnings() const { return sequence_->warnings; }

 private:
  ~CSegment() override = default;

  std::shared_ptr<const smf::Sequence> sequence_;
  std::shared_ptr<const TempoMap> tempo_;
  std::atomic<MUSIC_TIME> length_;
  std::atomic<DWORD> repeats_{0};
};

// The segment behind an interface of ours; null for anyone else's.
CSegment* AsSegment(IUnknown* unknown);

// For the engine's log: whether the segment's file was cut short, whether it
// carried data bytes out of range, and the reader's warnings. False (and no
// warnings) for a segment that is not ours.
bool SegmentWasTruncated(IDirectMusicSegment* segment);
bool SegmentHadDataOutOfRange(IDirectMusicSegment* segment);
std::vector<std::string> SegmentWarnings(IDirectMusicSegment* segment);

class CSegmentState final : public ComObject<IDirectMusicSegmentState, IID_IDirectMusicSegmentState> {
 public:
  explicit CSegmentState(MUSIC_TIME start) : start_(start) {}

  HRESULT GetStartTime(MUSIC_TIME* pmtStart) override;

 private:
  ~CSegmentState() override = default;
  MUSIC_TIME start_;
};

}  // namespace platform
