#include "engine/music_tool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/com/unknown.h"

namespace {

// What happened to messages, in order: "stamp" and "send" events with the MIDI
// bytes as they were at that moment.
struct Event {
  std::string what;
  DWORD type;
  BYTE status, byte1, byte2;
};

Event Snapshot(const char* what, const DMUS_PMSG* msg) {
  Event e{what, msg->dwType, 0, 0, 0};
  if (msg->dwType == DMUS_PMSGT_MIDI) {
    const auto* midi = static_cast<const DMUS_MIDI_PMSG*>(msg);
    e.status = midi->bStatus;
    e.byte1 = midi->bByte1;
    e.byte2 = midi->bByte2;
  }
  return e;
}

class RecordingGraph final : public IDirectMusicGraph {
 public:
  explicit RecordingGraph(std::vector<Event>& events) : events_(events) {}
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT StampPMsg(DMUS_PMSG* msg) override {
    events_.push_back(Snapshot("stamp", msg));
    return stampResult;
  }
  HRESULT InsertTool(IDirectMusicTool*, DWORD*, DWORD, LONG) override { return E_NOTIMPL; }
  HRESULT GetTool(DWORD, IDirectMusicTool**) override { return E_NOTIMPL; }
  HRESULT RemoveTool(IDirectMusicTool*) override { return E_NOTIMPL; }

  HRESULT stampResult = S_OK;

 private:
  std::vector<Event>& events_;
};

class RecordingPerformance final : public IDirectMusicPerformance {
 public:
  explicit RecordingPerformance(std::vector<Event>& events) : events_(events) {}
  HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }
  HRESULT SendPMsg(DMUS_PMSG* msg) override {
    events_.push_back(Snapshot("send", msg));
    return E_FAIL;  // the tool does not look at this result
  }
  HRESULT Stop(IDirectMusicSegment*, IDirectMusicSegmentState*, MUSIC_TIME, DWORD) override { return E_NOTIMPL; }
  HRESULT GetTime(REFERENCE_TIME*, MUSIC_TIME*) override { return E_NOTIMPL; }
  HRESULT AllocPMsg(ULONG, DMUS_PMSG**) override { return E_NOTIMPL; }
  HRESULT FreePMsg(DMUS_PMSG*) override { return E_NOTIMPL; }
  HRESULT MusicToReferenceTime(MUSIC_TIME, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT ReferenceToMusicTime(REFERENCE_TIME, MUSIC_TIME*) override { return E_NOTIMPL; }
  HRESULT GetGraph(IDirectMusicGraph**) override { return E_NOTIMPL; }
  HRESULT AddNotificationType(REFGUID) override { return E_NOTIMPL; }
  HRESULT RemoveNotificationType(REFGUID) override { return E_NOTIMPL; }
  HRESULT GetNotificationPMsg(DMUS_NOTIFICATION_PMSG**) override { return E_NOTIMPL; }
  HRESULT GetGlobalParam(REFGUID, void*, DWORD) override { return E_NOTIMPL; }
  HRESULT SetGlobalParam(REFGUID, void*, DWORD) override { return E_NOTIMPL; }
  HRESULT CloseDown() override { return E_NOTIMPL; }

 private:
  std::vector<Event>& events_;
};

class MusicToolTest : public ::testing::Test {
 protected:
  DMUS_MIDI_PMSG Midi(BYTE status, BYTE byte1, BYTE byte2) {
    DMUS_MIDI_PMSG msg{};
    msg.dwSize = sizeof msg;
    msg.dwType = DMUS_PMSGT_MIDI;
    msg.pGraph = &graph_;
    msg.bStatus = status;
    msg.bByte1 = byte1;
    msg.bByte2 = byte2;
    return msg;
  }

