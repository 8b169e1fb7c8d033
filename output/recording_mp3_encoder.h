// Encoding the song being recorded into MP3 while its music is rendered: a thread
// of its own takes the recording's sound as the capture effect records it, so the
// MP3 is ready soon after the music has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "output/mp3_encoder.h"
#include "ovdmofilter/captured_audio.h"
#include "platform/com/unknown.h"

class RecordingMp3Encoder {
 public:
  // Starts encoding, at outRate (Hz), the recording that the engine's capture
  // effect is making now. Null when the effect cannot be read while it records,
  // its format is not 16-bit stereo PCM, or no thread can be started: the WAV
  // file saved after the music is then encoded as it always could be.
  static std::unique_ptr<RecordingMp3Encoder> Start(int outRate);
  // Stops the encoder if it still runs; what it made is dropped.
  ~RecordingMp3Encoder();
  RecordingMp3Encoder(const RecordingMp3Encoder&) = delete;
  RecordingMp3Encoder& operator=(const RecordingMp3Encoder&) = delete;

  // The music has stopped: the encoder takes the rest of the recording, flushes and
  // ends. Returns at once.
  void RecordingEnded();
  // Waits until the encoder has ended; what it made (complete only when it took the
  // whole recording and flushed without an error).
  const EncodedMp3& Result();

 private:
  RecordingMp3Encoder(platform::ComPtr<ICapturedAudioStream> stream, std::uint64_t id, int inRate, int outRate);
  void Run();
  void Encode();

  platform::ComPtr<ICapturedAudioStream> stream_;
  std::uint64_t id_;
  std::atomic<bool> stopped_{false};
  EncodedMp3 result_;  // the encoder thread's until it has been joined
  std::thread thread_;
};
