#include "platform/dmusic/performance_core.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/com/com_object.h"
#include "platform/core/kernel.h"
#include "platform/synth/audio_output.h"
#include "platform/synth/pcm16_conversion.h"
#include "platform/dmusic/tool_graph.h"

namespace platform {

// The last stop of every message: plays it on the synthesiser at its time.
class COutputTool final : public ComObject<IDirectMusicTool, IID_IDirectMusicTool> {
 public:
  explicit COutputTool(PerformanceCore* core) : core_(core) {}
  HRESULT Init(IDirectMusicGraph*) override { return S_OK; }
  // Messages reach the output tool when they are due.
  HRESULT GetMsgDeliveryType(DWORD* type) override {
    if (type == nullptr) return E_POINTER;
    *type = DMUS_PMSGF_TOOL_ATTIME;
    return S_OK;
  }
  HRESULT GetMediaTypeArraySize(DWORD* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;  // every type
    return S_OK;
  }
  HRESULT GetMediaTypes(DWORD**, DWORD) override { return S_OK; }
  HRESULT ProcessPMsg(IDirectMusicPerformance*, DMUS_PMSG* msg) override {
    if (PerformanceCore* core = core_.load(); core != nullptr && msg != nullptr) core->PlayMessage(msg);
    return DMUS_S_FREE;
  }
  HRESULT Flush(IDirectMusicPerformance*, DMUS_PMSG*, REFERENCE_TIME) override { return S_OK; }

  // The performance has closed down: play nothing more.
  void Detach() { core_.store(nullptr); }

