// A music tool for the tests: counts the notes, patches and MIDI messages it
// sees and passes them on to the next tool in the graph.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include "platform/dmusic/dmusic.h"

namespace dmusic_test {

class CountingTool final : public IDirectMusicTool {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }  // lives on the test's stack
  HRESULT Init(IDirectMusicGraph*) override { return S_OK; }
  HRESULT GetMsgDeliveryType(DWORD* type) override;
  HRESULT GetMediaTypeArraySize(DWORD* count) override;
  HRESULT GetMediaTypes(DWORD** types, DWORD count) override;
  HRESULT ProcessPMsg(IDirectMusicPerformance* perf, DMUS_PMSG* msg) override;
  HRESULT Flush(IDirectMusicPerformance*, DMUS_PMSG*, REFERENCE_TIME) override { return S_OK; }

  std::atomic<ULONG> refs{1};
  std::atomic<int> notes{0};  // notes started
  std::atomic<int> patches{0};
  std::atomic<int> midi{0};
  std::atomic<int> lastPatchMsb{-1};
  std::map<std::uint32_t, int> midiMessages;  // (status, data1, data2) -> how often
};

}  // namespace dmusic_test
