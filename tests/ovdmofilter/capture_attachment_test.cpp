// Finding the capture effect by its name and attaching it to, or removing every
// effect from, the audio path's buffer: results, log lines and echoed texts.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/capture_attachment.h"
#include "ovdmofilter/ovdmofilter_ids.h"
#include "engine/engine_state.h"
#include "platform/com/inproc_server.h"
#include "platform/com/server_library.h"
#include "platform/core/kernel.h"
#include "platform/dmo/dmo.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dsound/sound_buffer.h"
#include "platform/shell/shell.h"
#include "tests/ovdmofilter/capture_fixture.h"

namespace {

using capture_test::RunProgram;
using platform::ComPtr;

constexpr CLSID kFirst{0xF1000001, 1, 1, {1, 1, 1, 1, 1, 1, 1, 1}};
constexpr CLSID kSecond{0xF1000002, 2, 2, {2, 2, 2, 2, 2, 2, 2, 2}};
constexpr CLSID kLowerCase{0xF1000003, 3, 3, {3, 3, 3, 3, 3, 3, 3, 3}};
constexpr CLSID kNoCapture{0xF1000004, 4, 4, {4, 4, 4, 4, 4, 4, 4, 4}};

// What the fake effects saw.
struct FakeEffects {
  std::vector<char> created;  // the origin of each instance, in creation order
  std::vector<CaptureRecord*> setupRecords;
  std::vector<DWORD> heapsAtSetup;
};
FakeEffects g_fakes;

class FakeEffect final : public IMediaObject, public ICapturedAudio {
 public:
  FakeEffect(char origin, bool capture) : capture_(capture) { g_fakes.created.push_back(origin); }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMediaObject)
      *ppv = static_cast<IMediaObject*>(this);
    else if (riid == IID_ICapturedAudio && capture_)
      *ppv = static_cast<ICapturedAudio*>(this);
    else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    const ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetStreamCount(DWORD*, DWORD*) override { return E_NOTIMPL; }
  HRESULT SetInputType(DWORD, const DMO_MEDIA_TYPE*, DWORD) override { return E_NOTIMPL; }
  HRESULT SetOutputType(DWORD, const DMO_MEDIA_TYPE*, DWORD) override { return E_NOTIMPL; }
  HRESULT GetInputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT AllocateStreamingResources() override { return S_OK; }
  HRESULT FreeStreamingResources() override { return S_OK; }
  HRESULT Flush() override { return S_OK; }
  HRESULT Discontinuity(DWORD) override { return S_OK; }
  HRESULT Setup(CaptureRecord* record) override {
    g_fakes.setupRecords.push_back(record);
    g_fakes.heapsAtSetup.push_back(record->hHeap);
    return E_FAIL;  // not examined
  }
  HRESULT GetFormat(CaptureRecord*) override { return S_OK; }
  HRESULT GetDataSize(DWORD*) override { return S_OK; }
  HRESULT CopyData(BYTE*, DWORD) override { return S_OK; }

 private:
  ~FakeEffect() = default;
  platform::RefCount refs_;
  bool capture_;
};

template <char Origin, bool Capture>
HRESULT CreateFake(REFIID riid, void** ppv) {
  auto* effect = new FakeEffect(Origin, Capture);
  const HRESULT hr = effect->QueryInterface(riid, ppv);
  effect->Release();
  return hr;
}

// An audio path that only switches its buffer on and off, and says so.
class FakeAudioPath final : public IDirectMusicAudioPath {
 public:
  explicit FakeAudioPath(platform::CSoundBuffer* buffer) : buffer_(buffer) {}
  HRESULT QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override {
    const ULONG left = refs_.Decrement();
    if (left == 0) delete this;
    return left;
  }
  HRESULT GetObjectInPath(DWORD, DWORD, DWORD, REFGUID, DWORD, REFGUID, void**) override { return E_NOTIMPL; }
  HRESULT Activate(BOOL on) override {
    calls.push_back(on ? "Activate(TRUE)" : "Activate(FALSE)");
    if (buffer_ != nullptr) buffer_->SetActive(on != FALSE);
    return S_OK;
  }
  HRESULT SetVolume(LONG, DWORD) override { return S_OK; }

