#include "tests/engine/engine_fakes.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <new>

#include "platform/dmusic/engine_classes.h"

namespace engine_fakes {
namespace {

// Reference counting and interface lookup shared by every fake; the object counts
// itself in the world while it lives.
template <typename I>
class Fake : public I {
 public:
  Fake(std::string kind, std::initializer_list<IID> iids) : kind_(std::move(kind)), iids_(iids) {
    ++TheWorld().live[kind_];
  }
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || std::find(iids_.begin(), iids_.end(), riid) != iids_.end()) {
      *ppv = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++ref_; }
  ULONG Release() override {
    const ULONG count = --ref_;
    if (count == 0) delete this;
    return count;
  }

 protected:
  virtual ~Fake() {
    --TheWorld().live[kind_];
    TheWorld().calls.push_back("~" + kind_);
  }
  HRESULT Call(const char* method) { return TheWorld().Call(kind_ + "::" + method); }

 private:
  std::string kind_;
  std::vector<IID> iids_;
  std::atomic<ULONG> ref_{1};
};

// Hands a new fake out through an interface pointer, as a creator or a call does.
template <typename T, typename I>
HRESULT HandOut(T* object, REFIID riid, void** ppv) {
  const HRESULT hr = object->QueryInterface(riid, ppv);
  object->Release();
  return hr;
}

class FakeBuffer final : public Fake<IDirectSoundBuffer8> {
 public:
  FakeBuffer() : Fake("Buffer", {IID_IDirectSoundBuffer8, IID_IDirectSoundBuffer}) {}
  HRESULT GetFormat(WAVEFORMATEX*, DWORD, DWORD*) override { return Call("GetFormat"); }
  HRESULT GetVolume(LONG* volume) override {
    *volume = 0;
    return Call("GetVolume");
  }
  HRESULT SetVolume(LONG volume) override {
    return Call(volume == DSBVOLUME_MAX ? "SetVolume(max)" : "SetVolume(other)");
  }
  HRESULT SetFX(DWORD, DSEFFECTDESC*, DWORD*) override { return Call("SetFX"); }
};

class FakeGraph final : public Fake<IDirectMusicGraph> {
 public:
  FakeGraph() : Fake("Graph", {IID_IDirectMusicGraph}) {}
  HRESULT StampPMsg(DMUS_PMSG*) override { return Call("StampPMsg"); }
  HRESULT InsertTool(IDirectMusicTool* tool, DWORD* channels, DWORD count, LONG index) override {
    const HRESULT hr = Call("InsertTool");
    if (SUCCEEDED(hr) && channels == nullptr && count == 0 && index == 0) {
      tool->AddRef();
      tools_.push_back(tool);
      TheWorld().insertedTools.push_back(tool);
    }
    return hr;
  }
  HRESULT GetTool(DWORD, IDirectMusicTool**) override { return Call("GetTool"); }
  HRESULT RemoveTool(IDirectMusicTool*) override { return Call("RemoveTool"); }

