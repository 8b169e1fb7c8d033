#include "base/process_state.h"

#include <memory>

namespace {

std::unique_ptr<char[]> s_programDir;
std::unique_ptr<char[]> s_fileBuffer;
std::unique_ptr<char[]> s_fileTitle;
std::unique_ptr<char[]> s_outputDir;
std::unique_ptr<char[]> s_scratch;

// Stands in for the process heap; its address is the heap handle.
char s_processHeap;

char* Allocate(std::unique_ptr<char[]>& storage) {
  if (!storage) storage = std::make_unique<char[]>(kTextBufferSize);  // value-initialised: zero-filled
  return storage.get();
}

}  // namespace

char* g_szProgramDir = nullptr;
char* g_szFileBuffer = nullptr;
char* g_szFileTitle = nullptr;
char* g_szOutputDir = nullptr;
char* g_szScratch = nullptr;

std::mutex g_OutputDirLock;
std::atomic<std::int32_t> g_bSameDirectory{0};
HANDLE g_hHeap = &s_processHeap;

std::atomic<HANDLE> hConvertEvent{nullptr};
std::atomic<std::int32_t> bIsAborting{0};
std::atomic<std::int32_t> bIsConverting{0};
std::atomic<std::int32_t> iPort{0};
std::atomic<DWORD> g_nPortIndex[kPortIndexSize]{};
std::atomic<std::int32_t> g_nPortCount{0};

void AllocateProcessBuffers() {
  g_szProgramDir = Allocate(s_programDir);
  g_szFileBuffer = Allocate(s_fileBuffer);
  g_szFileTitle = Allocate(s_fileTitle);
  {
    std::lock_guard lock(g_OutputDirLock);
    g_szOutputDir = Allocate(s_outputDir);
  }
  g_szScratch = Allocate(s_scratch);
}

bool PortIndexAt(std::int32_t position, DWORD* portIndex) {
  if (position < 0 || position >= g_nPortCount.load() || position >= kPortIndexSize) return false;
  *portIndex = g_nPortIndex[position].load();
  return true;
}
