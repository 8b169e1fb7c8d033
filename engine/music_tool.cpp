#include "engine/music_tool.h"

#include <cstring>

#include "base/debug_log.h"

namespace {

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// Channel-volume controller on MIDI channel 1: status 0xB0, controller 7.
constexpr BYTE kControlChange = 0xB0;
constexpr BYTE kChannelVolume = 7;
constexpr BYTE kMaxDataByte = 0x7F;

// Hands a stamped message on to the next tool. The performance always passes itself;
// without one nobody could send the message, so it is given back to be freed.
HRESULT PassOn(IDirectMusicPerformance* pPerf, DMUS_PMSG* pPMSG) {
  if (pPerf == nullptr) return DMUS_S_FREE;
  pPerf->SendPMsg(pPMSG);
  return S_OK;
}

}  // namespace

HRESULT CMusicTool::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (SameGuid(riid, IID_IUnknown) || SameGuid(riid, IID_IDirectMusicTool)) {
    *ppv = static_cast<IDirectMusicTool*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CMusicTool::AddRef() { return static_cast<ULONG>(++m_cRef); }

ULONG CMusicTool::Release() {
  const LONG count = --m_cRef;
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT CMusicTool::Init(IDirectMusicGraph* /*pGraph*/) { return E_NOTIMPL; }

HRESULT CMusicTool::GetMsgDeliveryType(DWORD* pdwDeliveryType) {
  if (pdwDeliveryType == nullptr) return E_POINTER;
  *pdwDeliveryType = DMUS_PMSGF_TOOL_IMMEDIATE;
  return S_OK;
}

HRESULT CMusicTool::GetMediaTypeArraySize(DWORD* pdwNumElements) {
  if (pdwNumElements == nullptr) return E_POINTER;
  *pdwNumElements = 3;
  return S_OK;
}

HRESULT CMusicTool::GetMediaTypes(DWORD** padwMediaTypes, DWORD dwNumElements) {
  if (dwNumElements != 3 && dwNumElements != 2) {
    DebugWindowPrint("This should never happen");
    return E_FAIL;
  }
  if (padwMediaTypes == nullptr || *padwMediaTypes == nullptr) return E_POINTER;
  DWORD* types = *padwMediaTypes;
  types[0] = DMUS_PMSGT_NOTE;
  types[1] = DMUS_PMSGT_PATCH;
  if (dwNumElements == 3) types[2] = DMUS_PMSGT_MIDI;
  return S_OK;
}

HRESULT CMusicTool::ProcessPMsg(IDirectMusicPerformance* pPerf, DMUS_PMSG* pPMSG) {
  if (pPMSG == nullptr || pPMSG->pGraph == nullptr) return DMUS_S_FREE;
  if (FAILED(pPMSG->pGraph->StampPMsg(pPMSG))) return DMUS_S_FREE;

  if (pPMSG->dwType == DMUS_PMSGT_MIDI) {
    auto* midi = static_cast<DMUS_MIDI_PMSG*>(pPMSG);
    if (midi->bStatus == kControlChange && midi->bByte1 == kChannelVolume && midi->bByte2 > kMaxDataByte) {
      midi->bByte2 = kMaxDataByte;
    }
    return PassOn(pPerf, pPMSG);
  }
  if (pPMSG->dwType == DMUS_PMSGT_PATCH) return PassOn(pPerf, pPMSG);

  // Notes go back to the performance, already stamped for the next tool.
  return DMUS_S_REQUEUE;
}

HRESULT CMusicTool::Flush(IDirectMusicPerformance* /*pPerf*/, DMUS_PMSG* /*pPMSG*/, REFERENCE_TIME /*rtTime*/) {
  return E_NOTIMPL;
}