 private:
  ~FakeGraph() override {
    for (IDirectMusicTool* tool : tools_) tool->Release();
  }
  std::vector<IDirectMusicTool*> tools_;
};

class FakeAudioPath final : public Fake<IDirectMusicAudioPath> {
 public:
  FakeAudioPath() : Fake("AudioPath", {IID_IDirectMusicAudioPath}) {}
  HRESULT GetObjectInPath(DWORD channel, DWORD stage, DWORD buffer, REFGUID objectClass, DWORD index, REFGUID iid,
                          void** ppObject) override {
    *ppObject = nullptr;
    if (stage == DMUS_PATH_BUFFER) {
      const HRESULT hr = Call("GetObjectInPath(buffer)");
      if (FAILED(hr)) return hr;
      if (channel != DMUS_PCHANNEL_ALL || buffer != 0 || !(objectClass == GUID_NULL) || index != 0) return E_INVALIDARG;
      return HandOut<FakeBuffer, IDirectSoundBuffer8>(new FakeBuffer(), iid, ppObject);
    }
    if (stage == DMUS_PATH_PERFORMANCE_GRAPH) {
      const HRESULT hr = Call("GetObjectInPath(graph)");
      if (FAILED(hr)) return hr;
      if (channel != 0 || buffer != 0 || !(objectClass == GUID_NULL) || index != 0) return E_INVALIDARG;
      return HandOut<FakeGraph, IDirectMusicGraph>(new FakeGraph(), iid, ppObject);
    }
    return DMUS_E_NOT_FOUND;
  }
  HRESULT Activate(BOOL activate) override { return Call(activate ? "Activate(TRUE)" : "Activate(FALSE)"); }
  HRESULT SetVolume(LONG volume, DWORD duration) override {
    return Call(volume == 0 && duration == 0 ? "SetVolume(0,0)" : "SetVolume(other)");
  }
};

class FakeSegmentState final : public Fake<IDirectMusicSegmentState> {
 public:
  FakeSegmentState() : Fake("SegmentState", {IID_IDirectMusicSegmentState}) {}
  HRESULT GetStartTime(MUSIC_TIME* start) override {
    *start = 0;
    return Call("GetStartTime");
  }
};

class FakeSegment final : public Fake<IDirectMusicSegment8> {
 public:
  FakeSegment() : Fake("Segment", {IID_IDirectMusicSegment, IID_IDirectMusicSegment8}) {}
  HRESULT GetLength(MUSIC_TIME* length) override {
    *length = TheWorld().segmentLength;
    return Call("GetLength");
  }
  HRESULT SetLength(MUSIC_TIME) override { return Call("SetLength"); }
  HRESULT GetRepeats(DWORD* repeats) override {
    *repeats = 0;
    return Call("GetRepeats");
  }
  HRESULT SetRepeats(DWORD repeats) override { return Call(repeats == 0 ? "SetRepeats(0)" : "SetRepeats(other)"); }
  HRESULT SetParam(REFGUID type, DWORD groups, DWORD index, MUSIC_TIME time, void* param) override {
    if (type == GUID_StandardMIDIFile && groups == 0xFFFFFFFF && index == 0 && time == 0 && param == nullptr)
      return Call("SetParam(StandardMIDIFile)");
    return Call("SetParam(other)");
  }
};

class FakeLoader final : public Fake<IDirectMusicLoader8> {
 public:
  FakeLoader() : Fake("Loader", {IID_IDirectMusicLoader8}) {}
  HRESULT GetObject(DMUS_OBJECTDESC* desc, REFIID riid, void** ppv) override {
    World& world = TheWorld();
    world.loadedFileName = desc->wszFileName;
    world.loadedValidData = desc->dwValidData;
    world.loadedClass = desc->guidClass;
    *ppv = nullptr;
    const HRESULT hr = Call(riid == IID_IDirectMusicSegment ? "GetObject(segment)" : "GetObject(other)");
    if (FAILED(hr)) return hr;
    return HandOut<FakeSegment, IDirectMusicSegment8>(new FakeSegment(), riid, ppv);
  }
};

class FakePerformance final : public Fake<IDirectMusicPerformance8> {
 public:
  FakePerformance() : Fake("Performance", {IID_IDirectMusicPerformance, IID_IDirectMusicPerformance8}) {}
  HRESULT Stop(IDirectMusicSegment* segment, IDirectMusicSegmentState* state, MUSIC_TIME time, DWORD flags) override {
    return Call(segment == nullptr && state == nullptr && time == 0 && flags == 0 ? "Stop(all)" : "Stop(other)");
  }
  HRESULT GetTime(REFERENCE_TIME* now, MUSIC_TIME* musicNow) override {
    const HRESULT hr = Call("GetTime");
    if (SUCCEEDED(hr) && now != nullptr) *now = TheWorld().now;
    if (musicNow != nullptr) *musicNow = 0;
    return hr;
  }
  HRESULT AllocPMsg(ULONG, DMUS_PMSG**) override { return Call("AllocPMsg"); }
  HRESULT SendPMsg(DMUS_PMSG*) override { return Call("SendPMsg"); }
  HRESULT FreePMsg(DMUS_PMSG* message) override {
    ++TheWorld().freedMessages;
    delete static_cast<DMUS_NOTIFICATION_PMSG*>(message);
    return Call("FreePMsg");
  }
  HRESULT MusicToReferenceTime(MUSIC_TIME time, REFERENCE_TIME* reference) override {
    const HRESULT hr = Call("MusicToReferenceTime");
    if (SUCCEEDED(hr)) *reference = time == TheWorld().segmentLength ? TheWorld().lengthInReferenceTime : -1;
    return hr;
  }
  HRESULT ReferenceToMusicTime(REFERENCE_TIME, MUSIC_TIME*) override { return Call("ReferenceToMusicTime"); }
  HRESULT GetGraph(IDirectMusicGraph**) override { return Call("GetGraph"); }
  HRESULT AddNotificationType(REFGUID type) override {
    return Call(type == GUID_NOTIFICATION_SEGMENT ? "AddNotificationType(segment)" : "AddNotificationType(other)");
  }
  HRESULT RemoveNotificationType(REFGUID type) override {
    return Call(type == GUID_NOTIFICATION_SEGMENT ? "RemoveNotificationType(segment)"
                                                  : "RemoveNotificationType(other)");
  }
  HRESULT GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** message) override {
    *message = nullptr;
    const HRESULT hr = Call("GetNotificationPMsg");
    World& world = TheWorld();
    if (FAILED(hr)) return hr;
    if (world.notifications.empty()) return S_FALSE;
    auto* note = new DMUS_NOTIFICATION_PMSG{};
    note->dwType = DMUS_PMSGT_NOTIFICATION;
    note->guidNotificationType = GUID_NOTIFICATION_SEGMENT;
    note->dwNotificationOption = world.notifications.front();
    world.notifications.pop_front();
    *message = note;
    return S_OK;
  }
  HRESULT GetGlobalParam(REFGUID, void*, DWORD) override { return Call("GetGlobalParam"); }
  HRESULT SetGlobalParam(REFGUID type, void* param, DWORD size) override {
    World& world = TheWorld();
    if (type == GUID_PerfAutoDownload && size == sizeof(BOOL)) {
      const HRESULT hr = Call("SetGlobalParam(AutoDownload)");
      world.autoDownloads.push_back(*static_cast<BOOL*>(param));
      return hr;
    }
    if (type == GUID_PerfMasterTempo && size == sizeof(float)) {
      const HRESULT hr = Call("SetGlobalParam(MasterTempo)");
      world.masterTempos.push_back(*static_cast<float*>(param));
      return hr;
    }
    if (type == GUID_PerfMasterVolume && size == sizeof(LONG)) {
      const HRESULT hr = Call("SetGlobalParam(MasterVolume)");
      world.masterVolumes.push_back(*static_cast<LONG*>(param));
      return hr;
    }
    return Call("SetGlobalParam(other)");
  }
  HRESULT CloseDown() override { return Call("CloseDown"); }
  HRESULT InitAudio(IDirectMusic8** directMusic, IDirectSound** directSound, HWND window, DWORD pathType,
                    DWORD channels, DWORD flags, DMUS_AUDIOPARAMS* params) override {
    World& world = TheWorld();
    world.initAudioDirectMusic = directMusic != nullptr ? *directMusic : nullptr;
    if (params != nullptr) world.audioParams = *params;
    if (directSound != nullptr || window != nullptr || pathType != DMUS_APATH_DYNAMIC_STEREO || channels != 64 ||
        flags != DMUS_AUDIOF_ALL)
      return Call("InitAudio(other)");
    return Call("InitAudio");
  }
  HRESULT PlaySegmentEx(IUnknown* source, WCHAR* name, IUnknown* transition, DWORD flags, LONGLONG start,
                        IDirectMusicSegmentState** state, IUnknown* from, IUnknown* audioPath) override {
    World& world = TheWorld();
    world.playFlags = flags;
    world.playAudioPath = audioPath;
    if (source == nullptr || name != nullptr || transition != nullptr || start != 0 || from != nullptr)
      return Call("PlaySegmentEx(other)");
    const HRESULT hr = Call("PlaySegmentEx");
    if (FAILED(hr)) return hr;
    *state = new FakeSegmentState();
    return hr;
  }
  HRESULT CreateStandardAudioPath(DWORD type, DWORD channels, BOOL activate, IDirectMusicAudioPath** path) override {
    *path = nullptr;
    const HRESULT hr = Call(type == DMUS_APATH_DYNAMIC_STEREO && channels == 64 && activate == TRUE
                                ? "CreateStandardAudioPath"
                                : "CreateStandardAudioPath(other)");
    if (FAILED(hr)) return hr;
    *path = new FakeAudioPath();
    return hr;
  }
};

