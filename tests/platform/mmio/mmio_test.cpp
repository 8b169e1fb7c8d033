#include "platform/mmio/mmio.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

constexpr FOURCC kTest = mmioFOURCC('T', 'E', 'S', 'T');
constexpr FOURCC kOne = mmioFOURCC('o', 'n', 'e', ' ');
constexpr FOURCC kTwo = mmioFOURCC('t', 'w', 'o', ' ');
constexpr FOURCC kList = mmioFOURCC('l', 'i', 's', 't');
constexpr FOURCC kLeaf = mmioFOURCC('l', 'e', 'a', 'f');

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

HMMIO OpenWith(const std::string& path, DWORD flags, LONG bufferSize = 0) {
  MMIOINFO info{};
  info.cchBuffer = bufferSize;
  return mmioOpenA(path.c_str(), &info, flags);
}

// RIFF "TEST" { "one " (5 bytes, odd), LIST "list" { "leaf" (2000 bytes) }, "two " (3 bytes) }.
void WriteSample(HMMIO io) {
  MMCKINFO riff{};
  riff.fccType = kTest;
  ASSERT_EQ(mmioCreateChunk(io, &riff, MMIO_CREATERIFF), MMSYSERR_NOERROR);
  EXPECT_EQ(riff.dwDataOffset, 8u);
  EXPECT_EQ(riff.dwFlags, MMIO_DIRTY);

  MMCKINFO one{kOne, 0, 0, 0, 0};
  ASSERT_EQ(mmioCreateChunk(io, &one, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioWrite(io, "abcde", 5), 5);
  ASSERT_EQ(mmioAscend(io, &one, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(one.cksize, 5u);

  MMCKINFO list{};
  list.fccType = kList;
  ASSERT_EQ(mmioCreateChunk(io, &list, MMIO_CREATELIST), MMSYSERR_NOERROR);
  MMCKINFO leaf{kLeaf, 0, 0, 0, 0};
  ASSERT_EQ(mmioCreateChunk(io, &leaf, 0), MMSYSERR_NOERROR);
  const std::string payload(2000, 'L');
  ASSERT_EQ(mmioWrite(io, payload.data(), 2000), 2000);
  ASSERT_EQ(mmioAscend(io, &leaf, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioAscend(io, &list, 0), MMSYSERR_NOERROR);

  MMCKINFO two{kTwo, 0, 0, 0, 0};
  ASSERT_EQ(mmioCreateChunk(io, &two, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioWrite(io, "xyz", 3), 3);
  ASSERT_EQ(mmioAscend(io, &two, 0), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioAscend(io, &riff, 0), MMSYSERR_NOERROR);
}

std::string ExpectedSample() {
  std::string leaf = "leaf" + Le32(2000) + std::string(2000, 'L');
  std::string list = "LIST" + Le32(4 + static_cast<std::uint32_t>(leaf.size())) + "list" + leaf;
  std::string body = "TEST" + ("one " + Le32(5) + "abcde" + '\0') + list + ("two " + Le32(3) + "xyz" + '\0');
  return "RIFF" + Le32(static_cast<std::uint32_t>(body.size())) + body;
}

TEST(Mmio, ChunksAreWrittenWithSizesAndPadBytesWhateverTheBufferSize) {
  TempDir dir;
  for (LONG bufferSize : {0, 7, 16, 8192}) {
    const std::string path = dir.File("sample" + std::to_string(bufferSize) + ".riff");
    HMMIO io = OpenWith(path, MMIO_CREATE | MMIO_READWRITE | (bufferSize > 0 ? MMIO_ALLOCBUF : 0), bufferSize);
    ASSERT_NE(io, nullptr);
    WriteSample(io);
    ASSERT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(ReadFileBytes(path), ExpectedSample()) << "buffer " << bufferSize;
  }
}

TEST(Mmio, DescendFindsChunksWithinTheirParentOnly) {
  TempDir dir;
  const std::string path = dir.File("sample.riff");
  WriteFileBytes(path, ExpectedSample() + "two " + Le32(1) + "!" + '\0');
  for (LONG bufferSize : {0, 16, 8192}) {
    HMMIO io = OpenWith(path, MMIO_READ | (bufferSize > 0 ? MMIO_ALLOCBUF : 0), bufferSize);
    ASSERT_NE(io, nullptr);
    MMCKINFO riff{};
    riff.fccType = kTest;
    ASSERT_EQ(mmioDescend(io, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(riff.ckid, FOURCC_RIFF);
    EXPECT_EQ(riff.dwDataOffset, 8u);
    EXPECT_EQ(mmioSeek(io, 0, SEEK_CUR), 12);

    MMCKINFO list{};
    list.fccType = kList;
    ASSERT_EQ(mmioDescend(io, &list, &riff, MMIO_FINDLIST), MMSYSERR_NOERROR);
    EXPECT_EQ(list.dwDataOffset, 34u);
    EXPECT_EQ(list.cksize, 2012u);
    MMCKINFO leaf{};
    ASSERT_EQ(mmioDescend(io, &leaf, &list, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(leaf.ckid, kLeaf);
    char bytes[3] = {};
    EXPECT_EQ(mmioRead(io, bytes, 2), 2);
    EXPECT_EQ(std::string(bytes, 2), "LL");
    ASSERT_EQ(mmioAscend(io, &leaf, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(mmioAscend(io, &list, 0), MMSYSERR_NOERROR);

    // From the start of the form: "one " is skipped with its pad byte.
    ASSERT_EQ(mmioSeek(io, static_cast<LONG>(riff.dwDataOffset + 4), SEEK_SET), 12);
    MMCKINFO two{};
    two.ckid = kTwo;
    ASSERT_EQ(mmioDescend(io, &two, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(two.cksize, 3u);
    EXPECT_EQ(mmioRead(io, bytes, 3), 3);
    EXPECT_EQ(std::string(bytes, 3), "xyz");
    // A second "two " follows, but outside the RIFF chunk.
    ASSERT_EQ(mmioAscend(io, &two, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioDescend(io, &two, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    // Without a parent the search runs to the end of the file.
    const auto riffEnd = static_cast<LONG>(ExpectedSample().size());
    ASSERT_EQ(mmioSeek(io, riffEnd, SEEK_SET), riffEnd);
    EXPECT_EQ(mmioDescend(io, &two, nullptr, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioDescend(io, &two, nullptr, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);
  }
}

TEST(Mmio, HostileChunkSizesEndTheSearch) {
  TempDir dir;
  const std::string path = dir.File("bad.riff");
  WriteFileBytes(path, "RIFF" + Le32(0xFFFFFFF0) + "TEST" + "junk" + Le32(0xFFFFFFFF) + "data");
  HMMIO io = OpenWith(path, MMIO_READ | MMIO_ALLOCBUF);
  ASSERT_NE(io, nullptr);
  MMCKINFO riff{};
  ASSERT_EQ(mmioDescend(io, &riff, nullptr, 0), MMSYSERR_NOERROR);
  MMCKINFO data{};
  data.ckid = mmioFOURCC('d', 'a', 't', 'a');
  EXPECT_EQ(mmioDescend(io, &data, &riff, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
  EXPECT_EQ(mmioAscend(io, &riff, 0), MMIOERR_CANNOTSEEK);
  EXPECT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);
}

TEST(Mmio, DirectBufferAccessWritesAndReadsEveryByte) {
  TempDir dir;
  const std::string path = dir.File("direct.bin");
  HMMIO io = OpenWith(path, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF, 64);
  ASSERT_NE(io, nullptr);
  ASSERT_EQ(mmioWrite(io, "head", 4), 4);
  MMIOINFO info{};
  ASSERT_EQ(mmioGetInfo(io, &info, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(info.cchBuffer, 64);
  EXPECT_EQ(info.pchNext, info.pchBuffer + 4);
  std::string expected = "head";
  for (int i = 0; i < 1000; ++i) {
    if (info.pchNext == info.pchEndWrite) {
      info.dwFlags |= MMIO_DIRTY;
      ASSERT_EQ(mmioAdvance(io, &info, MMIO_WRITE), MMSYSERR_NOERROR);
      EXPECT_EQ(info.pchNext, info.pchBuffer);
      EXPECT_EQ(info.dwFlags & MMIO_DIRTY, 0u);
    }
    *info.pchNext++ = static_cast<char>('a' + i % 26);
    expected += static_cast<char>('a' + i % 26);
  }
  info.dwFlags |= MMIO_DIRTY;
  ASSERT_EQ(mmioSetInfo(io, &info, 0), MMSYSERR_NOERROR);
  // The buffer's bytes count for the size before they reach the disk.
  EXPECT_EQ(mmioSeek(io, 0, SEEK_END), 1004);
  ASSERT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(ReadFileBytes(path), expected);

  io = OpenWith(path, MMIO_READ | MMIO_ALLOCBUF, 64);
  ASSERT_NE(io, nullptr);
  ASSERT_EQ(mmioGetInfo(io, &info, 0), MMSYSERR_NOERROR);
  std::string back;
  for (;;) {
    if (info.pchNext == info.pchEndRead) {
      ASSERT_EQ(mmioAdvance(io, &info, MMIO_READ), MMSYSERR_NOERROR);
      if (info.pchNext == info.pchEndRead) break;  // the end of the file
    }
    back += *info.pchNext++;
  }
  ASSERT_EQ(mmioSetInfo(io, &info, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(back, expected);
  EXPECT_EQ(mmioSeek(io, 0, SEEK_CUR), 1004);
  EXPECT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);
}

TEST(Mmio, SeekingAndOverwritingInAReadWriteFile) {
  TempDir dir;
  const std::string path = dir.File("rw.bin");
  std::string content(10000, '.');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('0' + i % 10);
  WriteFileBytes(path, content);
  HMMIO io = OpenWith(path, MMIO_READWRITE | MMIO_ALLOCBUF, 128);
  ASSERT_NE(io, nullptr);
  char bytes[8] = {};
  ASSERT_EQ(mmioSeek(io, 5000, SEEK_SET), 5000);
  ASSERT_EQ(mmioWrite(io, "ABCD", 4), 4);
  ASSERT_EQ(mmioRead(io, bytes, 4), 4);  // the bytes after the overwritten ones
  EXPECT_EQ(std::string(bytes, 4), content.substr(5004, 4));
  ASSERT_EQ(mmioSeek(io, -8, SEEK_CUR), 5000);
  ASSERT_EQ(mmioRead(io, bytes, 4), 4);
  EXPECT_EQ(std::string(bytes, 4), "ABCD");
  ASSERT_EQ(mmioSeek(io, -2, SEEK_END), 9998);
  ASSERT_EQ(mmioWrite(io, "xyzw", 4), 4);  // grows the file by two
  EXPECT_EQ(mmioSeek(io, 0, SEEK_END), 10002);
  EXPECT_EQ(mmioRead(io, bytes, 4), 0);
  EXPECT_EQ(mmioSeek(io, -1, SEEK_SET), -1);
  ASSERT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);
  content.replace(5000, 4, "ABCD");
  content.replace(9998, 2, "xyzw");
  EXPECT_EQ(ReadFileBytes(path), content);
}

TEST(Mmio, MemoryFilesReadChunksAndCannotGrow) {
  std::string block = ExpectedSample();
  MMIOINFO info{};
  info.fccIOProc = FOURCC_MEM;
  info.pchBuffer = block.data();
  info.cchBuffer = static_cast<LONG>(block.size());
  HMMIO io = mmioOpenA(nullptr, &info, MMIO_READWRITE);
  ASSERT_NE(io, nullptr);
  MMCKINFO riff{};
  riff.fccType = kTest;
  ASSERT_EQ(mmioDescend(io, &riff, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
  MMCKINFO two{};
  two.ckid = kTwo;
  ASSERT_EQ(mmioDescend(io, &two, &riff, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
  ASSERT_EQ(mmioWrite(io, "XY", 2), 2);  // written into the caller's block
  EXPECT_EQ(block.substr(block.size() - 4, 2), "XY");
  ASSERT_EQ(mmioSeek(io, 0, SEEK_END), static_cast<LONG>(block.size()));
  EXPECT_EQ(mmioWrite(io, "!", 1), -1);
  MMIOINFO direct{};
  ASSERT_EQ(mmioGetInfo(io, &direct, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(mmioAdvance(io, &direct, MMIO_WRITE), MMIOERR_CANNOTEXPAND);
  EXPECT_EQ(mmioAdvance(io, &direct, MMIO_READ), MMSYSERR_NOERROR);
  EXPECT_EQ(direct.pchNext, direct.pchEndRead);
  EXPECT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);

  MMIOINFO empty{};
  empty.fccIOProc = FOURCC_MEM;
  EXPECT_EQ(mmioOpenA(nullptr, &empty, MMIO_READ), nullptr);
  EXPECT_EQ(empty.wErrorRet, MMSYSERR_INVALPARAM);
}

TEST(Mmio, OpenFailuresSayWhy) {
  TempDir dir;
  MMIOINFO info{};
  EXPECT_EQ(mmioOpenA(dir.File("absent.wav").c_str(), &info, MMIO_READ), nullptr);
  EXPECT_EQ(info.wErrorRet, MMIOERR_FILENOTFOUND);
  EXPECT_EQ(mmioOpenA(dir.File("no/such/folder.wav").c_str(), &info, MMIO_CREATE | MMIO_READWRITE), nullptr);
  EXPECT_EQ(info.wErrorRet, MMIOERR_PATHNOTFOUND);
  EXPECT_EQ(mmioOpenA("/sys/halvane-test.wav", &info, MMIO_CREATE | MMIO_READWRITE), nullptr);
  EXPECT_EQ(info.wErrorRet, MMIOERR_ACCESSDENIED);
  EXPECT_EQ(mmioOpenA(dir.Path().c_str(), &info, MMIO_READ), nullptr);
  EXPECT_EQ(info.wErrorRet, MMIOERR_ACCESSDENIED);
  EXPECT_EQ(mmioOpenA(nullptr, nullptr, MMIO_READ), nullptr);

  // A read-only file cannot be written; the handle still closes.
  WriteFileBytes(dir.File("ro.bin"), "abc");
  HMMIO io = mmioOpenA(dir.File("ro.bin").c_str(), nullptr, MMIO_READ | MMIO_ALLOCBUF);
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(mmioWrite(io, "x", 1), -1);
  MMCKINFO chunk{kOne, 0, 0, 0, 0};
  EXPECT_EQ(mmioCreateChunk(io, &chunk, 0), MMIOERR_CANNOTWRITE);
  EXPECT_EQ(mmioClose(io, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(ReadFileBytes(dir.File("ro.bin")), "abc");

  HMMIO unbuffered = mmioOpenA(dir.File("ro.bin").c_str(), nullptr, MMIO_READ);
  ASSERT_NE(unbuffered, nullptr);
  MMIOINFO state{};
  ASSERT_EQ(mmioGetInfo(unbuffered, &state, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(state.cchBuffer, 0);
  EXPECT_EQ(mmioAdvance(unbuffered, &state, MMIO_READ), MMIOERR_UNBUFFERED);
  EXPECT_EQ(mmioClose(unbuffered, 0), MMSYSERR_NOERROR);
}

TEST(Mmio, AShortWriteIsAFailure) {
  // A file size limit cuts a write short part of the way.
  TempDir dir;
  const std::string path = dir.File("limited.bin");
  HMMIO io = OpenWith(path, MMIO_CREATE | MMIO_READWRITE | MMIO_ALLOCBUF, 4096);
  ASSERT_NE(io, nullptr);
  MMCKINFO chunk{kOne, 0, 0, 0, 0};
  ASSERT_EQ(mmioCreateChunk(io, &chunk, 0), MMSYSERR_NOERROR);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 6000;
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const std::string data(20000, 'd');
  const LONG written = mmioWrite(io, data.data(), static_cast<LONG>(data.size()));
  const MMRESULT ascended = mmioAscend(io, &chunk, 0);
  const MMRESULT closed = mmioClose(io, 0);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(written, -1);
  EXPECT_NE(ascended, MMSYSERR_NOERROR);
  EXPECT_NE(closed, MMSYSERR_NOERROR);
  EXPECT_LE(std::filesystem::file_size(path), 6000u);
}

}  // namespace