  std::vector<Event> events_;
  RecordingGraph graph_{events_};
  RecordingPerformance perf_{events_};
  platform::ComPtr<CMusicTool> tool_ = platform::ComPtr<CMusicTool>::Adopt(new CMusicTool);
};

TEST_F(MusicToolTest, ChannelVolumeAboveMaximumIsClampedOnChannelOneOnly) {
  struct Case {
    BYTE in[3];
    BYTE out[3];
  };
  const Case cases[] = {
      {{0xB0, 0x07, 0xC8}, {0xB0, 0x07, 0x7F}},                                            // clamped
      {{0xB0, 0x07, 0x80}, {0xB0, 0x07, 0x7F}},                                            // lowest out-of-range value
      {{0xB0, 0x07, 0xFF}, {0xB0, 0x07, 0x7F}}, {{0xB0, 0x07, 0x7F}, {0xB0, 0x07, 0x7F}},  // in range
      {{0xB0, 0x07, 0x00}, {0xB0, 0x07, 0x00}}, {{0xB1, 0x07, 0xC8}, {0xB1, 0x07, 0xC8}},  // another channel
      {{0xB0, 0x0A, 0xC8}, {0xB0, 0x0A, 0xC8}},                                            // another controller
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int(c.in[0]) << " " << int(c.in[1]) << " " << int(c.in[2]));
    events_.clear();
    DMUS_MIDI_PMSG msg = Midi(c.in[0], c.in[1], c.in[2]);
    EXPECT_EQ(tool_->ProcessPMsg(&perf_, &msg), S_OK);
    EXPECT_EQ(msg.bStatus, c.out[0]);
    EXPECT_EQ(msg.bByte1, c.out[1]);
    EXPECT_EQ(msg.bByte2, c.out[2]);
    // Stamped first, then passed on once with the final bytes.
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[0].what, "stamp");
    EXPECT_EQ(events_[1].what, "send");
    EXPECT_EQ(events_[1].byte2, c.out[2]);
  }
}

TEST_F(MusicToolTest, PatchIsStampedAndPassedOnUnchanged) {
  DMUS_PATCH_PMSG msg{};
  msg.dwType = DMUS_PMSGT_PATCH;
  msg.pGraph = &graph_;
  msg.byInstrument = 0x30;
  msg.byMSB = 0x79;
  msg.byLSB = 0x01;
  DMUS_PATCH_PMSG before = msg;
  EXPECT_EQ(tool_->ProcessPMsg(&perf_, &msg), S_OK);
  EXPECT_EQ(std::memcmp(&msg, &before, sizeof msg), 0);
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[0].what, "stamp");
  EXPECT_EQ(events_[1].what, "send");
}

TEST_F(MusicToolTest, NoteIsStampedAndRequeuedNotSent) {
  DMUS_NOTE_PMSG msg{};
  msg.dwType = DMUS_PMSGT_NOTE;
  msg.pGraph = &graph_;
  msg.bMidiValue = 60;
  msg.bVelocity = 127;
  EXPECT_EQ(tool_->ProcessPMsg(&perf_, &msg), DMUS_S_REQUEUE);
  EXPECT_EQ(static_cast<std::uint32_t>(DMUS_S_REQUEUE), 0x08781200u);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].what, "stamp");
  EXPECT_EQ(msg.bMidiValue, 60);
  EXPECT_EQ(msg.bVelocity, 127);
}

TEST_F(MusicToolTest, MessageIsFreedWithoutGraphOrWhenStampingFails) {
  DMUS_MIDI_PMSG noGraph = Midi(0xB0, 0x07, 0xC8);
  noGraph.pGraph = nullptr;
  EXPECT_EQ(tool_->ProcessPMsg(&perf_, &noGraph), DMUS_S_FREE);
  EXPECT_EQ(static_cast<std::uint32_t>(DMUS_S_FREE), 0x08781201u);
  EXPECT_TRUE(events_.empty());
  EXPECT_EQ(noGraph.bByte2, 0xC8);

  graph_.stampResult = E_POINTER;
  for (DWORD type : {DMUS_PMSGT_MIDI, DMUS_PMSGT_PATCH, DMUS_PMSGT_NOTE}) {
    events_.clear();
    DMUS_MIDI_PMSG msg = Midi(0xB0, 0x07, 0xC8);
    msg.dwType = type;
    EXPECT_EQ(tool_->ProcessPMsg(&perf_, &msg), DMUS_S_FREE);
    ASSERT_EQ(events_.size(), 1u);  // the failed stamping only; nothing sent
    EXPECT_EQ(events_[0].what, "stamp");
    EXPECT_EQ(msg.bByte2, 0xC8);
  }
}