class FakeDirectMusic final : public Fake<IDirectMusic8> {
 public:
  FakeDirectMusic() : Fake("DirectMusic", {IID_IDirectMusic8}) {}
  HRESULT EnumPort(DWORD index, DMUS_PORTCAPS* caps) override {
    const HRESULT hr = Call("EnumPort");
    if (FAILED(hr)) return hr;
    const World& world = TheWorld();
    if (caps->dwSize != sizeof(DMUS_PORTCAPS)) return E_INVALIDARG;
    if (index >= world.ports.size()) return S_FALSE;
    *caps = world.ports[index];
    return hr;
  }
  HRESULT Activate(BOOL enable) override { return Call(enable ? "Activate(TRUE)" : "Activate(FALSE)"); }
  HRESULT SetDirectSound(IDirectSound* directSound, HWND) override {
    return Call(directSound == nullptr ? "SetDirectSound(null)" : "SetDirectSound(object)");
  }
};

// The class table's creators; "Create(<kind>)" can be made to fail.
template <typename T, typename I>
HRESULT Create(const char* kind, REFIID riid, void** ppv) {
  *ppv = nullptr;
  const HRESULT hr = TheWorld().Call(std::string("Create(") + kind + ")");
  if (FAILED(hr)) return hr;
  return HandOut<T, I>(new T(), riid, ppv);
}
HRESULT CreateDirectMusic(REFIID riid, void** ppv) {
  return Create<FakeDirectMusic, IDirectMusic8>("DirectMusic", riid, ppv);
}
HRESULT CreatePerformance(REFIID riid, void** ppv) {
  return Create<FakePerformance, IDirectMusicPerformance8>("Performance", riid, ppv);
}
HRESULT CreateLoader(REFIID riid, void** ppv) { return Create<FakeLoader, IDirectMusicLoader8>("Loader", riid, ppv); }

}  // namespace

