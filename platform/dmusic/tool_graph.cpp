#include "platform/dmusic/tool_graph.h"

#include <algorithm>
#include <utility>

namespace {

constexpr DWORD kDeliveryFlags = DMUS_PMSGF_TOOL_IMMEDIATE | DMUS_PMSGF_TOOL_QUEUE | DMUS_PMSGF_TOOL_ATTIME;

// A tool's delivery type; IMMEDIATE unless it names exactly one known type.
DWORD AskDeliveryType(IDirectMusicTool* tool) {
  DWORD type = 0;
  if (FAILED(tool->GetMsgDeliveryType(&type))) return DMUS_PMSGF_TOOL_IMMEDIATE;
  if (type == DMUS_PMSGF_TOOL_QUEUE || type == DMUS_PMSGF_TOOL_ATTIME) return type;
  return DMUS_PMSGF_TOOL_IMMEDIATE;
}

}  // namespace

bool CToolGraph::Entry::Accepts(const DMUS_PMSG& msg) const {
  if (!mediaTypes.empty() && std::find(mediaTypes.begin(), mediaTypes.end(), msg.dwType) == mediaTypes.end()) {
    return false;
  }
  return channels.empty() || std::find(channels.begin(), channels.end(), msg.dwPChannel) != channels.end();
}

HRESULT CToolGraph::StampPMsg(DMUS_PMSG* pPMSG) {
  if (pPMSG == nullptr) return E_POINTER;
  // The references the message gives up are released once the lock is let go.
  platform::ComPtr<IDirectMusicTool> oldTool = platform::ComPtr<IDirectMusicTool>::Adopt(pPMSG->pTool);
  platform::ComPtr<IDirectMusicGraph> oldGraph = platform::ComPtr<IDirectMusicGraph>::Adopt(pPMSG->pGraph);
  HRESULT result = S_OK;
  {
    std::lock_guard lock(m_lock);
    const Entry* next = nullptr;
    std::size_t start = 0;
    bool afterOutput = false;
    if (oldTool && oldGraph.Get() == this) {
      auto current =
          std::find_if(m_tools.begin(), m_tools.end(), [&](const Entry& e) { return e.tool.Get() == oldTool.Get(); });
      if (current != m_tools.end()) {
        start = static_cast<std::size_t>(current - m_tools.begin()) + 1;
      } else if (oldTool.Get() == m_output.tool.Get()) {
        afterOutput = true;
      } else {
        // A tool taken out of the graph while the message was on its way: only the
        // output tool is left, so the message still sounds.
        start = m_tools.size();
      }
    }
    if (!afterOutput) {
      for (std::size_t i = start; i < m_tools.size() && next == nullptr; ++i) {
        if (m_tools[i].Accepts(*pPMSG)) next = &m_tools[i];
      }
      if (next == nullptr && m_output.tool) next = &m_output;
    }

    pPMSG->pGraph = this;
    AddRef();
    if (next != nullptr) {
      pPMSG->pTool = platform::ComPtr<IDirectMusicTool>::Share(next->tool.Get()).Detach();
      pPMSG->dwFlags = (pPMSG->dwFlags & ~kDeliveryFlags) | next->deliveryType;
    } else {
      pPMSG->pTool = nullptr;
      result = DMUS_S_LAST_TOOL;
    }
  }
  return result;
}

HRESULT CToolGraph::InsertTool(IDirectMusicTool* pTool, DWORD* pdwPChannels, DWORD cPChannels, LONG lIndex) {
  if (pTool == nullptr) return E_POINTER;
  auto contains = [&] {
    return std::any_of(m_tools.begin(), m_tools.end(), [&](const Entry& e) { return e.tool.Get() == pTool; });
  };
  {
    std::lock_guard lock(m_lock);
    if (contains()) return DMUS_E_ALREADY_EXISTS;
  }

  // Ask the tool what it wants without holding the lock: it may call back.
  Entry entry;
  entry.tool = platform::ComPtr<IDirectMusicTool>::Share(pTool);
  pTool->Init(this);
  entry.deliveryType = AskDeliveryType(pTool);
  DWORD count = 0;
  if (FAILED(pTool->GetMediaTypeArraySize(&count))) count = 0;
  if (count > 0) {
    entry.mediaTypes.assign(count, 0);
    DWORD* types = entry.mediaTypes.data();
    const HRESULT hr = pTool->GetMediaTypes(&types, count);
    if (FAILED(hr)) return hr;
  }
  if (pdwPChannels != nullptr && cPChannels > 0) entry.channels.assign(pdwPChannels, pdwPChannels + cPChannels);

  std::lock_guard lock(m_lock);
  if (contains()) return DMUS_E_ALREADY_EXISTS;  // inserted by another thread meanwhile
  const auto size = static_cast<LONG>(m_tools.size());
  const LONG place = std::clamp(lIndex < 0 ? size + lIndex : lIndex, LONG{0}, size);
  m_tools.insert(m_tools.begin() + place, std::move(entry));
  return S_OK;
}

HRESULT CToolGraph::GetTool(DWORD dwIndex, IDirectMusicTool** ppTool) {
  if (ppTool == nullptr) return E_POINTER;
  std::lock_guard lock(m_lock);
  if (dwIndex >= m_tools.size()) return DMUS_E_NOT_FOUND;
  *ppTool = platform::ComPtr<IDirectMusicTool>::Share(m_tools[dwIndex].tool.Get()).Detach();
  return S_OK;
}

HRESULT CToolGraph::RemoveTool(IDirectMusicTool* pTool) {
  if (pTool == nullptr) return E_POINTER;
  platform::ComPtr<IDirectMusicTool> removed;
  {
    std::lock_guard lock(m_lock);
    auto it = std::find_if(m_tools.begin(), m_tools.end(), [&](const Entry& e) { return e.tool.Get() == pTool; });
    if (it == m_tools.end()) return DMUS_E_NOT_FOUND;
    removed = std::move(it->tool);
    m_tools.erase(it);
  }
  return S_OK;
}

void CToolGraph::SetOutputTool(IDirectMusicTool* pTool) {
  Entry entry;
  if (pTool != nullptr) {
    entry.tool = platform::ComPtr<IDirectMusicTool>::Share(pTool);
    entry.deliveryType = AskDeliveryType(pTool);
  }
  {
    std::lock_guard lock(m_lock);
    std::swap(m_output, entry);
  }
}

void CToolGraph::Clear() {
  std::vector<Entry> tools;
  Entry output;
  {
    std::lock_guard lock(m_lock);
    std::swap(m_tools, tools);
    std::swap(m_output, output);
  }
}
