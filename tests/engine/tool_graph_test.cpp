#include "platform/dmusic/tool_graph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/music_tool.h"

namespace {

// A tool that says what it wants and counts what is done to it. The test owns it;
// the count shows the references others hold.
class FakeTool final : public IDirectMusicTool {
 public:
  FakeTool(DWORD delivery, std::vector<DWORD> types) : delivery_(delivery), types_(std::move(types)) {}
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override { return --refs; }
  HRESULT Init(IDirectMusicGraph* graph) override {
    initGraph = graph;
    return S_OK;
  }
  HRESULT GetMsgDeliveryType(DWORD* type) override {
    *type = delivery_;
    return S_OK;
  }
  HRESULT GetMediaTypeArraySize(DWORD* n) override {
    *n = static_cast<DWORD>(types_.size());
    return S_OK;
  }
  HRESULT GetMediaTypes(DWORD** types, DWORD n) override {
    if (failMediaTypes || n != types_.size()) return E_FAIL;
    for (DWORD i = 0; i < n; ++i) (*types)[i] = types_[i];
    return S_OK;
  }
  HRESULT ProcessPMsg(IDirectMusicPerformance*, DMUS_PMSG*) override { return DMUS_S_FREE; }
  HRESULT Flush(IDirectMusicPerformance*, DMUS_PMSG*, REFERENCE_TIME) override { return S_OK; }

  std::atomic<int> refs{1};
  IDirectMusicGraph* initGraph = nullptr;
  bool failMediaTypes = false;

