// A RIFF WAVE file written (or read) through the buffered multimedia file I/O.
// Written files have a 56-byte header for PCM: "RIFF" size "WAVE", "fmt " of 16
// bytes, a "fact" chunk holding 0, then the "data" chunk.
#pragma once

#include <memory>

#include "platform/core/waveformat.h"
#include "platform/core/wintypes.h"
#include "platform/mmio/mmio.h"

constexpr DWORD WAVEFILE_READ = 1;
constexpr DWORD WAVEFILE_WRITE = 2;

class CWaveFile {
 public:
  CWaveFile();
  ~CWaveFile();
  CWaveFile(const CWaveFile&) = delete;
  CWaveFile& operator=(const CWaveFile&) = delete;

  // WAVEFILE_WRITE creates (or empties) the file and writes the header for format;
  // WAVEFILE_READ opens an existing file and reads its format (format is not used).
  HRESULT Open(const char* fileName, const WAVEFORMATEX* format, DWORD mode);
  // Reads from the caller's block of a whole WAVE file's data with the caller's format.
  HRESULT OpenInMemory(BYTE* data, DWORD size, WAVEFORMATEX* format, DWORD mode);
  // Writing: finishes the sizes and the "fact" value and closes. Reading: closes.
  HRESULT Close();

  // Appends size bytes to the "data" chunk through the I/O buffer.
  HRESULT Write(DWORD size, const BYTE* data, DWORD* written);
  // Copies at most the remaining bytes of the "data" chunk.
  HRESULT ReadData(BYTE* buffer, DWORD size, DWORD* read);
  // Reading: the size of the "data" chunk in bytes.
  DWORD GetDataChunkSize() const { return m_dataSize; }
  // Reading: the file's format (null before a successful Open).
  const WAVEFORMATEX* GetFormat() const { return m_pFormat; }

 private:
  HRESULT WriteHeader(const WAVEFORMATEX* format);
  HRESULT ReadHeader();
  HRESULT StartData();
  void FreeFormat();

  WAVEFORMATEX* m_pFormat;  // reading: the owned copy in m_formatCopy, or the caller's
  HMMIO m_hIo;
  MMCKINFO m_chunk;
  MMCKINFO m_riffChunk;
  DWORD m_dataSize;
  MMIOINFO m_ioInfo;
  DWORD m_mode;
  BOOL m_fromMemory;
  BYTE* m_memData;
  BYTE* m_memCursor;
  DWORD m_memSize;
  // The heap copy of a file's format (18 bytes plus its extra bytes) that m_pFormat
  // points into when reading from a file.
  std::unique_ptr<BYTE[]> m_formatCopy;
};