  std::vector<std::string> calls;

 private:
  ~FakeAudioPath() = default;
  platform::RefCount refs_;
  platform::CSoundBuffer* buffer_;
};

DWORD ExpectedHeap() { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(platform::GetProcessHeap())); }

class CaptureAttachmentTest : public CaptureFixture {
 protected:
  void SetUp() override {
    CaptureFixture::SetUp();
    g_fakes = FakeEffects{};
    g_CaptureRecord = CaptureRecord{};
    platform::RegisterBuiltinClass(kFirst, CreateFake<'1', true>);
    platform::RegisterBuiltinClass(kSecond, CreateFake<'2', true>);
    platform::RegisterBuiltinClass(kLowerCase, CreateFake<'l', true>);
    platform::RegisterBuiltinClass(kNoCapture, CreateFake<'n', false>);
  }
  void TearDown() override {
    for (const CLSID& clsid : {kFirst, kSecond, kLowerCase, kNoCapture}) platform::UnregisterBuiltinClass(clsid);
    CaptureFixture::TearDown();
  }

  static void RegisterEffect(const char16_t* name, const CLSID& clsid) {
    ASSERT_EQ(DMORegister(name, clsid, DMOCATEGORY_AUDIO_EFFECT, 0, 0, nullptr, 0, nullptr), S_OK);
  }

  // A real sound buffer behind a fake path, as a configuration leaves them.
  FakeAudioPath* Configure() {
    auto* buffer = new platform::CSoundBuffer(44100);
    auto* path = new FakeAudioPath(buffer);
    g_EngineState.pDirectSoundBufferInPath = ComPtr<IDirectSoundBuffer8>::Adopt(buffer);
    g_EngineState.pAudioPath = ComPtr<IDirectMusicAudioPath>::Adopt(path);
    path->Activate(TRUE);
    path->calls.clear();
    return path;
  }
  static platform::CSoundBuffer* Buffer() {
    return static_cast<platform::CSoundBuffer*>(g_EngineState.pDirectSoundBufferInPath.Get());
  }
  static bool DescIsEmpty() {
    const DSEFFECTDESC empty{};
    return std::memcmp(&g_EngineState.FilterDesc, &empty, sizeof empty) == 0;
  }
};

