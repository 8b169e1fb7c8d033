// What a performance does between InitAudio and CloseDown: it turns playing
// segments into performance messages, drives them through the tool graph to its
// output tool, plays them on the synthesiser at their sample, renders the audio
// through the audio path's buffer, posts the segment notifications and keeps the
// clock. Audio paths share it with the performance object that made it.
//
// Time. Everything is placed on one sample clock, the frames the synthesiser has
// computed. An event's frame comes from its segment's tempo map and the master
// tempo, computed from the segment's start for every event (64-bit, exact
// integer tempo positions), so no error accumulates. FluidSynth applies events at
// the edges of its 64-frame blocks: an event sounds at the block edge nearest to
// its frame (at most 32 frames, 0.7 ms, off).
//
// Clocks. Real time: the performance plays to the sound device (or silently at
// the system clock's pace) and GetTime follows the system clock. Recording: when
// the path's buffer carries a recording sink, the thread that started the
// playback renders exactly ms of audio for each Sleep(ms) it makes, and GetTime
// follows the frames so rendered.
//
// Locks. renderLock_ is held while audio is computed and while messages go to the
// tools (a tool runs on the rendering thread with it held; it may call
// SendPMsg, AllocPMsg, FreePMsg, GetTime and the time conversions, which take
// only the small locks). queueLock_ guards the delivery queue, notifyLock_ the
// notifications, timeLock_ the clock and the performance's time line.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dmusic/audio_path.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/pmsg_pool.h"
#include "platform/dmusic/segment.h"
#include "platform/synth/synthesizer.h"
#include "platform/midi_file/tempo_map.h"

class CToolGraph;

namespace platform {

class COutputTool;
class RealTimeOutput;

class PerformanceCore : public std::enable_shared_from_this<PerformanceCore> {
 public:
  static constexpr int kSampleRate = Synthesizer::kSampleRate;
  // When a segment's music has ended, the segment's end is posted once every
  // note has been released and the output, reverb and chorus included, has
  // stayed within kQuietPeak of zero (16-bit samples: about -84 dBFS, near the
  // noise floor) for kQuietFrames; so a recording holds the whole release and
  // the reverb's decay. Sound that never dies away (a note the pedal holds on an
  // instrument that does not decay) is ended kEndCapFrames after the music, long
  // enough for real releases, its last kFadeFrames fading to silence.
  static constexpr int kQuietPeak = 2;
  static constexpr std::int64_t kQuietFrames = kSampleRate / 10;
  static constexpr std::int64_t kEndCapFrames = 10 * kSampleRate;
  static constexpr std::int64_t kFadeFrames = kSampleRate / 100;

  // owner: the performance interface handed to the tools (not referenced: the
  // performance shuts the core down before it goes). clockStart: the reference
  // time at which the core's clock starts.
  PerformanceCore(IDirectMusicPerformance* owner, std::shared_ptr<Synthesizer> synth, std::shared_ptr<PMsgPool> pool,
                  REFERENCE_TIME clockStart);
  ~PerformanceCore();
  PerformanceCore(const PerformanceCore&) = delete;
  PerformanceCore& operator=(const PerformanceCore&) = delete;

  // Makes the tool graph with the output tool; call once, after construction.
  HRESULT Init();
  // CloseDown: stops everything, switches the output off, empties the graph and
  // gives the synthesiser back. The core does nothing afterwards.
  void Shutdown();
  bool IsShutDown() const { return shutDown_.load(); }

  IDirectMusicPerformance* Owner() const { return owner_; }
  // The tool graph, with a reference for the caller (null once shut down).
  HRESULT GetGraph(IDirectMusicGraph** graph);

  void SetMasterTempo(float tempo) { masterTempo_.store(tempo); }
  void SetMasterVolume(LONG hundredthsDb);

