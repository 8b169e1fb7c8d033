// Buffered multimedia file I/O for RIFF files: files on disk or a memory block,
// an I/O buffer the caller may fill or drain directly (get info, advance, set info),
// and chunks that are created, entered (descend) and left (ascend).
#pragma once

#include <cstdint>

#include "platform/core/wintypes.h"

using FOURCC = DWORD;
using MMRESULT = std::uint32_t;
using UINT = std::uint32_t;

constexpr FOURCC mmioFOURCC(char c0, char c1, char c2, char c3) {
  return static_cast<FOURCC>(static_cast<BYTE>(c0)) | (static_cast<FOURCC>(static_cast<BYTE>(c1)) << 8) |
         (static_cast<FOURCC>(static_cast<BYTE>(c2)) << 16) | (static_cast<FOURCC>(static_cast<BYTE>(c3)) << 24);
}

constexpr FOURCC FOURCC_RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC FOURCC_LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC FOURCC_DOS = mmioFOURCC('D', 'O', 'S', ' ');
constexpr FOURCC FOURCC_MEM = mmioFOURCC('M', 'E', 'M', ' ');

// Results.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT MMIOERR_BASE = 256;
constexpr MMRESULT MMIOERR_FILENOTFOUND = MMIOERR_BASE + 1;
constexpr MMRESULT MMIOERR_OUTOFMEMORY = MMIOERR_BASE + 2;
constexpr MMRESULT MMIOERR_CANNOTOPEN = MMIOERR_BASE + 3;
constexpr MMRESULT MMIOERR_CANNOTCLOSE = MMIOERR_BASE + 4;
constexpr MMRESULT MMIOERR_CANNOTREAD = MMIOERR_BASE + 5;
constexpr MMRESULT MMIOERR_CANNOTWRITE = MMIOERR_BASE + 6;
constexpr MMRESULT MMIOERR_CANNOTSEEK = MMIOERR_BASE + 7;
constexpr MMRESULT MMIOERR_CANNOTEXPAND = MMIOERR_BASE + 8;
constexpr MMRESULT MMIOERR_CHUNKNOTFOUND = MMIOERR_BASE + 9;
constexpr MMRESULT MMIOERR_UNBUFFERED = MMIOERR_BASE + 10;
constexpr MMRESULT MMIOERR_PATHNOTFOUND = MMIOERR_BASE + 11;
constexpr MMRESULT MMIOERR_ACCESSDENIED = MMIOERR_BASE + 12;
constexpr MMRESULT MMIOERR_SHARINGVIOLATION = MMIOERR_BASE + 13;
constexpr MMRESULT MMIOERR_NETWORKERROR = MMIOERR_BASE + 14;
constexpr MMRESULT MMIOERR_TOOMANYOPENFILES = MMIOERR_BASE + 15;
constexpr MMRESULT MMIOERR_INVALIDFILE = MMIOERR_BASE + 16;

// mmioOpenA flags (access, creation, buffering).
constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_CREATE = 0x00001000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
// The buffer holds bytes that are not on disk yet (MMIOINFO), or the chunk's size
// must be written when it is left (MMCKINFO).
constexpr DWORD MMIO_DIRTY = 0x10000000;
// mmioFlush
constexpr UINT MMIO_EMPTYBUF = 0x0010;
// mmioDescend / mmioCreateChunk
constexpr UINT MMIO_FINDCHUNK = 0x0010;
constexpr UINT MMIO_FINDRIFF = 0x0020;
constexpr UINT MMIO_FINDLIST = 0x0040;
constexpr UINT MMIO_CREATERIFF = 0x0020;
constexpr UINT MMIO_CREATELIST = 0x0040;

// The buffer size MMIO_ALLOCBUF gives.
constexpr LONG MMIO_DEFAULTBUFFER = 8192;

struct HMMIO__;
using HMMIO = HMMIO__*;