TEST_F(CaptureAttachmentTest, FirstEffectNamedExactlyWinsAndGetsTheRecord) {
  RegisterEffect(u"ovdmofilter", kLowerCase);
  RegisterEffect(u"OVDMOFilter", kFirst);
  RegisterEffect(u"OVDMOFilter", kSecond);

  EXPECT_EQ(FindFilter(), S_OK);
  const DSEFFECTDESC& desc = g_EngineState.FilterDesc;
  EXPECT_EQ(desc.dwSize, 32u);
  EXPECT_EQ(desc.dwFlags, DSFX_LOCSOFTWARE);
  EXPECT_EQ(desc.guidDSFXClass, kFirst);
  EXPECT_EQ(desc.dwReserved1, 0u);
  EXPECT_EQ(desc.dwReserved2, 0u);
  EXPECT_EQ(g_fakes.created, std::vector<char>{'1'});
  ASSERT_TRUE(g_EngineState.pFilterObject);
  ASSERT_TRUE(g_EngineState.pFilterCapture);
  // The heap handle is in the record before Setup sees it.
  EXPECT_EQ(g_fakes.setupRecords, std::vector<CaptureRecord*>{&g_CaptureRecord});
  EXPECT_EQ(g_fakes.heapsAtSetup, std::vector<DWORD>{ExpectedHeap()});
  EXPECT_EQ(LogLines(), std::vector<std::string>{"FindFilter"});
  EXPECT_EQ(Echo(), "");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(CaptureAttachmentTest, NamesDifferingInLetterCaseOrSpacingDoNotMatch) {
  EXPECT_EQ(FindFilter(), S_FALSE);  // nothing installed at all
  RegisterEffect(u"OVDMOFILTER", kLowerCase);
  RegisterEffect(u"OVDMOFilter ", kSecond);
  RegisterEffect(u"ovdmofilter", kLowerCase);

  EXPECT_EQ(FindFilter(), S_FALSE);
  EXPECT_TRUE(DescIsEmpty());
  EXPECT_TRUE(g_fakes.created.empty());
  EXPECT_FALSE(g_EngineState.pFilterObject);
  EXPECT_FALSE(g_EngineState.pFilterCapture);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"FindFilter", "FindFilter"}));
  EXPECT_EQ(Echo(), "");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(CaptureAttachmentTest, EffectThatCannotBeCreatedIsReportedWithItsCode) {
  constexpr CLSID kNowhere{0xF10000FF, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}};
  RegisterEffect(u"OVDMOFilter", kNowhere);

  EXPECT_EQ(FindFilter(), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(g_EngineState.FilterDesc.guidDSFXClass, kNowhere);  // filled before the creation
  EXPECT_FALSE(g_EngineState.pFilterObject);
  EXPECT_TRUE(g_fakes.setupRecords.empty());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"FindFilter", "    CoCreateInstance(DMO) - FAILED",
                                                  CodeLine(REGDB_E_CLASSNOTREG)}));
  EXPECT_EQ(Echo(),
            std::string("CoCreateInstance (DMO) - FAILED\n") + GetResultDescription(REGDB_E_CLASSNOTREG) + "\n");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(CaptureAttachmentTest, EffectWithoutTheCaptureInterfaceIsNotUsable) {
  RegisterEffect(u"OVDMOFilter", kNoCapture);
  EXPECT_EQ(FindFilter(), E_NOINTERFACE);
  EXPECT_TRUE(g_EngineState.pFilterObject);
  EXPECT_FALSE(g_EngineState.pFilterCapture);
  EXPECT_TRUE(g_fakes.setupRecords.empty());
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(CaptureAttachmentTest, NotInstalledThenRegisteredByTheRegistrationProgramAndFound) {
  EXPECT_EQ(FindFilter(), S_FALSE);
  ASSERT_EQ(RunProgram(kRegistrationProgram, {"/s", "OVDMOFilter.dll"}), 0);
  EXPECT_EQ(FindFilter(), S_OK);
  EXPECT_EQ(g_EngineState.FilterDesc.guidDSFXClass, CLSID_OVDMOFilter);
  EXPECT_TRUE(g_EngineState.pFilterCapture);
  EXPECT_EQ(g_CaptureRecord.hHeap, ExpectedHeap());
}

TEST_F(CaptureAttachmentTest, WithoutABufferNothingIsTouched) {
  g_EngineState.FilterDesc.dwSize = 32;
  g_EngineState.FilterDesc.guidDSFXClass = kFirst;
  const DSEFFECTDESC before = g_EngineState.FilterDesc;
  auto* path = new FakeAudioPath(nullptr);
  g_EngineState.pAudioPath = ComPtr<IDirectMusicAudioPath>::Adopt(path);

  EXPECT_EQ(SetFilter(), E_FAIL);
  EXPECT_EQ(RemoveFilter(), E_FAIL);
  EXPECT_TRUE(path->calls.empty());
  EXPECT_EQ(std::memcmp(&before, &g_EngineState.FilterDesc, sizeof before), 0);
  EXPECT_TRUE(g_fakes.created.empty());
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"SetFilter", "    pDirectSoundBufferInPath = NULL", "RemoveFilter",
                                                  "    pDirectSoundBufferInPath = NULL"}));
  EXPECT_EQ(Echo(), "");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