TEST_F(MusicToolTest, AsksForNotesPatchesAndMidiDeliveredImmediately) {
  DWORD delivery = 0;
  EXPECT_EQ(tool_->GetMsgDeliveryType(&delivery), S_OK);
  EXPECT_EQ(delivery, DMUS_PMSGF_TOOL_IMMEDIATE);
  DWORD size = 0;
  EXPECT_EQ(tool_->GetMediaTypeArraySize(&size), S_OK);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(tool_->Init(nullptr), E_NOTIMPL);
  EXPECT_EQ(tool_->Flush(&perf_, nullptr, 0), E_NOTIMPL);

  DWORD three[3] = {99, 99, 99};
  DWORD* p = three;
  EXPECT_EQ(tool_->GetMediaTypes(&p, 3), S_OK);
  EXPECT_EQ(three[0], DMUS_PMSGT_NOTE);
  EXPECT_EQ(three[1], DMUS_PMSGT_PATCH);
  EXPECT_EQ(three[2], DMUS_PMSGT_MIDI);

  DWORD two[3] = {99, 99, 99};
  p = two;
  EXPECT_EQ(tool_->GetMediaTypes(&p, 2), S_OK);
  EXPECT_EQ(two[0], DMUS_PMSGT_NOTE);
  EXPECT_EQ(two[1], DMUS_PMSGT_PATCH);
  EXPECT_EQ(two[2], 99u);
}

TEST_F(MusicToolTest, OtherArraySizeFailsOnTheDebugChannelOnly) {
  DWORD four[4] = {99, 99, 99, 99};
  DWORD* p = four;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(tool_->GetMediaTypes(&p, 4), E_FAIL);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "This should never happen\n");
  for (DWORD v : four) EXPECT_EQ(v, 99u);
}

TEST_F(MusicToolTest, AnswersOnlyItsTwoInterfaces) {
  const IID tool8{0x0E674303, 0x3B05, 0x11D3, {0x9B, 0xD1, 0xF9, 0xE7, 0xF0, 0xA0, 0x15, 0x36}};
  void* out = nullptr;
  EXPECT_EQ(tool_->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(out, static_cast<IDirectMusicTool*>(tool_.Get()));
  EXPECT_EQ(tool_->Release(), 1u);
  out = nullptr;
  EXPECT_EQ(tool_->QueryInterface(IID_IDirectMusicTool, &out), S_OK);
  EXPECT_EQ(out, static_cast<IDirectMusicTool*>(tool_.Get()));
  EXPECT_EQ(tool_->Release(), 1u);

  for (const IID& other : {tool8, IID_IDirectMusicGraph, IID_IClassFactory}) {
    out = &out;
    EXPECT_EQ(tool_->QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
  }
  EXPECT_EQ(tool_->AddRef(), 2u);  // unchanged by the refusals
  EXPECT_EQ(tool_->Release(), 1u);
}

TEST(MusicToolLifetime, CountsReferencesAndGoesAtZero) {
  auto* tool = new CMusicTool;
  EXPECT_EQ(tool->AddRef(), 2u);
  EXPECT_EQ(tool->Release(), 1u);
  EXPECT_EQ(tool->Release(), 0u);  // destroyed here; the sanitizer build reports a leak otherwise
}

}  // namespace
