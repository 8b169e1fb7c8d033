#include "output/mp3_transcoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "platform/core/format.h"

namespace {

// The WAV header CWaveFile writes for PCM: RIFF/WAVE, a 16-byte "fmt ", a "fact"
// chunk, then "data" whose contents start at byte 56.
constexpr long kHeaderSize = 56;
// 1152 stereo frames (2304 16-bit samples) per read.
constexpr std::size_t kSamplesPerRead = 2304;
constexpr int kMp3BufferSize = 10000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct LameCloser {
  void operator()(lame_global_flags* lame) const { lame_close(lame); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameCloser>;

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

unsigned Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }

// A header of 16-bit stereo PCM in the writer's layout.
bool IsStereo16BitPcm(const unsigned char* h) {
  return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0 && std::memcmp(h + 12, "fmt ", 4) == 0 &&
         Le32(h + 16) == 16 && Le16(h + 20) == 1 && Le16(h + 22) == 2 && Le16(h + 34) == 16 &&
         std::memcmp(h + 36, "fact", 4) == 0 && std::memcmp(h + 48, "data", 4) == 0;
}

HRESULT FromErrno(int error) {
  switch (error) {
    case ENOENT:
      return HRESULT_FILE_NOT_FOUND;
    case ENOTDIR:
      return HRESULT_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return E_ACCESSDENIED;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return HRESULT_DISK_FULL;
    case ENOMEM:
      return E_OUTOFMEMORY;
    default:
      return E_FAIL;
  }
}

// Logs and echoes one failure line (at the level of "    ok") and returns hr.
HRESULT Fail(HRESULT hr, const char* format, ...) __attribute__((format(printf, 2, 3)));
HRESULT Fail(HRESULT hr, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::string text = platform::FormatTextV(format, args);
  va_end(args);
  g_DebugLog.Print("    %s", text.c_str());
  DebugWindowPrint(text.c_str());
  return hr;
}

// Writes all bytes to the MP3 file; false on a short write.
bool Append(std::FILE* file, const unsigned char* bytes, int count) {
  return count <= 0 || std::fwrite(bytes, 1, static_cast<std::size_t>(count), file) == static_cast<std::size_t>(count);
}

// The encoding itself, from the open WAV positioned at its data into the open MP3.
HRESULT Encode(std::FILE* wav, std::FILE* mp3, const char* wavName, const char* mp3Name, int inRate, int outRate) {
  LamePtr lame(lame_init());
  if (!lame) return Fail(E_OUTOFMEMORY, "lame_init - FAILED");
  lame_set_in_samplerate(lame.get(), inRate);
  lame_set_out_samplerate(lame.get(), outRate);
  lame_set_num_channels(lame.get(), 1);
  // No Xing/Info frame: it would stand first in the stream with counts that are
  // only known at the end, and the stream goes to the file as it is produced.
  lame_set_bWriteVbrTag(lame.get(), 0);
  lame_set_num_channels(lame.get(), 2);
  // No ID3v2 tag in front of the stream: the file holds the MPEG frames only.
  lame_set_write_id3tag_automatic(lame.get(), 0);
  // Bit rate, mode and quality keep the library's defaults.
  // The library replaces a rate it does not support with one of its own choice;
  // an MP3 at another rate than the one chosen is a failure too.
  const int result = lame_init_params(lame.get());
  if (result < 0 || lame_get_out_samplerate(lame.get()) != outRate)
    return Fail(E_INVALIDARG, "lame_init_params (%d Hz to %d Hz) - FAILED (%d)", inRate, outRate, result);

  // 10,000 bytes hold any encoder call's output at these settings unless the
  // output rate is much higher than the input's; then the buffer takes LAME's
  // documented worst case, 1.25 bytes per (resampled) sample plus 7200.
  const long long resampled = (static_cast<long long>(kSamplesPerRead / 2) * outRate + inRate - 1) / inRate;
  const long long worstCase = std::max<long long>(kSamplesPerRead / 2, resampled) * 5 / 4 + 7200;
  std::vector<unsigned char> mp3Buffer(static_cast<std::size_t>(std::max<long long>(kMp3BufferSize, worstCase)));
  const int mp3Size = static_cast<int>(mp3Buffer.size());

  short pcm[kSamplesPerRead];
  for (;;) {
    const std::size_t count = std::fread(pcm, sizeof(short), kSamplesPerRead, wav);
    if (count == 0) break;
    // Interleaved left, right; an odd last sample is dropped.
    const int produced =
        lame_encode_buffer_interleaved(lame.get(), pcm, static_cast<int>(count / 2), mp3Buffer.data(), mp3Size);
    if (produced < 0) return Fail(E_FAIL, "lame_encode_buffer_interleaved - FAILED (%d)", produced);
    if (!Append(mp3, mp3Buffer.data(), produced)) return Fail(FromErrno(errno), "fwrite \"%s\" - FAILED", mp3Name);
  }
  // A read error must not pass for the end of the recording.
  if (std::ferror(wav)) return Fail(E_FAIL, "fread \"%s\" - FAILED", wavName);

  const int flushed = lame_encode_flush(lame.get(), mp3Buffer.data(), mp3Size);
  if (flushed < 0) return Fail(E_FAIL, "lame_encode_flush - FAILED (%d)", flushed);
  if (!Append(mp3, mp3Buffer.data(), flushed)) return Fail(FromErrno(errno), "fwrite \"%s\" - FAILED", mp3Name);
  return S_OK;
}

}  // namespace

HRESULT wavtomp3(const char* wavName, const char* mp3Name, int inRate, int outRate) {
  g_DebugLog.Print("wavtomp3");
  if (wavName == nullptr || mp3Name == nullptr) return Fail(E_INVALIDARG, "wavtomp3 without a file name - FAILED");
  if (inRate <= 0 || outRate <= 0) return Fail(E_INVALIDARG, "wavtomp3 %d Hz to %d Hz - FAILED", inRate, outRate);

  FilePtr wav(std::fopen(wavName, "rb"));
  if (!wav) return Fail(FromErrno(errno), "fopen \"%s\" - FAILED", wavName);
  unsigned char header[kHeaderSize];
  if (std::fread(header, 1, sizeof header, wav.get()) != sizeof header || !IsStereo16BitPcm(header))
    return Fail(E_INVALIDARG, "not a 16-bit stereo PCM WAV file: \"%s\" - FAILED", wavName);
  if (std::fseek(wav.get(), kHeaderSize, SEEK_SET) != 0) return Fail(E_FAIL, "fseek \"%s\" - FAILED", wavName);

  FilePtr mp3(std::fopen(mp3Name, "wb+"));
  if (!mp3) return Fail(FromErrno(errno), "fopen \"%s\" - FAILED", mp3Name);

  struct stat info {};
  const bool regularFile = ::fstat(fileno(mp3.get()), &info) == 0 && S_ISREG(info.st_mode);

  HRESULT hr = Encode(wav.get(), mp3.get(), wavName, mp3Name, inRate, outRate);
  // The last bytes reach the disk when the file is closed.
  if (std::fclose(mp3.release()) != 0 && SUCCEEDED(hr)) hr = Fail(FromErrno(errno), "fclose \"%s\" - FAILED", mp3Name);
  if (FAILED(hr)) {
    // An incomplete MP3 must not look like a converted file (a device stays).
    if (regularFile) std::remove(mp3Name);
    return hr;
  }
  g_DebugLog.Print("    ok");
  return S_OK;
}

const char* Mp3EncoderVersion() { return get_lame_version(); }