TEST_F(CaptureAttachmentTest, AttachingAndRemovingSwitchTheInactivePathsEffects) {
  ASSERT_EQ(RunProgram(kRegistrationProgram, {"/s", "OVDMOFilter.dll"}), 0);
  ASSERT_EQ(FindFilter(), S_OK);
  FakeAudioPath* path = Configure();

  // A buffer that carries no effect yet.
  EXPECT_EQ(RemoveFilter(), S_OK);
  EXPECT_FALSE(Buffer()->IsRecording());
  EXPECT_EQ(SetFilter(), S_OK);
  EXPECT_TRUE(Buffer()->IsRecording());
  EXPECT_TRUE(Buffer()->IsActive());
  EXPECT_EQ(RemoveFilter(), S_OK);
  EXPECT_FALSE(Buffer()->IsRecording());
  EXPECT_EQ(path->calls, (std::vector<std::string>{"Activate(FALSE)", "Activate(TRUE)", "Activate(FALSE)",
                                                   "Activate(TRUE)", "Activate(FALSE)", "Activate(TRUE)"}));
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"FindFilter", "RemoveFilter", "SetFilter", "RemoveFilter"}));
  EXPECT_EQ(Echo(), "");
}

TEST_F(CaptureAttachmentTest, FailedAttachmentLeavesThePathInactive) {
  // Before FindFilter the description is empty: no effect of that class exists.
  FakeAudioPath* path = Configure();
  EXPECT_EQ(SetFilter(), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(Buffer()->IsActive());
  EXPECT_EQ(path->calls, std::vector<std::string>{"Activate(FALSE)"});
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"SetFilter", "    pDirectSoundBufferInPath->SetFX - FAILED",
                                                  CodeLine(REGDB_E_CLASSNOTREG)}));
  EXPECT_EQ(Echo(), std::string("pDirectSoundBufferInPath->SetFX - FAILED\n") +
                        GetResultDescription(REGDB_E_CLASSNOTREG) + "\n");
  EXPECT_EQ(g_DebugLog.Indent(), 0);
}