 private:
  ~COutputTool() override = default;
  std::atomic<PerformanceCore*> core_;
};

namespace {

constexpr std::int64_t kBlock = Synthesizer::kBlockFrames;
constexpr std::int64_t kHalfBlock = kBlock / 2;
// Blocks rendered at most in one FluidSynth call.
constexpr std::int64_t kMaxChunkBlocks = Synthesizer::kMaxRenderFrames / kBlock;
// While a segment waits for its sound to die away, the sound is checked this
// often.
constexpr std::int64_t kEndWatchBlocks = 8;

// The channels that play percussion: channel 10, and the parts a Roland GS
// message turns into drum parts (F0 41 dev 42 12 40 1p 15 mm sum F7; part 0 is
// channel 10, parts 1-9 channels 1-9, parts 10-15 channels 11-16).
std::uint16_t PercussionChannels(const std::vector<smf::Event>& events) {
  std::uint16_t channels = 1u << 9;
  for (const smf::Event& event : events) {
    const std::vector<std::uint8_t>& m = event.sysex;
    if (event.kind != smf::EventKind::SysEx || m.size() < 10 || m[1] != 0x41 || m[3] != 0x42 || m[4] != 0x12 ||
        m[5] != 0x40 || (m[6] & 0xF0) != 0x10 || m[7] != 0x15)
      continue;
    const int part = m[6] & 0x0F;
    const int channel = part == 0 ? 9 : part <= 9 ? part - 1 : part;
    if (m[8] != 0)
      channels = static_cast<std::uint16_t>(channels | (1u << channel));
    else
      channels = static_cast<std::uint16_t>(channels & ~(1u << channel));
  }
  return channels;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if (a % b != 0 && (a < 0) != (b < 0)) --q;
  return q;
}

}  // namespace

// ---- Time line ---------------------------------------------------------------

void PerformanceCore::TimeLine::SetMasterTempo(float master) {
  const double factor = master > 0.0f ? master : 1.0;
  framesPerUnit = kSampleRate / (TempoMap::kUnitsPerSecond * factor);
  timePerUnit = 1e7 / (TempoMap::kUnitsPerSecond * factor);
}

std::int64_t PerformanceCore::TimeLine::FrameOf(MUSIC_TIME mt) const {
  return startFrame + std::llround(static_cast<double>(tempo->Position(mt)) * framesPerUnit);
}

REFERENCE_TIME PerformanceCore::TimeLine::TimeOf(MUSIC_TIME mt) const {
  return startTime + std::llround(static_cast<double>(tempo->Position(mt)) * timePerUnit);
}

MUSIC_TIME PerformanceCore::TimeLine::MusicAtTime(REFERENCE_TIME rt) const {
  return tempo->MusicTimeAt(std::llround(static_cast<double>(rt - startTime) / timePerUnit));
}

MUSIC_TIME PerformanceCore::TimeLine::MusicAtFrame(std::int64_t frame) const {
  return tempo->MusicTimeAt(std::llround(static_cast<double>(frame - startFrame) / framesPerUnit));
}

// ---- Life ----------------------------------------------------------------------

PerformanceCore::PerformanceCore(IDirectMusicPerformance* owner, std::shared_ptr<Synthesizer> synth,
                                 std::shared_ptr<PMsgPool> pool, REFERENCE_TIME clockStart)
    : owner_(owner), pool_(std::move(pool)), synth_(std::move(synth)) {
  floatBlock_.resize(static_cast<std::size_t>(kMaxChunkBlocks * kBlock * 2));
  scratch_.resize(static_cast<std::size_t>(kMaxChunkBlocks * kBlock * 2));
  clockBase_ = clockStart;
  clockAnchor_ = std::chrono::steady_clock::now();
  line_.startTime = clockStart;
}

PerformanceCore::~PerformanceCore() { Shutdown(); }

HRESULT PerformanceCore::Init() {
  graph_ = ComPtr<CToolGraph>::Adopt(new CToolGraph());
  outputTool_ = ComPtr<COutputTool>::Adopt(new COutputTool(this));
  graph_->SetOutputTool(outputTool_.Get());
  return S_OK;
}

void PerformanceCore::Shutdown() {
  if (shutDown_.load()) return;
  Stop(nullptr);
  {
    std::lock_guard lock(renderLock_);
    shutDown_.store(true);
    if (outputTool_) outputTool_->Detach();
    if (graph_) graph_->Clear();
    outputPath_.Reset();
    synth_.reset();
    FlushQueues();
  }
  EndRecording();
  StopRealTimeOutput();
  std::deque<DMUS_NOTIFICATION_PMSG*> waiting;
  {
    std::lock_guard lock(notifyLock_);
    waiting.swap(notifications_);
    notificationTypes_.clear();
  }
  for (DMUS_NOTIFICATION_PMSG* msg : waiting) pool_->Free(msg);
}

HRESULT PerformanceCore::GetGraph(IDirectMusicGraph** graph) {
  if (graph == nullptr) return E_POINTER;
  *graph = nullptr;
  if (shutDown_.load() || !graph_) return DMUS_E_NOT_INIT;
  graph_->AddRef();
  *graph = graph_.Get();
  return S_OK;
}

void PerformanceCore::SetMasterVolume(LONG hundredthsDb) {
  masterGain_.store(hundredthsDb == 0 ? 1.0f : static_cast<float>(std::pow(10.0, hundredthsDb / 2000.0)));
}

float PerformanceCore::OutputGain() const { return masterGain_.load() * (outputPath_ ? outputPath_->Gain() : 1.0f); }

// ---- Playing ---------------------------------------------------------------------

HRESULT PerformanceCore::Play(CSegment* segment, CAudioPath* path, bool control, IDirectMusicSegmentState** state) {
  if (shutDown_.load()) return DMUS_E_NOT_INIT;
  if (path->Buffer()->IsRecording()) {
    StopRealTimeOutput();
    BeginRecording();
  } else {
    EndRecording();
    StartRealTimeOutput();
  }
  std::lock_guard lock(renderLock_);
  if (shutDown_.load()) return DMUS_E_NOT_INIT;
  if (!channelsShared_) {
    // The first music this synthesiser plays tells it which channels are
    // percussion, before any event reaches it.
    synth_->SetPercussionChannels(PercussionChannels(segment->Events()));
    channelsShared_ = true;
  }
  Playback playback;
  playback.segment = ComPtr<CSegment>::Share(segment);
  playback.state = ComPtr<CSegmentState>::Adopt(new CSegmentState(0));
  playback.length = segment->Length();
  playback.repeatsLeft = segment->Repeats();
  playback.control = control;
  playback.line.tempo = segment->Tempo();
  playback.line.SetMasterTempo(masterTempo_.load());
  playback.line.startFrame = synthFrames_.load();
  playback.line.startTime = Now();
  playback.endFrame = playback.line.FrameOf(playback.length);
  playback.cursor = 0;
  AdvanceCursor(playback);
  if (control) {
    std::lock_guard timeLock(timeLock_);
    line_ = playback.line;
  }
  // New music: the output sounds again after a fade-out.
  silentFrom_ = kNever;
  capEnd_ = kNever;
  if (outputPath_.Get() != path) {
    outputPath_ = ComPtr<CAudioPath>::Share(path);
    path->Buffer()->Discontinuity();
  }
  PostNotification(DMUS_NOTIFICATION_SEGSTART, playback, playback.line.startTime);
  if (state != nullptr) {
    playback.state->AddRef();
    *state = playback.state.Get();
  }
  playbacks_.push_back(std::move(playback));
  return S_OK;
}

void PerformanceCore::Stop(IDirectMusicSegment* segment) {
  bool idle = false;
  {
    std::lock_guard lock(renderLock_);
    StopPlaybacksLocked(segment);
    idle = playbacks_.empty();
    if (idle) {
      capEnd_ = kNever;
      FlushQueues();
      if (synth_) synth_->AllNotesOff();
    }
  }
  if (idle) {
    EndRecording();
    StopRealTimeOutput();
  }
}

void PerformanceCore::StopPlaybacksLocked(IDirectMusicSegment* segment) {
  const REFERENCE_TIME now = Now();
  for (auto it = playbacks_.begin(); it != playbacks_.end();) {
    if (segment != nullptr && static_cast<IDirectMusicSegment*>(it->segment.Get()) != segment) {
      ++it;
      continue;
    }
    PostNotification(DMUS_NOTIFICATION_SEGABORT, *it, now);
    it = playbacks_.erase(it);
  }
}

void PerformanceCore::FlushQueues() {
  noteOffs_.clear();
  std::vector<Delivery> pending;
  {
    std::lock_guard lock(queueLock_);
    pending.swap(deliveries_);
  }
  for (const Delivery& delivery : pending) pool_->Free(delivery.msg);
}

// ---- Messages --------------------------------------------------------------------

HRESULT PerformanceCore::Send(DMUS_PMSG* msg) {
  if (msg == nullptr) return E_POINTER;
  if (shutDown_.load()) return DMUS_E_NOT_INIT;
  if (msg->pTool == nullptr) {
    // Never stamped: it starts at the first tool of the graph.
    if (FAILED(graph_->StampPMsg(msg)) || msg->pTool == nullptr) {
      pool_->Free(msg);
      return S_OK;
    }
  }
  Enqueue(msg);
  return S_OK;
}

void PerformanceCore::Enqueue(DMUS_PMSG* msg) {
  const std::int64_t frame =
      (msg->dwFlags & DMUS_PMSGF_TOOL_ATTIME) != 0 ? FrameOfMessage(*msg) : dispatchFrame_.load();
  std::lock_guard lock(queueLock_);
  deliveries_.push_back({frame, deliveryOrder_++, msg});
  std::push_heap(deliveries_.begin(), deliveries_.end(), Later<Delivery>{});
}

std::int64_t PerformanceCore::FrameOfMessage(const DMUS_PMSG& msg) const {
  std::lock_guard lock(timeLock_);
  if ((msg.dwFlags & DMUS_PMSGF_MUSICTIME) != 0) return line_.FrameOf(msg.mtTime);
  if ((msg.dwFlags & DMUS_PMSGF_REFTIME) != 0)
    return line_.startFrame + (msg.rtTime - line_.startTime) * kSampleRate / 10000000;
  return dispatchFrame_.load();
}

void PerformanceCore::Deliver(DMUS_PMSG* msg) {
  IDirectMusicTool* tool = msg->pTool;
  if (tool == nullptr) {
    pool_->Free(msg);
    return;
  }
  const HRESULT hr = tool->ProcessPMsg(owner_, msg);
  if (hr == S_OK) return;
  if (hr == DMUS_S_REQUEUE && msg->pTool != nullptr) {
    // A tool that hands a message back to itself, due at once, would get it
    // forever: such a message is dropped.
    const bool loops = msg->pTool == tool && ((msg->dwFlags & DMUS_PMSGF_TOOL_ATTIME) == 0 ||
                                              FrameOfMessage(*msg) < dispatchFrame_.load() + kHalfBlock);
    if (!loops) {
      Enqueue(msg);
      return;
    }
  }
  pool_->Free(msg);
}

void PerformanceCore::PlayMessage(const DMUS_PMSG* msg) {
  if (!synth_) return;
  const auto channel = static_cast<BYTE>(msg->dwPChannel & 0x0F);
  switch (msg->dwType) {
    case DMUS_PMSGT_NOTE: {
      const auto* note = static_cast<const DMUS_NOTE_PMSG*>(msg);
      if ((note->bFlags & DMUS_NOTEF_NOTEON) == 0 || note->bVelocity == 0) {
        synth_->ChannelMessage(static_cast<BYTE>(0x80 | channel), note->bMidiValue, 0);
        break;
      }
      synth_->ChannelMessage(static_cast<BYTE>(0x90 | channel), note->bMidiValue & 0x7F, note->bVelocity & 0x7F);
      std::int64_t off = 0;
      {
        std::lock_guard lock(timeLock_);
        off = line_.FrameOf(note->mtTime + std::max<MUSIC_TIME>(note->mtDuration, 0));
      }
      noteOffs_.push_back(
          {std::max(off, dispatchFrame_.load()), order_++, channel, static_cast<BYTE>(note->bMidiValue & 0x7F)});
      std::push_heap(noteOffs_.begin(), noteOffs_.end(), Later<NoteOff>{});
      break;
    }
    case DMUS_PMSGT_MIDI: {
      const auto* midi = static_cast<const DMUS_MIDI_PMSG*>(msg);
      synth_->ChannelMessage(static_cast<BYTE>((midi->bStatus & 0xF0) | channel), midi->bByte1, midi->bByte2);
      break;
    }
    case DMUS_PMSGT_PATCH: {
      const auto* patch = static_cast<const DMUS_PATCH_PMSG*>(msg);
      synth_->Patch(channel, patch->byMSB, patch->byLSB, patch->byInstrument);
      break;
    }
    case DMUS_PMSGT_SYSEX: {
      const auto* sysex = static_cast<const DMUS_SYSEX_PMSG*>(msg);
      const std::size_t room =
          msg->dwSize > sizeof(DMUS_SYSEX_PMSG) - 1 ? msg->dwSize - (sizeof(DMUS_SYSEX_PMSG) - 1) : 0;
      synth_->SysEx(sysex->abData, std::min<std::size_t>(sysex->dwLen, room));
      break;
    }
    default:
      // Tempo: the time line already holds it. Other types make no sound.
      break;
  }
}

void PerformanceCore::AdvanceCursor(Playback& playback) {
  const std::vector<smf::Event>& events = playback.segment->Events();
  if (playback.cursor < events.size() && events[playback.cursor].time <= playback.length)
    playback.nextFrame = playback.line.FrameOf(events[playback.cursor].time);
  else
    playback.cursor = events.size();
}

void PerformanceCore::SendNextEvent(Playback& playback) {
  const smf::Event& event = playback.segment->Events()[playback.cursor++];
  AdvanceCursor(playback);
  const auto channel = static_cast<BYTE>(event.status & 0x0F);
  DMUS_PMSG* msg = nullptr;
  switch (event.kind) {
    case smf::EventKind::Note: {
      auto* note = static_cast<DMUS_NOTE_PMSG*>(pool_->Alloc(sizeof(DMUS_NOTE_PMSG)));
      if (note == nullptr) return;
      note->dwType = DMUS_PMSGT_NOTE;
      note->mtDuration = event.duration;
      note->wMusicValue = event.data1;
      note->bMidiValue = event.data1;
      note->bVelocity = event.data2;
      note->bFlags = DMUS_NOTEF_NOTEON;
      msg = note;
      break;
    }
    case smf::EventKind::Channel: {
      const BYTE kind = event.status & 0xF0;
      if (kind == 0xC0) {
        auto* patch = static_cast<DMUS_PATCH_PMSG*>(pool_->Alloc(sizeof(DMUS_PATCH_PMSG)));
        if (patch == nullptr) return;
        patch->dwType = DMUS_PMSGT_PATCH;
        patch->byInstrument = event.data1;
        patch->byMSB = playback.bankMsb[channel];
        patch->byLSB = playback.bankLsb[channel];
        msg = patch;
        break;
      }
      if (kind == 0xB0 && event.data1 == 0) playback.bankMsb[channel] = event.data2;
      if (kind == 0xB0 && event.data1 == 32) playback.bankLsb[channel] = event.data2;
      auto* midi = static_cast<DMUS_MIDI_PMSG*>(pool_->Alloc(sizeof(DMUS_MIDI_PMSG)));
      if (midi == nullptr) return;
      midi->dwType = DMUS_PMSGT_MIDI;
      midi->bStatus = event.status;
      midi->bByte1 = event.data1;
      midi->bByte2 = event.data2;
      msg = midi;
      break;
    }
    case smf::EventKind::Tempo: {
      auto* tempo = static_cast<DMUS_TEMPO_PMSG*>(pool_->Alloc(sizeof(DMUS_TEMPO_PMSG)));
      if (tempo == nullptr) return;
      tempo->dwType = DMUS_PMSGT_TEMPO;
      tempo->dblTempo = event.tempo == 0 ? 120.0 : 60000000.0 / event.tempo;
      msg = tempo;
      break;
    }
    case smf::EventKind::SysEx: {
      auto* sysex = static_cast<DMUS_SYSEX_PMSG*>(pool_->Alloc(sizeof(DMUS_SYSEX_PMSG) + event.sysex.size()));
      if (sysex == nullptr) return;
      sysex->dwType = DMUS_PMSGT_SYSEX;
      sysex->dwLen = static_cast<DWORD>(event.sysex.size());
      if (!event.sysex.empty()) std::memcpy(sysex->abData, event.sysex.data(), event.sysex.size());
      msg = sysex;
      break;
    }
  }
  msg->mtTime = event.time;
  msg->rtTime = playback.line.TimeOf(event.time);
  msg->dwFlags = DMUS_PMSGF_REFTIME | DMUS_PMSGF_MUSICTIME;
  msg->dwPChannel = event.kind == smf::EventKind::Tempo || event.kind == smf::EventKind::SysEx ? 0 : channel;
  msg->dwVirtualTrackID = event.track;
  msg->dwGroupID = 1;
  if (FAILED(graph_->StampPMsg(msg)) || msg->pTool == nullptr) {
    pool_->Free(msg);
    return;
  }
  Enqueue(msg);
}

// ---- Notifications -------------------------------------------------------------

HRESULT PerformanceCore::AddNotificationType(REFGUID type) {
  std::lock_guard lock(notifyLock_);
  if (std::find(notificationTypes_.begin(), notificationTypes_.end(), type) == notificationTypes_.end())
    notificationTypes_.push_back(type);
  return S_OK;
}

HRESULT PerformanceCore::RemoveNotificationType(REFGUID type) {
  std::lock_guard lock(notifyLock_);
  auto it = std::find(notificationTypes_.begin(), notificationTypes_.end(), type);
  if (it == notificationTypes_.end()) return S_FALSE;
  notificationTypes_.erase(it);
  return S_OK;
}

HRESULT PerformanceCore::GetNotification(DMUS_NOTIFICATION_PMSG** msg) {
  if (msg == nullptr) return E_POINTER;
  std::lock_guard lock(notifyLock_);
  if (notifications_.empty()) {
    *msg = nullptr;
    return S_FALSE;
  }
  *msg = notifications_.front();
  notifications_.pop_front();
  return S_OK;
}

void PerformanceCore::PostNotification(DWORD option, const Playback& playback, REFERENCE_TIME time) {
  {
    std::lock_guard lock(notifyLock_);
    if (std::find(notificationTypes_.begin(), notificationTypes_.end(), GUID_NOTIFICATION_SEGMENT) ==
        notificationTypes_.end())
      return;
  }
  auto* msg = static_cast<DMUS_NOTIFICATION_PMSG*>(pool_->Alloc(sizeof(DMUS_NOTIFICATION_PMSG)));
  if (msg == nullptr) return;
  msg->dwType = DMUS_PMSGT_NOTIFICATION;
  msg->rtTime = time;
  msg->mtTime = playback.line.MusicAtTime(time);
  msg->dwFlags = DMUS_PMSGF_REFTIME | DMUS_PMSGF_MUSICTIME;
  msg->guidNotificationType = GUID_NOTIFICATION_SEGMENT;
  msg->dwNotificationOption = option;
  if (playback.state) {
    playback.state->AddRef();
    msg->punkUser = playback.state.Get();
  }
  std::lock_guard lock(notifyLock_);
  notifications_.push_back(msg);
}

// ---- Rendering -----------------------------------------------------------------

void PerformanceCore::Render(std::int16_t* out, std::size_t frames) {
  std::lock_guard lock(renderLock_);
  if (shutDown_.load() || !synth_) {
    std::memset(out, 0, frames * 2 * sizeof(std::int16_t));
    return;
  }
  RenderLocked(out, frames);
}

void PerformanceCore::RenderLocked(std::int16_t* out, std::size_t frames) {
  const REFERENCE_TIME start = consumed_.load() * 10000000 / kSampleRate;
  const float scale = 32768.0f * OutputGain();
  std::size_t done = 0;
  while (done < frames) {
    if (leftoverFrames_ > 0) {
      const std::size_t n = std::min(leftoverFrames_, frames - done);
      std::memcpy(out + 2 * done, leftover_ + 2 * leftoverStart_, n * 2 * sizeof(std::int16_t));
      leftoverStart_ += n;
      leftoverFrames_ -= n;
      done += n;
      continue;
    }
    const std::int64_t now = synthFrames_.load();
    const std::size_t need = frames - done;
    std::int64_t blocks =
        std::min<std::int64_t>(kMaxChunkBlocks, static_cast<std::int64_t>((need + kBlock - 1) / kBlock));
    if (watchingEnd_) blocks = std::min(blocks, kEndWatchBlocks);
    // Everything due in this stretch goes to the synthesiser first, each event at
    // its block; then the whole stretch renders in one call.
    DispatchDue(now, blocks);
    const auto rendered = static_cast<std::size_t>(blocks * kBlock);
    synth_->Render(floatBlock_.data(), static_cast<int>(rendered));
    synthFrames_.store(now + static_cast<std::int64_t>(rendered));
    dispatchFrame_.store(now + static_cast<std::int64_t>(rendered));
    FadeTowardTheEnd(floatBlock_.data(), now, static_cast<std::int64_t>(rendered));
    const std::size_t direct = std::min(need, rendered);
    const Pcm16Conversion first = ConvertToPcm16(floatBlock_.data(), out + 2 * done, direct, scale, kQuietPeak);
    std::uint64_t clipped = first.clipped;
    if (first.loudUntil > 0) loudUntil_ = now + first.loudUntil;
    if (rendered > direct) {
      const Pcm16Conversion rest =
          ConvertToPcm16(floatBlock_.data() + 2 * direct, leftover_, rendered - direct, scale, kQuietPeak);
      clipped += rest.clipped;
      if (rest.loudUntil > 0) loudUntil_ = now + static_cast<std::int64_t>(direct) + rest.loudUntil;
      leftoverStart_ = 0;
      leftoverFrames_ = rendered - direct;
    }
    if (clipped != 0) clipped_.fetch_add(clipped);
    done += direct;
    CheckSegmentEnds();
  }
  consumed_.fetch_add(static_cast<std::int64_t>(frames));
  if (outputPath_) {
    if (outputPath_->IsActive())
      outputPath_->Buffer()->Process(out, frames, start);
    else
      std::memset(out, 0, frames * 2 * sizeof(std::int16_t));
  }
}

void PerformanceCore::DispatchDue(std::int64_t chunkStart, std::int64_t blocks) {
  // An item sounds at the block edge nearest its frame: the first edge e with
  // frame < e + kHalfBlock. Those whose edge lies inside the stretch are due.
  const std::int64_t horizon = chunkStart + (blocks - 1) * kBlock + kHalfBlock;
  for (;;) {
    enum class Source { None, NoteOff, Delivery, Event } source = Source::None;
    std::int64_t best = horizon;
    if (!noteOffs_.empty() && noteOffs_.front().frame < best) {
      best = noteOffs_.front().frame;
      source = Source::NoteOff;
    }
    // At equal frames: note-offs first, then messages already on their way,
    // then new events of the segments.
    {
      std::lock_guard lock(queueLock_);
      if (!deliveries_.empty() && deliveries_.front().frame < best) {
        best = deliveries_.front().frame;
        source = Source::Delivery;
      }
    }
    Playback* playback = nullptr;
    for (Playback& candidate : playbacks_)
      if (candidate.cursor < candidate.segment->Events().size() && candidate.nextFrame < best) {
        best = candidate.nextFrame;
        source = Source::Event;
        playback = &candidate;
      }
    if (source == Source::None) return;
    const std::int64_t edge =
        chunkStart + std::max<std::int64_t>(0, FloorDiv(best - kHalfBlock - chunkStart, kBlock) + 1) * kBlock;
    if (edge > dispatchFrame_.load()) {
      dispatchFrame_.store(edge);
      synth_->SetEventOffset(static_cast<int>(edge - chunkStart));
    }
    switch (source) {
      case Source::None:
        return;
      case Source::NoteOff: {
        const NoteOff off = noteOffs_.front();
        std::pop_heap(noteOffs_.begin(), noteOffs_.end(), Later<NoteOff>{});
        noteOffs_.pop_back();
        synth_->ChannelMessage(static_cast<BYTE>(0x80 | off.channel), off.key, 0);
        break;
      }
      case Source::Delivery: {
        DMUS_PMSG* msg = nullptr;
        {
          std::lock_guard lock(queueLock_);
          msg = deliveries_.front().msg;
          std::pop_heap(deliveries_.begin(), deliveries_.end(), Later<Delivery>{});
          deliveries_.pop_back();
        }
        Deliver(msg);
        break;
      }
      case Source::Event:
        SendNextEvent(*playback);
        break;
    }
  }
}

void PerformanceCore::CheckSegmentEnds() {
  watchingEnd_ = false;
  const std::int64_t now = synthFrames_.load();
  std::int64_t capEnd = kNever;
  for (auto it = playbacks_.begin(); it != playbacks_.end();) {
    Playback& playback = *it;
    if (playback.cursor < playback.segment->Events().size() || now < playback.endFrame) {
      ++it;
      continue;
    }
    if (playback.repeatsLeft > 0) {
      // Once more from the start, right where this time ends.
      --playback.repeatsLeft;
      playback.line.startTime = playback.line.TimeOf(playback.length);
      playback.line.startFrame = playback.endFrame;
      playback.endFrame = playback.line.FrameOf(playback.length);
      playback.cursor = 0;
      AdvanceCursor(playback);
      if (playback.control) {
        std::lock_guard lock(timeLock_);
        line_ = playback.line;
      }
      PostNotification(DMUS_NOTIFICATION_SEGLOOP, playback, playback.line.startTime);
      ++it;
      continue;
    }
    // The music has ended; its sound goes on until every note is released and
    // it has died away, or until the cap, where it is faded out for good.
    const std::int64_t cap = playback.endFrame + kEndCapFrames;
    const bool diedAway = noteOffs_.empty() && now - loudUntil_ >= kQuietFrames;
    if (!diedAway && now < cap) {
      watchingEnd_ = true;
      capEnd = std::min(capEnd, cap);
      ++it;
      continue;
    }
    if (!diedAway) silentFrom_ = std::min(silentFrom_, cap);
    const REFERENCE_TIME time = Now();
    PostNotification(DMUS_NOTIFICATION_SEGALMOSTEND, playback, time);
    PostNotification(DMUS_NOTIFICATION_SEGEND, playback, time);
    it = playbacks_.erase(it);
  }
  capEnd_ = capEnd;
}

void PerformanceCore::FadeTowardTheEnd(float* interleaved, std::int64_t first, std::int64_t frames) const {
  const std::int64_t end = std::min(capEnd_, silentFrom_);
  if (end == kNever || first + frames <= end - kFadeFrames) return;
  for (std::int64_t i = 0; i < frames; ++i) {
    const std::int64_t left = end - (first + i);
    if (left >= kFadeFrames) continue;
    const float gain = left > 0 ? static_cast<float>(left) / kFadeFrames : 0.0f;
    interleaved[2 * i] *= gain;
    interleaved[2 * i + 1] *= gain;
  }
}

bool PerformanceCore::SetSpareWork(PieceSharing::SpareWork work, const void* owner) {
  std::shared_ptr<Synthesizer> synth;
  {
    std::lock_guard lock(renderLock_);
    if (shutDown_.load()) return work == nullptr;
    synth = synth_;
  }
  // Outside the render lock: the call waits for a step of the job under way.
  return synth != nullptr && synth->SetSpareWork(std::move(work), owner);
}

void PerformanceCore::FadeOutIn(DWORD ms) {
  std::lock_guard lock(renderLock_);
  const std::int64_t end = consumed_.load() + static_cast<std::int64_t>(ms) * kSampleRate / 1000;
  silentFrom_ = std::min(silentFrom_, end);
}

// ---- Clocks --------------------------------------------------------------------

REFERENCE_TIME PerformanceCore::Now() const {
  std::lock_guard lock(timeLock_);
  if (recording_) return clockBase_ + (consumed_.load() - framesAnchor_) * 10000000 / kSampleRate;
  const auto elapsed = std::chrono::steady_clock::now() - clockAnchor_;
  return clockBase_ + std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100;
}

MUSIC_TIME PerformanceCore::MusicNow() const { return ReferenceToMusic(Now()); }

REFERENCE_TIME PerformanceCore::MusicToReference(MUSIC_TIME mt) const {
  std::lock_guard lock(timeLock_);
  return line_.TimeOf(mt);
}

MUSIC_TIME PerformanceCore::ReferenceToMusic(REFERENCE_TIME rt) const {
  std::lock_guard lock(timeLock_);
  return line_.MusicAtTime(rt);
}

void PerformanceCore::BeginRecording() {
  const REFERENCE_TIME now = Now();
  std::uint64_t session = 0;
  {
    std::lock_guard lock(timeLock_);
    if (!recording_) {
      static std::atomic<std::uint64_t> sessions{0};
      clockBase_ = now;
      framesAnchor_ = consumed_.load();
      recordingMs_ = 0;
      recording_ = true;
      recordingSession_ = ++sessions;
    }
    session = recordingSession_;
    recordingThread_ = std::this_thread::get_id();
  }
  // From now on each wait of this thread renders that much music.
  std::weak_ptr<PerformanceCore> self = weak_from_this();
  SetThreadWaitDriver([self, session](DWORD ms) {
    const std::shared_ptr<PerformanceCore> core = self.lock();
    if (core && core->AdvanceRecordingClock(ms, session)) return;
    // The recording is over: this thread waits in real time again.
    SetThreadWaitDriver({});
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  });
}

void PerformanceCore::EndRecording() {
  bool onRecordingThread = false;
  {
    std::lock_guard lock(timeLock_);
    if (!recording_) return;
    clockBase_ += (consumed_.load() - framesAnchor_) * 10000000 / kSampleRate;
    clockAnchor_ = std::chrono::steady_clock::now();
    recording_ = false;
    recordingSession_ = 0;
    onRecordingThread = recordingThread_ == std::this_thread::get_id();
  }
  if (onRecordingThread) SetThreadWaitDriver({});
}

bool PerformanceCore::AdvanceRecordingClock(DWORD ms, std::uint64_t session) {
  std::int64_t target = 0;
  {
    std::lock_guard lock(timeLock_);
    if (!recording_ || session != recordingSession_) return false;
    recordingMs_ += ms;
    target = framesAnchor_ + static_cast<std::int64_t>(recordingMs_ * kSampleRate / 1000);
  }
  std::lock_guard lock(renderLock_);
  if (shutDown_.load() || !synth_) return false;
  const auto chunk = static_cast<std::int64_t>(scratch_.size() / 2);
  for (std::int64_t left = target - consumed_.load(); left > 0; left = target - consumed_.load())
    RenderLocked(scratch_.data(), static_cast<std::size_t>(std::min(left, chunk)));
  return true;
}

void PerformanceCore::StartRealTimeOutput() {
  std::lock_guard lock(outputLock_);
  if (realTime_) return;
  realTime_ = RealTimeOutput::Start([this](std::int16_t* samples, std::size_t frames) { Render(samples, frames); },
                                    kSampleRate);
}

void PerformanceCore::StopRealTimeOutput() {
  std::unique_ptr<RealTimeOutput> output;
  {
    std::lock_guard lock(outputLock_);
    output.swap(realTime_);
  }
  output.reset();
}

}  // namespace platform
