#include "output/mp3_transcoder.h"

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
#include "output/mp3_encoder.h"
#include "output/pcm_digest.h"
#include "platform/core/format.h"

namespace {

// The WAV header CWaveFile writes for PCM: RIFF/WAVE, a 16-byte "fmt ", a "fact"
// chunk, then "data" whose contents start at byte 56.
constexpr long kHeaderSize = 56;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

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
  HRESULT hr = S_OK;
  std::string failure;
  const std::unique_ptr<Mp3Encoder> encoder = Mp3Encoder::Create(inRate, outRate, hr, failure);
  if (!encoder) return Fail(hr, "%s", failure.c_str());

  short pcm[Mp3Encoder::kSamplesPerCall];
  for (;;) {
    const std::size_t count = std::fread(pcm, sizeof(short), Mp3Encoder::kSamplesPerCall, wav);
    if (count == 0) break;
    const int produced = encoder->Encode(pcm, count);
    if (produced < 0) return Fail(E_FAIL, "lame_encode_buffer_interleaved - FAILED (%d)", produced);
    if (!Append(mp3, encoder->Bytes(), produced)) return Fail(FromErrno(errno), "fwrite \"%s\" - FAILED", mp3Name);
  }
  // A read error must not pass for the end of the recording.
  if (std::ferror(wav)) return Fail(E_FAIL, "fread \"%s\" - FAILED", wavName);

  const int flushed = encoder->Flush();
  if (flushed < 0) return Fail(E_FAIL, "lame_encode_flush - FAILED (%d)", flushed);
  if (!Append(mp3, encoder->Bytes(), flushed)) return Fail(FromErrno(errno), "fwrite \"%s\" - FAILED", mp3Name);
  return S_OK;
}

// True when the WAV's sound, read from where the file stands, is exactly what
// encoded was made from at these rates. The file is left where it stood.
bool SameSound(std::FILE* wav, const EncodedMp3& encoded, int inRate, int outRate) {
  if (!encoded.complete || encoded.inRate != inRate || encoded.outRate != outRate) return false;
  const long start = std::ftell(wav);
  PcmDigest digest;
  std::vector<unsigned char> piece(1 << 16);
  for (std::size_t n; (n = std::fread(piece.data(), 1, piece.size(), wav)) > 0;) digest.Add(piece.data(), n);
  const bool same = !std::ferror(wav) && digest.Value() == encoded.digest;
  std::clearerr(wav);
  return std::fseek(wav, start, SEEK_SET) == 0 && same;
}

}  // namespace

HRESULT wavtomp3(const char* wavName, const char* mp3Name, int inRate, int outRate, const EncodedMp3* encoded) {
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

  // An encoding made while the song was recorded stands for this one when it was
  // made from the same sound: its bytes are the ones this encoding would give.
  HRESULT hr = S_OK;
  if (encoded != nullptr && SameSound(wav.get(), *encoded, inRate, outRate)) {
    if (!Append(mp3.get(), encoded->mp3.data(), static_cast<int>(encoded->mp3.size())))
      hr = Fail(FromErrno(errno), "fwrite \"%s\" - FAILED", mp3Name);
  } else {
    hr = Encode(wav.get(), mp3.get(), wavName, mp3Name, inRate, outRate);
  }
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
