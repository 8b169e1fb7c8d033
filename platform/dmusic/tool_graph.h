// The tool graph of a performance: an ordered list of tools that every performance
// message passes through, each tool seeing only the message types and performance
// channels it asked for, and last of all the performance's output tool.
//
// How the performance drives a message through the graph
// -------------------------------------------------------
// 1. A new message has pTool == nullptr. The performance calls StampPMsg on it,
//    which stamps the first tool that accepts the message (or the output tool when
//    no inserted tool does), stores this graph in pGraph and sets the delivery flag
//    of that tool in dwFlags (one of DMUS_PMSGF_TOOL_IMMEDIATE / _QUEUE / _ATTIME;
//    the other two are cleared).
// 2. When the message is due for that delivery type, the performance calls
//    pPMSG->pTool->ProcessPMsg(performance, pPMSG) and acts on the result:
//      S_OK            the tool has taken the message: it stamped it itself and
//                      handed it back with SendPMsg (or freed it). Do nothing more.
//      DMUS_S_REQUEUE  the tool stamped the message and wants it delivered to its
//                      new pTool: queue it again exactly as it stands (no stamping).
//      DMUS_S_FREE     free the message (FreePMsg).
//      anything else   treat as DMUS_S_FREE.
// 3. SendPMsg(pPMSG) queues the message for its already stamped pTool, by the
//    delivery flag in dwFlags. A message sent with pTool == nullptr has never been
//    stamped: the performance stamps it first (step 1).
// 4. A tool that stamps a message which already sits at the output tool gets
//    DMUS_S_LAST_TOOL and pTool == nullptr: there is no one left to deliver it to,
//    and the message is freed (the output tool itself plays a message and returns
//    DMUS_S_FREE).
// 5. A stamped message holds one reference to pTool and one to pGraph. FreePMsg
//    must release both (and punkUser) before the memory goes.
// 6. The graph holds a reference to every inserted tool and to the output tool.
//    CloseDown calls Clear() so that no tool outlives the performance's use of it;
//    the graph releases what is left when its own last reference goes.
//
// StampPMsg finds the tool to start after like this: pTool == nullptr, or a
// message last stamped by another graph, starts at the first inserted tool; an
// inserted tool continues with the tools after it; a tool taken out of the graph
// meanwhile continues with the output tool (a note-off in flight still sounds);
// the output tool has nothing after it.
//
// Every method may be called from any thread; the graph's list is locked. The
// graph never calls into a tool while it holds its lock, so a tool may call back
// into the graph (from Init, or by releasing its last reference).
#pragma once

#include <mutex>
#include <vector>

#include "platform/com/com_object.h"
#include "platform/dmusic/dmusic.h"

class CToolGraph final : public platform::ComObject<IDirectMusicGraph, IID_IDirectMusicGraph> {
 public:
  // Starts with one reference, owned by whoever created it.
  CToolGraph() = default;

  // IDirectMusicGraph
  //
  // Stamps the message with the next tool that accepts its dwType and dwPChannel
  // (see above). S_OK, DMUS_S_LAST_TOOL (pTool now null), or E_POINTER.
  HRESULT StampPMsg(DMUS_PMSG* pPMSG) override;
  // Takes a reference to the tool, calls its Init (the result is not examined),
  // GetMsgDeliveryType (IMMEDIATE if it fails), GetMediaTypeArraySize (0 = all
  // types, also if it fails) and GetMediaTypes with an array of that size, and
  // places it at lIndex: 0 is the first place, a negative index counts from the
  // end (-1 before the last tool), out of range clamps to the first or last place.
  // pdwPChannels null (or cPChannels 0) accepts every performance channel.
  // E_POINTER for a null tool; DMUS_E_ALREADY_EXISTS if the tool is in the graph;
  // a failure of GetMediaTypes is returned as is and the tool is not inserted.
  HRESULT InsertTool(IDirectMusicTool* pTool, DWORD* pdwPChannels, DWORD cPChannels, LONG lIndex) override;
  // The inserted tool at dwIndex, with a reference for the caller; DMUS_E_NOT_FOUND
  // past the last tool (the output tool is not counted).
  HRESULT GetTool(DWORD dwIndex, IDirectMusicTool** ppTool) override;
  // Takes the tool out and releases the graph's reference; DMUS_E_NOT_FOUND if it is
  // not in the graph.
  HRESULT RemoveTool(IDirectMusicTool* pTool) override;

  // The performance's output tool, stamped after every inserted tool and accepting
  // every message; the graph keeps a reference (null removes it). Its delivery type
  // is asked once, here.
  void SetOutputTool(IDirectMusicTool* pTool);
  // Releases every inserted tool and the output tool.
  void Clear();

 private:
  struct Entry {
    platform::ComPtr<IDirectMusicTool> tool;
    DWORD deliveryType = DMUS_PMSGF_TOOL_IMMEDIATE;
    std::vector<DWORD> mediaTypes;  // empty: every type
    std::vector<DWORD> channels;    // empty: every performance channel
    bool Accepts(const DMUS_PMSG& msg) const;
  };

  // Only Release destroys the graph.
  ~CToolGraph() override = default;

  mutable std::mutex m_lock;
  std::vector<Entry> m_tools;
  Entry m_output;  // tool is null until SetOutputTool
};