 private:
  DWORD delivery_;
  std::vector<DWORD> types_;
};

struct GraphHolder {
  platform::ComPtr<CToolGraph> graph = platform::ComPtr<CToolGraph>::Adopt(new CToolGraph);
};

IDirectMusicTool* ToolAt(CToolGraph& graph, DWORD index) {
  IDirectMusicTool* tool = nullptr;
  if (FAILED(graph.GetTool(index, &tool))) return nullptr;
  tool->Release();  // the test's tools stay alive; only identity matters here
  return tool;
}

// Gives up the references a stamped message holds, as freeing it does.
void FreeReferences(DMUS_PMSG& msg) {
  if (msg.pTool) msg.pTool->Release();
  if (msg.pGraph) msg.pGraph->Release();
  msg.pTool = nullptr;
  msg.pGraph = nullptr;
}

TEST(ToolGraph, InsertsAtIndexFromEitherEnd) {
  FakeTool a(DMUS_PMSGF_TOOL_IMMEDIATE, {}), b(DMUS_PMSGF_TOOL_IMMEDIATE, {}), c(DMUS_PMSGF_TOOL_IMMEDIATE, {}),
      d(DMUS_PMSGF_TOOL_IMMEDIATE, {}), e(DMUS_PMSGF_TOOL_IMMEDIATE, {});
  {
    GraphHolder h;
    EXPECT_EQ(h.graph->InsertTool(&a, nullptr, 0, 0), S_OK);
    EXPECT_EQ(h.graph->InsertTool(&b, nullptr, 0, 0), S_OK);     // first: b a
    EXPECT_EQ(h.graph->InsertTool(&c, nullptr, 0, -1), S_OK);    // before the last: b c a
    EXPECT_EQ(h.graph->InsertTool(&d, nullptr, 0, 100), S_OK);   // past the end: b c a d
    EXPECT_EQ(h.graph->InsertTool(&e, nullptr, 0, -100), S_OK);  // before the start: e b c a d
    const IDirectMusicTool* expected[] = {&e, &b, &c, &a, &d};
    for (DWORD i = 0; i < 5; ++i) EXPECT_EQ(ToolAt(*h.graph.Get(), i), expected[i]) << i;
    IDirectMusicTool* none = nullptr;
    EXPECT_EQ(h.graph->GetTool(5, &none), DMUS_E_NOT_FOUND);

    EXPECT_EQ(a.initGraph, h.graph.Get());
    EXPECT_EQ(a.refs, 2);
    IDirectMusicTool* got = nullptr;
    ASSERT_EQ(h.graph->GetTool(0, &got), S_OK);
    EXPECT_EQ(e.refs, 3);  // GetTool hands out a reference of the caller's own
    got->Release();

    EXPECT_EQ(h.graph->InsertTool(&a, nullptr, 0, 0), DMUS_E_ALREADY_EXISTS);
    EXPECT_EQ(a.refs, 2);
    EXPECT_EQ(ToolAt(*h.graph.Get(), 0), &e);

    // A message on its way to a tool that is taken out goes on to the output tool.
    FakeTool output(DMUS_PMSGF_TOOL_IMMEDIATE, {});
    h.graph->SetOutputTool(&output);
    DMUS_PMSG msg{};
    ASSERT_EQ(h.graph->StampPMsg(&msg), S_OK);
    ASSERT_EQ(h.graph->StampPMsg(&msg), S_OK);
    ASSERT_EQ(h.graph->StampPMsg(&msg), S_OK);
    ASSERT_EQ(msg.pTool, &c);
    EXPECT_EQ(h.graph->RemoveTool(&c), S_OK);
    EXPECT_EQ(c.refs, 2);  // still held by the message
    ASSERT_EQ(h.graph->StampPMsg(&msg), S_OK);
    EXPECT_EQ(msg.pTool, &output);
    FreeReferences(msg);
    h.graph->SetOutputTool(nullptr);

    EXPECT_EQ(c.refs, 1);
    EXPECT_EQ(h.graph->RemoveTool(&c), DMUS_E_NOT_FOUND);
    EXPECT_EQ(ToolAt(*h.graph.Get(), 2), &a);
  }
  // The graph's last reference released every tool it held.
  for (FakeTool* t : {&a, &b, &c, &d, &e}) EXPECT_EQ(t->refs, 1);
}

TEST(ToolGraph, ToolThatCannotNameItsMediaTypesIsNotInserted) {
  FakeTool bad(DMUS_PMSGF_TOOL_IMMEDIATE, {DMUS_PMSGT_NOTE});
  bad.failMediaTypes = true;
  GraphHolder h;
  EXPECT_EQ(h.graph->InsertTool(&bad, nullptr, 0, 0), E_FAIL);
  EXPECT_EQ(bad.refs, 1);
  EXPECT_EQ(ToolAt(*h.graph.Get(), 0), nullptr);
  EXPECT_EQ(h.graph->InsertTool(nullptr, nullptr, 0, 0), E_POINTER);
}

TEST(ToolGraph, StampingWalksToolsByTypeAndChannelThenOutputThenLast) {
  FakeTool notes(DMUS_PMSGF_TOOL_IMMEDIATE, {DMUS_PMSGT_NOTE});
  FakeTool channel3(DMUS_PMSGF_TOOL_QUEUE, {});
  FakeTool midiPatch(DMUS_PMSGF_TOOL_ATTIME, {DMUS_PMSGT_MIDI, DMUS_PMSGT_PATCH});
  FakeTool output(DMUS_PMSGF_TOOL_QUEUE, {DMUS_PMSGT_USER});  // the output tool takes everything regardless
  {
    GraphHolder h;
    DWORD channels[] = {3};
    ASSERT_EQ(h.graph->InsertTool(&notes, nullptr, 0, 100), S_OK);
    ASSERT_EQ(h.graph->InsertTool(&channel3, channels, 1, 100), S_OK);
    ASSERT_EQ(h.graph->InsertTool(&midiPatch, nullptr, 0, 100), S_OK);
    h.graph->SetOutputTool(&output);

    DMUS_MIDI_PMSG midi{};
    midi.dwType = DMUS_PMSGT_MIDI;
    midi.dwPChannel = 3;
    midi.dwFlags = DMUS_PMSGF_MUSICTIME | DMUS_PMSGF_TOOL_IMMEDIATE;
    ASSERT_EQ(h.graph->StampPMsg(&midi), S_OK);
    EXPECT_EQ(midi.pTool, &channel3);
    EXPECT_EQ(midi.pGraph, h.graph.Get());
    EXPECT_EQ(midi.dwFlags, DMUS_PMSGF_MUSICTIME | DMUS_PMSGF_TOOL_QUEUE);
    EXPECT_EQ(channel3.refs, 3);
    ASSERT_EQ(h.graph->StampPMsg(&midi), S_OK);
    EXPECT_EQ(midi.pTool, &midiPatch);
    EXPECT_EQ(midi.dwFlags, DMUS_PMSGF_MUSICTIME | DMUS_PMSGF_TOOL_ATTIME);
    EXPECT_EQ(channel3.refs, 2);  // the previous tool's reference was given back
    ASSERT_EQ(h.graph->StampPMsg(&midi), S_OK);
    EXPECT_EQ(midi.pTool, &output);
    EXPECT_EQ(midi.dwFlags, DMUS_PMSGF_MUSICTIME | DMUS_PMSGF_TOOL_QUEUE);
    EXPECT_EQ(h.graph->StampPMsg(&midi), DMUS_S_LAST_TOOL);
    EXPECT_EQ(midi.pTool, nullptr);
    EXPECT_EQ(output.refs, 2);  // only the graph's own

    // A note on another channel skips the channel-3 tool and the MIDI tool.
    DMUS_NOTE_PMSG note{};
    note.dwType = DMUS_PMSGT_NOTE;
    note.dwPChannel = 0;
    ASSERT_EQ(h.graph->StampPMsg(&note), S_OK);
    EXPECT_EQ(note.pTool, &notes);
    ASSERT_EQ(h.graph->StampPMsg(&note), S_OK);
    EXPECT_EQ(note.pTool, &output);

    // The graph is held by each message it stamped: two messages, two references.
    EXPECT_EQ(h.graph->AddRef(), 4u);
    h.graph->Release();
    FreeReferences(midi);
    FreeReferences(note);
    EXPECT_EQ(h.graph->AddRef(), 2u);
    h.graph->Release();

    // Without an output tool the last matching tool is the end.
    h.graph->SetOutputTool(nullptr);
    EXPECT_EQ(output.refs, 1);
    DMUS_PATCH_PMSG patch{};
    patch.dwType = DMUS_PMSGT_PATCH;
    ASSERT_EQ(h.graph->StampPMsg(&patch), S_OK);
    EXPECT_EQ(patch.pTool, &midiPatch);
    EXPECT_EQ(h.graph->StampPMsg(&patch), DMUS_S_LAST_TOOL);
    EXPECT_EQ(patch.pTool, nullptr);
    FreeReferences(patch);
    EXPECT_EQ(h.graph->StampPMsg(nullptr), E_POINTER);
  }
  for (FakeTool* t : {&notes, &channel3, &midiPatch, &output}) EXPECT_EQ(t->refs, 1);
}

TEST(ToolGraph, MessageFromAnotherGraphStartsAtTheFirstTool) {
  FakeTool first(DMUS_PMSGF_TOOL_IMMEDIATE, {}), foreign(DMUS_PMSGF_TOOL_IMMEDIATE, {});
  GraphHolder h, other;
  ASSERT_EQ(h.graph->InsertTool(&first, nullptr, 0, 0), S_OK);
  ASSERT_EQ(other.graph->InsertTool(&foreign, nullptr, 0, 0), S_OK);
  DMUS_PMSG msg{};
  ASSERT_EQ(other.graph->StampPMsg(&msg), S_OK);
  EXPECT_EQ(msg.pTool, &foreign);
  ASSERT_EQ(h.graph->StampPMsg(&msg), S_OK);
  EXPECT_EQ(msg.pTool, &first);
  EXPECT_EQ(msg.pGraph, h.graph.Get());
  FreeReferences(msg);
  EXPECT_EQ(other.graph->AddRef(), 2u);  // the other graph's message reference went with the restamp
  other.graph->Release();
}

TEST(ToolGraph, AnswersItsOwnInterface) {
  GraphHolder h;
  void* out = nullptr;
  EXPECT_EQ(h.graph->QueryInterface(IID_IDirectMusicGraph, &out), S_OK);
  EXPECT_EQ(out, static_cast<IDirectMusicGraph*>(h.graph.Get()));
  h.graph->Release();
  EXPECT_EQ(h.graph->QueryInterface(IID_IDirectMusicTool, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST(ToolGraph, MusicToolInsertedFirstPassesNotesOnToTheOutput) {
  FakeTool output(DMUS_PMSGF_TOOL_QUEUE, {});
  auto* tool = new CMusicTool;
  {
    GraphHolder h;
    h.graph->SetOutputTool(&output);
    ASSERT_EQ(h.graph->InsertTool(tool, nullptr, 0, 0), S_OK);  // its Init fails; that is not examined
    DMUS_NOTE_PMSG note{};
    note.dwType = DMUS_PMSGT_NOTE;
    ASSERT_EQ(h.graph->StampPMsg(&note), S_OK);
    EXPECT_EQ(note.pTool, tool);
    EXPECT_EQ(note.dwFlags & DMUS_PMSGF_TOOL_IMMEDIATE, DMUS_PMSGF_TOOL_IMMEDIATE);
    EXPECT_EQ(note.pTool->ProcessPMsg(nullptr, &note), DMUS_S_REQUEUE);
    EXPECT_EQ(note.pTool, &output);
    FreeReferences(note);

    // A message type the music tool did not ask for goes straight to the output.
    DMUS_TEMPO_PMSG tempo{};
    tempo.dwType = DMUS_PMSGT_TEMPO;
    ASSERT_EQ(h.graph->StampPMsg(&tempo), S_OK);
    EXPECT_EQ(tempo.pTool, &output);
    FreeReferences(tempo);
    EXPECT_EQ(tool->AddRef(), 3u);  // ours and the graph's
    tool->Release();
  }
  EXPECT_EQ(tool->Release(), 0u);
  EXPECT_EQ(output.refs, 1);
}

TEST(ToolGraph, StampingWhileToolsComeAndGoIsSafe) {
  FakeTool stable(DMUS_PMSGF_TOOL_IMMEDIATE, {}), churn(DMUS_PMSGF_TOOL_IMMEDIATE, {}),
      output(DMUS_PMSGF_TOOL_IMMEDIATE, {});
  {
    GraphHolder h;
    h.graph->SetOutputTool(&output);
    ASSERT_EQ(h.graph->InsertTool(&stable, nullptr, 0, 0), S_OK);
    std::atomic<bool> stop{false};
    auto stamper = [&] {
      while (!stop) {
        DMUS_PMSG msg{};
        while (h.graph->StampPMsg(&msg) == S_OK) {
        }
        FreeReferences(msg);
      }
    };
    std::thread t1(stamper), t2(stamper);
    for (int i = 0; i < 2000; ++i) {
      h.graph->InsertTool(&churn, nullptr, 0, i % 2 ? 0 : -1);
      h.graph->RemoveTool(&churn);
    }
    stop = true;
    t1.join();
    t2.join();
  }
  for (FakeTool* t : {&stable, &churn, &output}) EXPECT_EQ(t->refs, 1);
}

}  // namespace