  // ---- Playing ----
  // Starts segment on path at once. A controlling segment's tempo map becomes
  // the performance's time line (music time 0 at its start).
  HRESULT Play(CSegment* segment, CAudioPath* path, bool control, IDirectMusicSegmentState** state);
  // Stops every playing segment (segment null) or those of one segment, at once.
  void Stop(IDirectMusicSegment* segment);

  // ---- Messages ----
  // Queues a stamped message for its tool (an unstamped one is stamped first).
  HRESULT Send(DMUS_PMSG* msg);
  // The output tool plays a message that has reached it (rendering thread).
  void PlayMessage(const DMUS_PMSG* msg);

  // ---- Notifications ----
  HRESULT AddNotificationType(REFGUID type);
  HRESULT RemoveNotificationType(REFGUID type);
  // S_FALSE (and null) when none is waiting.
  HRESULT GetNotification(DMUS_NOTIFICATION_PMSG** msg);

  // ---- Time ----
  REFERENCE_TIME Now() const;
  MUSIC_TIME MusicNow() const;
  REFERENCE_TIME MusicToReference(MUSIC_TIME mt) const;
  MUSIC_TIME ReferenceToMusic(REFERENCE_TIME rt) const;

  // ---- Rendering ----
  // Renders frames of interleaved 16-bit stereo through the output path's
  // volume and effects (the sound device's pull, the silent pacer's, the
  // recording clock's).
  void Render(std::int16_t* out, std::size_t frames);
  // The recording clock: renders ms more of audio for the recording session
  // that installed the caller's wait driver; false when that session is over.
  bool AdvanceRecordingClock(DWORD ms, std::uint64_t session);
  // Ends the output ms from now (on the clock of the frames handed out), its
  // last kFadeFrames fading to silence, and keeps it silent until a segment
  // plays again: for a recording that must stop while sound remains.
  void FadeOutIn(DWORD ms);
  // A job for the spare time of the synthesiser's helper thread (see
  // Synthesizer::SetSpareWork); false when it is not taken.
  bool SetSpareWork(PieceSharing::SpareWork work, const void* owner);
  // Samples clamped to 16 bits since InitAudio.
  std::uint64_t ClippedSamples() const { return clipped_.load(); }

 private:
  // The position of one playing segment on the sample clock.
  struct TimeLine {
    std::shared_ptr<const TempoMap> tempo = std::make_shared<const TempoMap>();
    std::int64_t startFrame = 0;
    REFERENCE_TIME startTime = 0;
    double framesPerUnit = kSampleRate / TempoMap::kUnitsPerSecond;
    double timePerUnit = 1e7 / TempoMap::kUnitsPerSecond;

    void SetMasterTempo(float master);
    std::int64_t FrameOf(MUSIC_TIME mt) const;
    REFERENCE_TIME TimeOf(MUSIC_TIME mt) const;
    MUSIC_TIME MusicAtTime(REFERENCE_TIME rt) const;
    MUSIC_TIME MusicAtFrame(std::int64_t frame) const;
  };

  struct Playback {
    ComPtr<CSegment> segment;
    ComPtr<CSegmentState> state;
    TimeLine line;
    std::size_t cursor = 0;      // next event to send
    std::int64_t nextFrame = 0;  // its frame (valid while cursor has one)
    std::int64_t endFrame = 0;   // the frame of the segment's length
    MUSIC_TIME length = 0;
    DWORD repeatsLeft = 0;
    bool control = false;
    BYTE bankMsb[16] = {};
    BYTE bankLsb[16] = {};
  };

  struct Delivery {
    std::int64_t frame;
    std::uint64_t order;
    DMUS_PMSG* msg;
  };
  struct NoteOff {
    std::int64_t frame;
    std::uint64_t order;
    BYTE channel;
    BYTE key;
  };
  template <typename T>
  struct Later {
    bool operator()(const T& a, const T& b) const { return a.frame != b.frame ? a.frame > b.frame : a.order > b.order; }
  };

