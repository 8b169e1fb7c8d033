// Encoding the song being recorded into MP3 while its music is rendered: the
// synthesiser's helper thread encodes the recording as the capture effect records
// it, in the time the synthesiser's halves leave it (and first, when the encoding
// has fallen behind), so the MP3 is ready soon after the music has ended.
#pragma once

#include <memory>

#include "output/mp3_encoder.h"
#include "platform/com/unknown.h"
#include "platform/dmusic/dmusic.h"

class RecordingMp3Encoder {
 public:
  // Starts encoding, at outRate (Hz), the recording that the engine's capture
  // effect is making now. Null when the effect cannot be read while it records,
  // its format is not 16-bit stereo PCM, the encoder refuses the rates, or the
  // synthesiser has no helper thread to encode on (one processor): the WAV file
  // saved after the music is then encoded as it always could be.
  static std::unique_ptr<RecordingMp3Encoder> Start(int outRate);
  // Stops the encoding if it still runs; what it made is dropped.
  ~RecordingMp3Encoder();
  RecordingMp3Encoder(const RecordingMp3Encoder&) = delete;
  RecordingMp3Encoder& operator=(const RecordingMp3Encoder&) = delete;

  // The music has stopped: nothing more is recorded. Returns at once.
  void RecordingEnded();
  // Encodes what the helper has not yet taken, once the recording has ended, and
  // flushes; what was made (complete only when the whole recording was taken and
  // flushed without an error). The helper encodes nothing more afterwards.
  const EncodedMp3& Result();

 private:
  struct Work;

  RecordingMp3Encoder(std::shared_ptr<Work> work, platform::ComPtr<IDirectMusicPerformance8> performance);

  std::shared_ptr<Work> work_;  // shared with the helper thread's job
  platform::ComPtr<IDirectMusicPerformance8> performance_;
};