// The state of an open file's I/O buffer. mmioGetInfo hands a copy to the caller,
// who may then read and write the buffer directly between pchNext and pchEndRead
// (reading) or pchEndWrite (writing), and hands it back with mmioAdvance or
// mmioSetInfo. For mmioOpenA it carries the memory block of a FOURCC_MEM file and
// receives the failure in wErrorRet.
struct MMIOINFO {
  DWORD dwFlags;
  FOURCC fccIOProc;  // FOURCC_MEM for a memory file, else 0 (or FOURCC_DOS)
  void* pIOProc;     // custom I/O procedures are not supported; must be null
  UINT wErrorRet;    // mmioOpenA's failure
  HANDLE htask;
  LONG cchBuffer;     // size of the I/O buffer; 0 when unbuffered
  char* pchBuffer;    // start of the I/O buffer
  char* pchNext;      // next byte to read or write
  char* pchEndRead;   // one past the last valid byte in the buffer
  char* pchEndWrite;  // one past the last byte that may be written
  LONG lBufOffset;    // file offset of pchBuffer
  LONG lDiskOffset;   // file offset where the last disk transfer ended
  DWORD adwInfo[3];
  DWORD dwReserved1;
  DWORD dwReserved2;
  HMMIO hmmio;
};

// A chunk: its id, the size of its data, for "RIFF" and "LIST" the form type, the
// file offset of its data (for "RIFF"/"LIST" the offset of the form type), and
// MMIO_DIRTY when the size must be written when the chunk is left.
struct MMCKINFO {
  FOURCC ckid;
  DWORD cksize;
  FOURCC fccType;
  DWORD dwDataOffset;
  DWORD dwFlags;
};

// Opens a file (or, with info->fccIOProc == FOURCC_MEM and no name, the memory block
// info->pchBuffer of info->cchBuffer bytes). MMIO_CREATE creates or empties the file.
// Returns null on failure, with the reason in info->wErrorRet when info is given.
HMMIO mmioOpenA(const char* fileName, MMIOINFO* info, DWORD flags);
// Writes out what is buffered and closes the file; the handle is gone in every case.
MMRESULT mmioClose(HMMIO hmmio, UINT flags);

// Return the number of bytes transferred, or -1 on failure (a short write is a
// failure). mmioRead returns 0 at the end of the file.
LONG mmioRead(HMMIO hmmio, char* buffer, LONG size);
LONG mmioWrite(HMMIO hmmio, const char* buffer, LONG size);
// SEEK_SET, SEEK_CUR or SEEK_END; returns the new position, or -1.
LONG mmioSeek(HMMIO hmmio, LONG offset, int origin);
// Writes out the buffer if it holds unwritten bytes; MMIO_EMPTYBUF also empties it.
MMRESULT mmioFlush(HMMIO hmmio, UINT flags);

MMRESULT mmioGetInfo(HMMIO hmmio, MMIOINFO* info, UINT flags);
// Takes back the caller's buffer position (and MMIO_DIRTY) from info.
MMRESULT mmioSetInfo(HMMIO hmmio, const MMIOINFO* info, UINT flags);
// MMIO_WRITE: writes the buffer out when info says MMIO_DIRTY; MMIO_READ: fills the
// buffer from the file. Either way the buffer moves on to the caller's position and
// info is updated; at the end of the file pchNext equals pchEndRead.
MMRESULT mmioAdvance(HMMIO hmmio, MMIOINFO* info, UINT flags);

// Writes a chunk header at the current position (with MMIO_CREATERIFF/LIST the id
// "RIFF"/"LIST" and the form type) and marks the chunk MMIO_DIRTY.
MMRESULT mmioCreateChunk(HMMIO hmmio, MMCKINFO* chunk, UINT flags);
// Enters the chunk at the current position, or with MMIO_FINDCHUNK / MMIO_FINDRIFF /
// MMIO_FINDLIST the first one that matches chunk's ckid / fccType, searching no
// further than the end of parent (when given). MMIOERR_CHUNKNOTFOUND when none.
MMRESULT mmioDescend(HMMIO hmmio, MMCKINFO* chunk, const MMCKINFO* parent, UINT flags);
// Leaves the chunk: for a dirty chunk writes a zero pad byte after odd-sized data and
// the real size into the header; then moves past the chunk (and its pad byte).
MMRESULT mmioAscend(HMMIO hmmio, MMCKINFO* chunk, UINT flags);
