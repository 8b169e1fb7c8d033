#include "platform/mmio/mmio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr std::int64_t kMaxOffset = std::numeric_limits<LONG>::max();

// Owns one POSIX file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int Get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports whether the close succeeded.
  bool Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_ = -1;
};

// Writes all bytes at offset; false on any failure, including a short write that
// cannot be completed (a full disk, a file size limit).
bool WriteAllAt(int fd, const char* data, std::size_t size, std::int64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

// Reads up to size bytes at offset; the count read (short only at the end of the
// file), or -1 on an error.
std::int64_t ReadAt(int fd, char* data, std::size_t size, std::int64_t offset) {
  std::int64_t total = 0;
  while (size > 0) {
    const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
    total += n;
  }
  return total;
}

MMRESULT OpenError(int error, bool creating) {
  switch (error) {
    case ENOENT:
      return creating ? MMIOERR_PATHNOTFOUND : MMIOERR_FILENOTFOUND;
    case ENOTDIR:
      return MMIOERR_PATHNOTFOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return MMIOERR_ACCESSDENIED;
    case EMFILE:
    case ENFILE:
      return MMIOERR_TOOMANYOPENFILES;
    case ENOMEM:
      return MMIOERR_OUTOFMEMORY;
    default:
      return MMIOERR_CANNOTOPEN;
  }
}

DWORD GetLE32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}

void PutLE32(BYTE* p, DWORD value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<BYTE>(value >> (8 * i));
}

}  // namespace

// One open file: its descriptor (none for a memory file), its I/O buffer and the
// buffer's state. The position is lBufOffset + (pchNext - pchBuffer); the buffer
// holds the file's bytes from lBufOffset to lBufOffset + (pchEndRead - pchBuffer),
// and MMIO_DIRTY in info.dwFlags says some of them are not on disk yet.
struct HMMIO__ {
  UniqueFd fd;
  bool memory = false;
  DWORD access = MMIO_READ;
  std::vector<char> ownBuffer;
  MMIOINFO info{};

  bool Buffered() const { return info.cchBuffer > 0; }
  bool Dirty() const { return (info.dwFlags & MMIO_DIRTY) != 0; }
  std::int64_t Position() const { return std::int64_t{info.lBufOffset} + (info.pchNext - info.pchBuffer); }
  std::int64_t ValidBytes() const { return info.pchEndRead - info.pchBuffer; }

  // Writes the buffer's unwritten bytes to disk.
  MMRESULT Flush() {
    if (memory || !Buffered() || !Dirty()) return MMSYSERR_NOERROR;
    const char* end = std::max(info.pchEndRead, info.pchNext);
    const std::size_t size = static_cast<std::size_t>(end - info.pchBuffer);
    if (!WriteAllAt(fd.Get(), info.pchBuffer, size, info.lBufOffset)) return MMIOERR_CANNOTWRITE;
    info.dwFlags &= ~MMIO_DIRTY;
    info.lDiskOffset = static_cast<LONG>(info.lBufOffset + static_cast<std::int64_t>(size));
    return MMSYSERR_NOERROR;
  }

  // Writes the buffer out and lets it start, empty, at offset; fill reads it full
  // from the file.
  MMRESULT MoveBuffer(std::int64_t offset, bool fill) {
    if (offset < 0 || offset > kMaxOffset) return MMIOERR_CANNOTSEEK;
    if (const MMRESULT result = Flush(); result != MMSYSERR_NOERROR) return result;
    info.lBufOffset = static_cast<LONG>(offset);
    info.pchNext = info.pchBuffer;
    info.pchEndRead = info.pchBuffer;
    if (fill && access != MMIO_WRITE) {
      const std::int64_t n = ReadAt(fd.Get(), info.pchBuffer, static_cast<std::size_t>(info.cchBuffer), offset);
      if (n < 0) return MMIOERR_CANNOTREAD;
      info.pchEndRead = info.pchBuffer + n;
      info.lDiskOffset = static_cast<LONG>(offset + n);
    }
    return MMSYSERR_NOERROR;
  }