  // Rendering (renderLock_ held).
  void RenderLocked(std::int16_t* out, std::size_t frames);
  // Hands the synthesiser every item due in the stretch of blocks from chunkStart.
  void DispatchDue(std::int64_t chunkStart, std::int64_t blocks);
  void SendNextEvent(Playback& playback);
  void AdvanceCursor(Playback& playback);
  void CheckSegmentEnds();
  void Deliver(DMUS_PMSG* msg);
  void FlushQueues();
  void StopPlaybacksLocked(IDirectMusicSegment* segment);
  float OutputGain() const;
  // Fades the stretch of frames from first toward the output's end, if near.
  void FadeTowardTheEnd(float* interleaved, std::int64_t first, std::int64_t frames) const;

  // Messages.
  void Enqueue(DMUS_PMSG* msg);
  std::int64_t FrameOfMessage(const DMUS_PMSG& msg) const;
  void PostNotification(DWORD option, const Playback& playback, REFERENCE_TIME time);

  // Clocks.
  void BeginRecording();
  void EndRecording();
  void StartRealTimeOutput();
  void StopRealTimeOutput();

  IDirectMusicPerformance* owner_;
  std::shared_ptr<PMsgPool> pool_;
  std::atomic<bool> shutDown_{false};
  std::atomic<float> masterTempo_{1.0f};
  std::atomic<float> masterGain_{1.0f};

  std::mutex renderLock_;
  std::shared_ptr<Synthesizer> synth_;
  ComPtr<CToolGraph> graph_;
  ComPtr<COutputTool> outputTool_;
  ComPtr<CAudioPath> outputPath_;
  std::vector<Playback> playbacks_;
  std::vector<NoteOff> noteOffs_;  // a heap, earliest first
  std::atomic<std::int64_t> synthFrames_{0};
  // The block edge at which the events being dispatched now take effect: the
  // rendered frames, or further into the stretch about to render.
  std::atomic<std::int64_t> dispatchFrame_{0};
  std::vector<float> floatBlock_;
  std::int16_t leftover_[Synthesizer::kBlockFrames * 2] = {};
  std::size_t leftoverStart_ = 0;
  std::size_t leftoverFrames_ = 0;
  std::vector<std::int16_t> scratch_;  // the recording clock's block
  std::atomic<std::uint64_t> clipped_{0};
  std::atomic<std::int64_t> consumed_{0};
  std::uint64_t order_ = 0;   // noteOffs_ ordering
  bool watchingEnd_ = false;  // a segment has ended and waits for its sound to die away
  // The frame after the last one louder than kQuietPeak.
  std::int64_t loudUntil_ = 0;
  // Where the output falls silent (after its fade): at the cap of a segment still
  // sounding, and where FadeOutIn or a cap reached put it for good.
  static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
  std::int64_t capEnd_ = kNever;
  std::int64_t silentFrom_ = kNever;
  bool channelsShared_ = false;  // the synthesiser's halves have their channels

  std::mutex queueLock_;
  std::vector<Delivery> deliveries_;  // a heap, earliest first
  std::uint64_t deliveryOrder_ = 0;

  std::mutex notifyLock_;
  std::vector<GUID> notificationTypes_;
  std::deque<DMUS_NOTIFICATION_PMSG*> notifications_;

  mutable std::mutex timeLock_;
  TimeLine line_;                 // the performance's time line
  bool recording_ = false;        // the recording clock runs
  REFERENCE_TIME clockBase_ = 0;  // reference time at the anchor
  std::chrono::steady_clock::time_point clockAnchor_;
  std::int64_t framesAnchor_ = 0;  // rendered frames at the recording anchor
  std::uint64_t recordingMs_ = 0;  // ms advanced since the recording anchor
  std::uint64_t recordingSession_ = 0;
  std::thread::id recordingThread_;

  std::mutex outputLock_;
  std::unique_ptr<RealTimeOutput> realTime_;
};

}  // namespace platform