HRESULT World::Call(const std::string& name) {
  calls.push_back(name);
  if (auto it = failures.find(name); it != failures.end()) return it->second;
  if (auto it = results.find(name); it != results.end()) return it->second;
  return S_OK;
}

int World::Live(const std::string& kind) const {
  const auto it = live.find(kind);
  return it == live.end() ? 0 : it->second;
}

bool World::Called(const std::string& name) const { return IndexOf(name) >= 0; }

int World::IndexOf(const std::string& name) const {
  const auto it = std::find(calls.begin(), calls.end(), name);
  return it == calls.end() ? -1 : static_cast<int>(it - calls.begin());
}

World& TheWorld() {
  static World world;
  return world;
}

void InstallFakes() {
  // The real classes are entered once per process; the fakes replace them after.
  platform::RegisterMusicEngineClasses();
  World& world = TheWorld();
  const std::map<std::string, int> live = world.live;
  world = World();
  // Objects a failed test left behind keep their count.
  world.live = live;
  platform::RegisterBuiltinClass(CLSID_DirectMusic, &CreateDirectMusic);
  platform::RegisterBuiltinClass(CLSID_DirectMusicPerformance, &CreatePerformance);
  platform::RegisterBuiltinClass(CLSID_DirectMusicLoader, &CreateLoader);
}

DMUS_PORTCAPS Port(const char16_t* description, DWORD flags, DWORD dwClass, const GUID& guid) {
  DMUS_PORTCAPS caps;
  std::memset(&caps, 0, sizeof(caps));
  caps.dwSize = sizeof(caps);
  caps.dwFlags = flags;
  caps.dwClass = dwClass;
  caps.guidPort = guid;
  for (std::size_t i = 0; description[i] != 0 && i + 1 < std::size(caps.wszDescription); ++i)
    caps.wszDescription[i] = description[i];
  return caps;
}

}  // namespace engine_fakes