  // The file's size, counting bytes that are only in the buffer so far.
  std::int64_t Size() const {
    if (memory) return info.cchBuffer;
    std::int64_t size = 0;
    struct stat st {};
    if (::fstat(fd.Get(), &st) == 0) size = st.st_size;
    if (Buffered()) size = std::max(size, std::int64_t{info.lBufOffset} + ValidBytes());
    return size;
  }

  // Takes the caller's buffer position and dirty flag from a handed-back record.
  MMRESULT TakeBack(const MMIOINFO& caller) {
    if (caller.pchNext < info.pchBuffer || caller.pchNext > info.pchEndWrite) return MMSYSERR_INVALPARAM;
    info.pchNext = caller.pchNext;
    if ((caller.dwFlags & MMIO_DIRTY) != 0 && !memory) info.dwFlags |= MMIO_DIRTY;
    if (info.pchNext > info.pchEndRead) info.pchEndRead = info.pchNext;
    return MMSYSERR_NOERROR;
  }
};

HMMIO mmioOpenA(const char* fileName, MMIOINFO* info, DWORD flags) {
  auto fail = [info](MMRESULT error) -> HMMIO {
    if (info != nullptr) info->wErrorRet = error;
    return nullptr;
  };
  const DWORD access = flags & 0x3;
  if (access > MMIO_READWRITE) return fail(MMSYSERR_INVALPARAM);
  if (info != nullptr && info->pIOProc != nullptr) return fail(MMSYSERR_INVALPARAM);
  const bool memory = info != nullptr && info->fccIOProc == FOURCC_MEM;
  if (info != nullptr && info->fccIOProc != 0 && info->fccIOProc != FOURCC_DOS && !memory)
    return fail(MMSYSERR_INVALPARAM);

  std::unique_ptr<HMMIO__> file(new (std::nothrow) HMMIO__);
  if (!file) return fail(MMIOERR_OUTOFMEMORY);
  file->access = access;
  file->memory = memory;

  if (memory) {
    // The caller's block is the whole file and its buffer; it cannot grow.
    if (info->pchBuffer == nullptr || info->cchBuffer <= 0) return fail(MMSYSERR_INVALPARAM);
    file->info.cchBuffer = info->cchBuffer;
    file->info.pchBuffer = info->pchBuffer;
    file->info.pchEndRead = info->pchBuffer + info->cchBuffer;
  } else {
    if (fileName == nullptr) return fail(MMSYSERR_INVALPARAM);
    if (info != nullptr && info->pchBuffer != nullptr) return fail(MMSYSERR_INVALPARAM);
    int openFlags = O_CLOEXEC | (access == MMIO_READ ? O_RDONLY : access == MMIO_WRITE ? O_WRONLY : O_RDWR);
    const bool creating = (flags & MMIO_CREATE) != 0;
    if (creating) openFlags |= O_CREAT | O_TRUNC;
    int fd;
    do {
      fd = ::open(fileName, openFlags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return fail(OpenError(errno, creating));
    file->fd.Reset(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail(MMIOERR_CANNOTOPEN);
    if (S_ISDIR(st.st_mode)) return fail(MMIOERR_ACCESSDENIED);

    if ((flags & MMIO_ALLOCBUF) != 0) {
      const LONG size = info != nullptr && info->cchBuffer > 0 ? info->cchBuffer : MMIO_DEFAULTBUFFER;
      try {
        file->ownBuffer.resize(static_cast<std::size_t>(size));
      } catch (const std::bad_alloc&) {
        return fail(MMIOERR_OUTOFMEMORY);
      }
      file->info.cchBuffer = size;
      file->info.pchBuffer = file->ownBuffer.data();
      file->info.pchEndRead = file->info.pchBuffer;
    }
  }
  file->info.dwFlags = flags & ~MMIO_DIRTY;
  file->info.fccIOProc = memory ? FOURCC_MEM : FOURCC_DOS;
  file->info.pchNext = file->info.pchBuffer;
  file->info.pchEndWrite = file->info.pchBuffer + file->info.cchBuffer;
  file->info.hmmio = file.get();
  if (info != nullptr) info->wErrorRet = MMSYSERR_NOERROR;
  return file.release();
}

MMRESULT mmioClose(HMMIO hmmio, UINT) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  std::unique_ptr<HMMIO__> file(hmmio);
  const MMRESULT flushed = file->Flush();
  const bool closed = file->fd.Close();
  if (flushed != MMSYSERR_NOERROR) return flushed;
  return closed ? MMSYSERR_NOERROR : MMIOERR_CANNOTCLOSE;
}

LONG mmioRead(HMMIO hmmio, char* buffer, LONG size) {
  if (hmmio == nullptr || size < 0 || (buffer == nullptr && size > 0)) return -1;
  MMIOINFO& info = hmmio->info;
  if (!hmmio->Buffered()) {
    const std::int64_t n = ReadAt(hmmio->fd.Get(), buffer, static_cast<std::size_t>(size), info.lBufOffset);
    if (n < 0) return -1;
    info.lBufOffset = static_cast<LONG>(info.lBufOffset + n);
    info.lDiskOffset = info.lBufOffset;
    return static_cast<LONG>(n);
  }
  LONG total = 0;
  while (total < size) {
    const LONG available = static_cast<LONG>(info.pchEndRead - info.pchNext);
    if (available > 0) {
      const LONG n = std::min(available, size - total);
      std::memcpy(buffer + total, info.pchNext, static_cast<std::size_t>(n));
      info.pchNext += n;
      total += n;
      continue;
    }
    if (hmmio->memory) break;
    if (hmmio->MoveBuffer(hmmio->Position(), true) != MMSYSERR_NOERROR) return -1;
    if (info.pchEndRead == info.pchBuffer) break;  // end of the file
  }
  return total;
}

LONG mmioWrite(HMMIO hmmio, const char* buffer, LONG size) {
  if (hmmio == nullptr || size < 0 || (buffer == nullptr && size > 0)) return -1;
  if (hmmio->access == MMIO_READ) return -1;
  MMIOINFO& info = hmmio->info;
  if (!hmmio->Buffered()) {
    if (info.lBufOffset + std::int64_t{size} > kMaxOffset) return -1;
    if (!WriteAllAt(hmmio->fd.Get(), buffer, static_cast<std::size_t>(size), info.lBufOffset)) return -1;
    info.lBufOffset += size;
    info.lDiskOffset = info.lBufOffset;
    return size;
  }
  LONG total = 0;
  while (total < size) {
    const LONG room = static_cast<LONG>(info.pchEndWrite - info.pchNext);
    if (room > 0) {
      const LONG n = std::min(room, size - total);
      std::memcpy(info.pchNext, buffer + total, static_cast<std::size_t>(n));
      info.pchNext += n;
      if (info.pchNext > info.pchEndRead) info.pchEndRead = info.pchNext;
      if (!hmmio->memory) info.dwFlags |= MMIO_DIRTY;
      total += n;
      continue;
    }
    if (hmmio->memory) return -1;  // a memory file cannot grow
    if (hmmio->MoveBuffer(hmmio->Position(), false) != MMSYSERR_NOERROR) return -1;
  }
  return total;
}

LONG mmioSeek(HMMIO hmmio, LONG offset, int origin) {
  if (hmmio == nullptr) return -1;
  std::int64_t target;
  switch (origin) {
    case SEEK_SET:
      target = offset;
      break;
    case SEEK_CUR:
      target = hmmio->Position() + offset;
      break;
    case SEEK_END:
      target = hmmio->Size() + offset;
      break;
    default:
      return -1;
  }
  if (target < 0 || target > kMaxOffset) return -1;
  MMIOINFO& info = hmmio->info;
  if (hmmio->memory) {
    if (target > info.cchBuffer) return -1;
    info.pchNext = info.pchBuffer + target;
    return static_cast<LONG>(target);
  }
  if (!hmmio->Buffered()) {
    info.lBufOffset = static_cast<LONG>(target);
    return info.lBufOffset;
  }
  // Within the bytes the buffer holds only the position moves.
  if (target >= info.lBufOffset && target <= info.lBufOffset + hmmio->ValidBytes()) {
    info.pchNext = info.pchBuffer + (target - info.lBufOffset);
    return static_cast<LONG>(target);
  }
  if (hmmio->MoveBuffer(target, false) != MMSYSERR_NOERROR) return -1;
  return static_cast<LONG>(target);
}

MMRESULT mmioFlush(HMMIO hmmio, UINT flags) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  if ((flags & MMIO_EMPTYBUF) != 0 && hmmio->Buffered() && !hmmio->memory)
    return hmmio->MoveBuffer(hmmio->Position(), false);
  return hmmio->Flush();
}

MMRESULT mmioGetInfo(HMMIO hmmio, MMIOINFO* info, UINT) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  if (info == nullptr) return MMSYSERR_INVALPARAM;
  *info = hmmio->info;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioSetInfo(HMMIO hmmio, const MMIOINFO* info, UINT) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  if (info == nullptr) return MMSYSERR_INVALPARAM;
  return hmmio->TakeBack(*info);
}