// A folder beside the program (whose folders up to / nobody else can write, unlike
// the temporary folder's), removed with what it holds.
class SafeFolder {
 public:
  SafeFolder() {
    std::string pattern = (capture_test::ProgramFolder() / "test-library-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~SafeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A copy of the real component in folder, so that only where it lies decides.
std::filesystem::path CopyOfTheComponent(const std::filesystem::path& folder) {
  const std::filesystem::path library = folder / "OVDMOFilter.so";
  std::filesystem::copy_file(capture_test::ProgramFolder() / "OVDMOFilter.so", library);
  std::filesystem::permissions(library, std::filesystem::perms(0644));
  return library;
}

TEST_F(CaptureAttachmentTest, ServerLibrariesFromUnsafePlacesAreRefusedWithPathAndReason) {
  namespace fs = std::filesystem;
  const SafeFolder safe;
  ASSERT_FALSE(safe.Path().empty());
  // The library lies in a folder of a folder: each of them is checked.
  const fs::path sub = safe.Path() / "sub";
  fs::create_directory(sub);
  const fs::path library = CopyOfTheComponent(sub);
  const std::string folder = sub.string(), parent = safe.Path().string();
  const std::string fifo = (safe.Path() / "fifo.so").string();
  const fs::path inTemp = CopyOfTheComponent(dir_.Path());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const fs::path settings = fs::path(platform::RegistryFilePath()).parent_path();
  const passwd* nobody = ::getpwnam("nobody");
  const bool canGiveAway = ::geteuid() == 0 && nobody != nullptr;
  const fs::path startFolder = fs::current_path();
  RegisterEffect(u"OVDMOFilter", CLSID_OVDMOFilter);

  struct Case {
    std::string path;                  // as the class table names it
    std::function<void(bool)> change;  // makes the place unsafe (true) and safe again (false)
    std::string reason;
  };
  const auto own = [&](const fs::path& path, bool away) {
    ASSERT_EQ(::chown(path.c_str(), away ? nobody->pw_uid : ::geteuid(), static_cast<gid_t>(-1)), 0);
  };
  std::vector<Case> cases = {
      {"./OVDMOFilter.so", [&](bool on) { fs::current_path(on ? dir_.Path() : startFolder); }, "not an absolute path"},
      {fifo, [](bool) {}, "not a regular file"},
      {library.string(), [&](bool on) { fs::permissions(library, fs::perms(on ? 0664 : 0644)); },
       "writable by group or others"},
      {library.string(), [&](bool on) { fs::permissions(settings, fs::perms(on ? 0707 : 0700)); },
       "the settings folder " + settings.string() + " can be written by others"},
      {library.string(), [&](bool on) { fs::permissions(folder, fs::perms(on ? 0775 : 0755)); },
       "the folder " + folder + " can be written by others"},
      {library.string(), [&](bool on) { fs::permissions(parent, fs::perms(on ? 01777 : 0700)); },
       "the folder " + parent + " can be written by others"},
      {inTemp.string(), [&](bool on) { fs::permissions(dir_.Path(), fs::perms(on ? 0777 : 0700)); },
       "the folder " + fs::canonical(dir_.Path()).string() + " can be written by others"},
  };
  if (canGiveAway) {
    cases.push_back(
        {library.string(), [&](bool away) { own(folder, away); }, "the folder " + folder + " belongs to another user"});
    cases.push_back({library.string(), [&](bool away) { own(library, away); }, "owned by another user"});
    cases.push_back({library.string(), [&](bool away) { own(settings, away); },
                     "the settings folder " + settings.string() + " belongs to another user"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    ASSERT_EQ(platform::RegisterInprocServer(CLSID_OVDMOFilter, c.path.c_str(), nullptr), ERROR_SUCCESS);
    g_DebugLog.CreateLogFile(logPath_.c_str());
    c.change(true);
    EXPECT_EQ(FindFilter(), CO_E_DLLNOTFOUND);
    c.change(false);
    EXPECT_FALSE(g_EngineState.pFilterObject);
    EXPECT_EQ(LogLines(),
              (std::vector<std::string>{"FindFilter", "    CoCreateInstance(DMO) - FAILED", CodeLine(CO_E_DLLNOTFOUND),
                                        "    In-process server " + c.path + " not loaded: " + c.reason}));
  }
  EXPECT_NE(Echo().find("CoCreateInstance (DMO) - FAILED\n" + std::string(GetResultDescription(CO_E_DLLNOTFOUND)) +
                        "\nIn-process server ./OVDMOFilter.so not loaded: not an absolute path\n"),
            std::string::npos);

  // The registration program keeps to the same rules.
  fs::permissions(library, fs::perms(0664));
  EXPECT_EQ(RunProgram(kRegistrationProgram, {"/s", library.string()}), 3);
  fs::permissions(library, fs::perms(0644));
  EXPECT_EQ(RunProgram(kRegistrationProgram, {"/s", inTemp.string()}), 3);
  // Safe again, the copy loads.
  ASSERT_EQ(platform::RegisterInprocServer(CLSID_OVDMOFilter, library.c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(FindFilter(), S_OK);
}

// The library is checked and loaded as one open file: the file at its path swapped
// for another library at the moment between the check and the load (the test hook's)
// is not what runs.
TEST_F(CaptureAttachmentTest, ALibrarySwappedBetweenCheckAndLoadIsNotTheOneLoaded) {
  namespace fs = std::filesystem;
  const SafeFolder safe;
  ASSERT_FALSE(safe.Path().empty());
  const fs::path library = CopyOfTheComponent(safe.Path());
  const fs::path other = safe.Path() / "other.so";
  fs::copy_file("/lib/x86_64-linux-gnu/libm.so.6", other);
  RegisterEffect(u"OVDMOFilter", CLSID_OVDMOFilter);
  ASSERT_EQ(platform::RegisterInprocServer(CLSID_OVDMOFilter, library.c_str(), nullptr), ERROR_SUCCESS);
  struct Hook {
    explicit Hook(std::function<void(const std::string&)> hook) { platform::SetServerLibraryHookForTesting(hook); }
    ~Hook() { platform::SetServerLibraryHookForTesting(nullptr); }
  } swap([&](const std::string&) { fs::rename(other, library); });
  EXPECT_EQ(FindFilter(), S_OK);
  EXPECT_TRUE(g_EngineState.pFilterObject);
}

}  // namespace
