// The music tool that stands first in the performance's tool graph: it passes
// note, patch-change and MIDI short messages on and limits every channel-volume
// controller (status 0xB0, controller 7) to 127 on the way.
#pragma once

#include <atomic>

#include "platform/dmusic/dmusic.h"

class CMusicTool final : public IDirectMusicTool {
 public:
  // Starts with one reference, owned by whoever created it.
  CMusicTool() = default;
  CMusicTool(const CMusicTool&) = delete;
  CMusicTool& operator=(const CMusicTool&) = delete;

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  // Destroys the tool when the last reference goes.
  ULONG Release() override;

  // IDirectMusicTool
  HRESULT Init(IDirectMusicGraph* pGraph) override;
  HRESULT GetMsgDeliveryType(DWORD* pdwDeliveryType) override;
  HRESULT GetMediaTypeArraySize(DWORD* pdwNumElements) override;
  HRESULT GetMediaTypes(DWORD** padwMediaTypes, DWORD dwNumElements) override;
  HRESULT ProcessPMsg(IDirectMusicPerformance* pPerf, DMUS_PMSG* pPMSG) override;
  HRESULT Flush(IDirectMusicPerformance* pPerf, DMUS_PMSG* pPMSG, REFERENCE_TIME rtTime) override;

 private:
  // Only Release destroys the tool.
  ~CMusicTool() = default;

  std::atomic<LONG> m_cRef{1};
};