MMRESULT mmioAdvance(HMMIO hmmio, MMIOINFO* info, UINT flags) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  if (info == nullptr || (flags != MMIO_READ && flags != MMIO_WRITE)) return MMSYSERR_INVALPARAM;
  if (!hmmio->Buffered()) return MMIOERR_UNBUFFERED;
  if (const MMRESULT result = hmmio->TakeBack(*info); result != MMSYSERR_NOERROR) return result;
  info->dwFlags &= ~MMIO_DIRTY;
  MMRESULT result = MMSYSERR_NOERROR;
  if (hmmio->memory) {
    // The block is the whole file: reading stays at its end, writing cannot go on.
    if (flags == MMIO_WRITE && hmmio->info.pchNext == hmmio->info.pchEndWrite) result = MMIOERR_CANNOTEXPAND;
  } else {
    result = hmmio->MoveBuffer(hmmio->Position(), flags == MMIO_READ);
  }
  const MMIOINFO& state = hmmio->info;
  info->dwFlags = state.dwFlags;
  info->pchNext = state.pchNext;
  info->pchEndRead = state.pchEndRead;
  info->pchEndWrite = state.pchEndWrite;
  info->lBufOffset = state.lBufOffset;
  info->lDiskOffset = state.lDiskOffset;
  return result;
}

MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* chunk, UINT flags) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  if (chunk == nullptr) return MMSYSERR_INVALPARAM;
  const std::int64_t position = hmmio->Position();
  if (position + 12 > kMaxOffset) return MMIOERR_CANNOTSEEK;
  if ((flags & MMIO_CREATERIFF) != 0) chunk->ckid = FOURCC_RIFF;
  if ((flags & MMIO_CREATELIST) != 0) chunk->ckid = FOURCC_LIST;
  const bool withType = (flags & (MMIO_CREATERIFF | MMIO_CREATELIST)) != 0;
  BYTE header[12];
  PutLE32(header, chunk->ckid);
  PutLE32(header + 4, chunk->cksize);
  PutLE32(header + 8, chunk->fccType);
  const LONG size = withType ? 12 : 8;
  if (mmioWrite(hmmio, reinterpret_cast<const char*>(header), size) != size) return MMIOERR_CANNOTWRITE;
  chunk->dwDataOffset = static_cast<DWORD>(position + 8);
  chunk->dwFlags = MMIO_DIRTY;
  return MMSYSERR_NOERROR;
}

MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* chunk, const MMCKINFO* parent, UINT flags) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  if (chunk == nullptr) return MMSYSERR_INVALPARAM;
  const std::int64_t parentEnd = parent != nullptr ? std::int64_t{parent->dwDataOffset} + parent->cksize : kMaxOffset;
  for (;;) {
    const std::int64_t position = hmmio->Position();
    if (position + 8 > parentEnd) return MMIOERR_CHUNKNOTFOUND;
    BYTE header[12];
    if (mmioRead(hmmio, reinterpret_cast<char*>(header), 8) != 8) return MMIOERR_CHUNKNOTFOUND;
    MMCKINFO found{};
    found.ckid = GetLE32(header);
    found.cksize = GetLE32(header + 4);
    found.dwDataOffset = static_cast<DWORD>(position + 8);
    const bool withType = found.ckid == FOURCC_RIFF || found.ckid == FOURCC_LIST;
    if (withType) {
      if (mmioRead(hmmio, reinterpret_cast<char*>(header + 8), 4) != 4) return MMIOERR_CHUNKNOTFOUND;
      found.fccType = GetLE32(header + 8);
    }
    bool match = true;
    if ((flags & MMIO_FINDCHUNK) != 0) {
      match = found.ckid == chunk->ckid;
    } else if ((flags & MMIO_FINDRIFF) != 0) {
      match = found.ckid == FOURCC_RIFF && found.fccType == chunk->fccType;
    } else if ((flags & MMIO_FINDLIST) != 0) {
      match = found.ckid == FOURCC_LIST && found.fccType == chunk->fccType;
    }
    if (match) {
      *chunk = found;
      // The position stays at the data (after the form type of a "RIFF"/"LIST").
      return MMSYSERR_NOERROR;
    }
    const std::int64_t next = std::int64_t{found.dwDataOffset} + found.cksize + (found.cksize & 1);
    if (next > kMaxOffset || mmioSeek(hmmio, static_cast<LONG>(next), SEEK_SET) < 0) return MMIOERR_CHUNKNOTFOUND;
  }
}

MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* chunk, UINT) {
  if (hmmio == nullptr) return MMSYSERR_INVALHANDLE;
  if (chunk == nullptr) return MMSYSERR_INVALPARAM;
  if ((chunk->dwFlags & MMIO_DIRTY) != 0) {
    const std::int64_t end = hmmio->Position();
    if (chunk->dwDataOffset < 8 || end < chunk->dwDataOffset) return MMIOERR_CANNOTSEEK;
    const std::int64_t size = end - chunk->dwDataOffset;
    if (size > std::numeric_limits<DWORD>::max()) return MMIOERR_CANNOTWRITE;
    if ((size & 1) != 0) {
      const char pad = 0;
      if (mmioWrite(hmmio, &pad, 1) != 1) return MMIOERR_CANNOTWRITE;
    }
    if (static_cast<DWORD>(size) != chunk->cksize) {
      BYTE value[4];
      PutLE32(value, static_cast<DWORD>(size));
      if (mmioSeek(hmmio, static_cast<LONG>(chunk->dwDataOffset - 4), SEEK_SET) < 0) return MMIOERR_CANNOTSEEK;
      if (mmioWrite(hmmio, reinterpret_cast<const char*>(value), 4) != 4) return MMIOERR_CANNOTWRITE;
      chunk->cksize = static_cast<DWORD>(size);
    }
    chunk->dwFlags &= ~MMIO_DIRTY;
  }
  const std::int64_t next = std::int64_t{chunk->dwDataOffset} + chunk->cksize + (chunk->cksize & 1);
  if (next > kMaxOffset || mmioSeek(hmmio, static_cast<LONG>(next), SEEK_SET) < 0) return MMIOERR_CANNOTSEEK;
  return MMSYSERR_NOERROR;
}
