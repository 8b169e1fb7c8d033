#include "output/wave_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');

// The part of WAVEFORMATEX that a PCM "fmt " chunk holds.
constexpr LONG kPcmFormatSize = 16;

LONG WriteValue(HMMIO io, DWORD value) {
  BYTE bytes[4];
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<BYTE>(value >> (8 * i));
  return mmioWrite(io, reinterpret_cast<const char*>(bytes), 4);
}

}  // namespace

CWaveFile::CWaveFile()
    : m_pFormat(nullptr),
      m_hIo(nullptr),
      m_chunk{},
      m_riffChunk{},
      m_dataSize(0),
      m_ioInfo{},
      m_mode(0),
      m_fromMemory(FALSE),
      m_memData(nullptr),
      m_memCursor(nullptr),
      m_memSize(0) {}

CWaveFile::~CWaveFile() {
  Close();
  // A Close that failed early leaves the file open for a retry; this is the last one.
  if (m_hIo != nullptr) mmioClose(m_hIo, 0);
  FreeFormat();
}

void CWaveFile::FreeFormat() {
  m_formatCopy.reset();
  m_pFormat = nullptr;
}

HRESULT CWaveFile::Open(const char* fileName, const WAVEFORMATEX* format, DWORD mode) {
  if (m_hIo != nullptr) Close();  // one file at a time
  m_mode = mode;
  m_fromMemory = FALSE;

  if (mode == WAVEFILE_READ) {
    if (fileName == nullptr) return E_INVALIDARG;
    FreeFormat();
    // There are no wave resources in this program: a missing file is a failure.
    m_hIo = mmioOpenA(fileName, nullptr, MMIO_ALLOCBUF | MMIO_READ);
    if (m_hIo == nullptr) return E_FAIL;
    HRESULT hr = ReadHeader();
    if (SUCCEEDED(hr)) hr = StartData();
    if (FAILED(hr)) {
      mmioClose(m_hIo, 0);
      m_hIo = nullptr;
      FreeFormat();
    }
    return hr;
  }

  if (mode != WAVEFILE_WRITE || fileName == nullptr || format == nullptr) return E_INVALIDARG;
  m_hIo = mmioOpenA(fileName, nullptr, MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE);
  if (m_hIo == nullptr) return E_FAIL;
  HRESULT hr = WriteHeader(format);
  if (SUCCEEDED(hr)) hr = StartData();
  if (FAILED(hr)) {
    // No open file is left behind; what was written stays on disk.
    mmioClose(m_hIo, 0);
    m_hIo = nullptr;
  }
  return hr;
}

HRESULT CWaveFile::OpenInMemory(BYTE* data, DWORD size, WAVEFORMATEX* format, DWORD mode) {
  if (mode != WAVEFILE_READ) return E_NOTIMPL;
  if (m_hIo != nullptr) Close();
  FreeFormat();
  m_mode = mode;
  m_fromMemory = TRUE;
  m_pFormat = format;
  m_memData = data;
  m_memCursor = data;
  m_memSize = size;
  m_dataSize = size;
  return S_OK;
}

