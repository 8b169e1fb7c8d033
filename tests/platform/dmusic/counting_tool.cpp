#include "tests/platform/dmusic/counting_tool.h"

namespace dmusic_test {

HRESULT CountingTool::QueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IUnknown || riid == IID_IDirectMusicTool) {
    *ppv = static_cast<IDirectMusicTool*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT CountingTool::GetMsgDeliveryType(DWORD* type) {
  *type = DMUS_PMSGF_TOOL_IMMEDIATE;
  return S_OK;
}

HRESULT CountingTool::GetMediaTypeArraySize(DWORD* count) {
  *count = 3;
  return S_OK;
}

HRESULT CountingTool::GetMediaTypes(DWORD** types, DWORD count) {
  if (count < 3) return E_INVALIDARG;
  (*types)[0] = DMUS_PMSGT_NOTE;
  (*types)[1] = DMUS_PMSGT_PATCH;
  (*types)[2] = DMUS_PMSGT_MIDI;
  return S_OK;
}

HRESULT CountingTool::ProcessPMsg(IDirectMusicPerformance*, DMUS_PMSG* msg) {
  if (msg->dwType == DMUS_PMSGT_NOTE && (static_cast<DMUS_NOTE_PMSG*>(msg)->bFlags & DMUS_NOTEF_NOTEON) != 0) ++notes;
  if (msg->dwType == DMUS_PMSGT_PATCH) {
    ++patches;
    lastPatchMsb = static_cast<DMUS_PATCH_PMSG*>(msg)->byMSB;
  }
  if (msg->dwType == DMUS_PMSGT_MIDI) {
    ++midi;
    const auto* m = static_cast<DMUS_MIDI_PMSG*>(msg);
    ++midiMessages[(static_cast<std::uint32_t>(m->bStatus) << 16) | (m->bByte1 << 8) | m->bByte2];
  }
  if (msg->pGraph == nullptr || FAILED(msg->pGraph->StampPMsg(msg))) return DMUS_S_FREE;
  return DMUS_S_REQUEUE;
}

}  // namespace dmusic_test