HRESULT CWaveFile::WriteHeader(const WAVEFORMATEX* format) {
  m_riffChunk.fccType = kWave;
  m_riffChunk.cksize = 0;
  if (mmioCreateChunk(m_hIo, &m_riffChunk, MMIO_CREATERIFF) != MMSYSERR_NOERROR) return E_FAIL;

  m_chunk.ckid = kFmt;
  m_chunk.cksize = kPcmFormatSize;
  if (mmioCreateChunk(m_hIo, &m_chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
  const LONG formatSize =
      format->wFormatTag == WAVE_FORMAT_PCM ? kPcmFormatSize : static_cast<LONG>(sizeof(WAVEFORMATEX) + format->cbSize);
  if (mmioWrite(m_hIo, reinterpret_cast<const char*>(format), formatSize) != formatSize) return E_FAIL;
  if (mmioAscend(m_hIo, &m_chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;

  // The "fact" value is a placeholder until Close, which sets it to 0.
  MMCKINFO fact{};
  fact.ckid = kFact;
  fact.cksize = 0;
  if (mmioCreateChunk(m_hIo, &fact, 0) != MMSYSERR_NOERROR) return E_FAIL;
  if (WriteValue(m_hIo, 0xFFFFFFFF) != 4) return E_FAIL;
  if (mmioAscend(m_hIo, &fact, 0) != MMSYSERR_NOERROR) return E_FAIL;
  return S_OK;
}

HRESULT CWaveFile::ReadHeader() {
  if (mmioDescend(m_hIo, &m_riffChunk, nullptr, 0) != MMSYSERR_NOERROR) return E_FAIL;
  if (m_riffChunk.ckid != FOURCC_RIFF || m_riffChunk.fccType != kWave) return E_FAIL;

  m_chunk.ckid = kFmt;
  if (mmioDescend(m_hIo, &m_chunk, &m_riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return E_FAIL;
  if (m_chunk.cksize < static_cast<DWORD>(kPcmFormatSize)) return E_FAIL;

  BYTE pcm[kPcmFormatSize];
  if (mmioRead(m_hIo, reinterpret_cast<char*>(pcm), kPcmFormatSize) != kPcmFormatSize) return E_FAIL;
  WORD formatTag;
  std::memcpy(&formatTag, pcm, sizeof formatTag);

  WORD extraSize = 0;
  if (formatTag != WAVE_FORMAT_PCM && m_chunk.cksize >= sizeof(WAVEFORMATEX)) {
    if (mmioRead(m_hIo, reinterpret_cast<char*>(&extraSize), sizeof extraSize) != sizeof extraSize) return E_FAIL;
    // The extra bytes must lie within the chunk.
    if (sizeof(WAVEFORMATEX) + extraSize > m_chunk.cksize) return E_FAIL;
  }
  const std::size_t total = sizeof(WAVEFORMATEX) + extraSize;
  m_formatCopy.reset(new (std::nothrow) BYTE[total]);
  if (!m_formatCopy) return E_FAIL;
  std::memcpy(m_formatCopy.get(), pcm, kPcmFormatSize);
  std::memcpy(m_formatCopy.get() + kPcmFormatSize, &extraSize, sizeof extraSize);
  if (extraSize > 0 &&
      mmioRead(m_hIo, reinterpret_cast<char*>(m_formatCopy.get() + sizeof(WAVEFORMATEX)), extraSize) != extraSize)
    return E_FAIL;
  m_pFormat = reinterpret_cast<WAVEFORMATEX*>(m_formatCopy.get());

  if (mmioAscend(m_hIo, &m_chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
  return S_OK;
}

HRESULT CWaveFile::StartData() {
  if (m_hIo == nullptr) return CO_E_NOTINITIALIZED;
  if (m_mode == WAVEFILE_READ) {
    // Back to the first chunk after the form type, then find "data".
    if (mmioSeek(m_hIo, static_cast<LONG>(m_riffChunk.dwDataOffset + sizeof(FOURCC)), SEEK_SET) < 0) return E_FAIL;
    m_chunk.ckid = kData;
    if (mmioDescend(m_hIo, &m_chunk, &m_riffChunk, MMIO_FINDCHUNK) != MMSYSERR_NOERROR) return E_FAIL;
    m_dataSize = m_chunk.cksize;
    return S_OK;
  }
  m_chunk.ckid = kData;
  m_chunk.cksize = 0;
  if (mmioCreateChunk(m_hIo, &m_chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
  // From here the writer fills the I/O buffer directly.
  if (mmioGetInfo(m_hIo, &m_ioInfo, 0) != MMSYSERR_NOERROR) return E_FAIL;
  return S_OK;
}

HRESULT CWaveFile::Write(DWORD size, const BYTE* data, DWORD* written) {
  if (m_fromMemory) return E_NOTIMPL;
  if (m_hIo == nullptr) return CO_E_NOTINITIALIZED;
  if (m_mode != WAVEFILE_WRITE) return E_NOTIMPL;
  if (data == nullptr || written == nullptr) return E_INVALIDARG;

  *written = 0;
  while (*written < size) {
    if (m_ioInfo.pchNext == m_ioInfo.pchEndWrite) {
      // The buffer is full: hand it over to be written and take an empty one.
      m_ioInfo.dwFlags |= MMIO_DIRTY;
      if (mmioAdvance(m_hIo, &m_ioInfo, MMIO_WRITE) != MMSYSERR_NOERROR) return E_FAIL;
    }
    const DWORD room = static_cast<DWORD>(m_ioInfo.pchEndWrite - m_ioInfo.pchNext);
    const DWORD n = std::min(room, size - *written);
    std::memcpy(m_ioInfo.pchNext, data + *written, n);
    m_ioInfo.pchNext += n;
    *written += n;
  }
  return S_OK;
}

HRESULT CWaveFile::Close() {
  if (m_mode != WAVEFILE_WRITE) {
    if (m_hIo != nullptr) mmioClose(m_hIo, 0);
    m_hIo = nullptr;
    return S_OK;
  }

  m_ioInfo.dwFlags |= MMIO_DIRTY;
  if (m_hIo == nullptr) return CO_E_NOTINITIALIZED;
  // Hand the buffer back; its remaining bytes go out with the next I/O.
  if (mmioSetInfo(m_hIo, &m_ioInfo, 0) != MMSYSERR_NOERROR) return E_FAIL;
  if (mmioAscend(m_hIo, &m_chunk, 0) != MMSYSERR_NOERROR) return E_FAIL;
  if (mmioAscend(m_hIo, &m_riffChunk, 0) != MMSYSERR_NOERROR) return E_FAIL;

  if (mmioSeek(m_hIo, 0, SEEK_SET) < 0) return E_FAIL;
  if (mmioDescend(m_hIo, &m_riffChunk, nullptr, 0) != MMSYSERR_NOERROR) return E_FAIL;
  // The "fact" value becomes 0; a file without one is still complete.
  m_chunk.ckid = kFact;
  if (mmioDescend(m_hIo, &m_chunk, &m_riffChunk, MMIO_FINDCHUNK) == MMSYSERR_NOERROR) {
    if (WriteValue(m_hIo, 0) == 4) mmioAscend(m_hIo, &m_chunk, 0);
  }
  if (mmioAscend(m_hIo, &m_riffChunk, 0) != MMSYSERR_NOERROR) return E_FAIL;

  // The last buffered bytes reach the disk here; a failure means an incomplete file.
  const MMRESULT closed = mmioClose(m_hIo, 0);
  m_hIo = nullptr;
  return closed == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CWaveFile::ReadData(BYTE* buffer, DWORD size, DWORD* read) {
  if (buffer == nullptr || read == nullptr) return E_INVALIDARG;
  *read = 0;
  if (m_fromMemory) {
    const DWORD remaining = static_cast<DWORD>(m_memSize - (m_memCursor - m_memData));
    const DWORD n = std::min(size, remaining);
    std::memcpy(buffer, m_memCursor, n);
    m_memCursor += n;
    *read = n;
    return S_OK;
  }
  if (m_hIo == nullptr) return CO_E_NOTINITIALIZED;
  if (m_mode != WAVEFILE_READ) return E_NOTIMPL;

  MMIOINFO info{};
  if (mmioGetInfo(m_hIo, &info, 0) != MMSYSERR_NOERROR) return E_FAIL;
  const DWORD wanted = std::min(size, m_chunk.cksize);
  HRESULT hr = S_OK;
  while (*read < wanted) {
    if (info.pchNext == info.pchEndRead) {
      if (mmioAdvance(m_hIo, &info, MMIO_READ) != MMSYSERR_NOERROR || info.pchNext == info.pchEndRead) {
        hr = E_FAIL;  // the file ends before its "data" chunk does
        break;
      }
    }
    const DWORD n = std::min(static_cast<DWORD>(info.pchEndRead - info.pchNext), wanted - *read);
    std::memcpy(buffer + *read, info.pchNext, n);
    info.pchNext += n;
    *read += n;
  }
  m_chunk.cksize -= *read;
  if (mmioSetInfo(m_hIo, &info, 0) != MMSYSERR_NOERROR) return E_FAIL;
  return hr;
}
