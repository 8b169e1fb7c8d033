// The capture component as a program meets it: loaded from the class table,
// entered there by the registration program (directly or through the shell's
// "open" verb), and recording what passes through one instance for all of them.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "ovdmofilter/ovdmofilter_ids.h"
#include "ovdmofilter/captured_audio.h"
#include "platform/com/inproc_server.h"
#include "platform/dmo/dmo.h"
#include "platform/dsound/recording_sink.h"
#include "platform/shell/shell.h"
#include "tests/ovdmofilter/capture_fixture.h"

namespace {

using capture_test::RunProgram;
using platform::ComPtr;

constexpr CLSID kUnknownClass{0x0BADC0DE, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};

bool EffectListed() {
  ComPtr<IEnumDMO> e;
  if (DMOEnum(DMOCATEGORY_AUDIO_EFFECT, DMO_ENUMF_INCLUDE_KEYED, 0, nullptr, 0, nullptr, e.Put()) != S_OK) return false;
  CLSID clsid{};
  WCHAR* name = nullptr;
  while (e->Next(1, &clsid, &name, nullptr) == S_OK) {
    const bool match = std::u16string(name) == u"OVDMOFilter" && clsid == CLSID_OVDMOFilter;
    CoTaskMemFree(name);
    if (match) return true;
  }
  return false;
}

WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

DMO_MEDIA_TYPE TypeOf(WAVEFORMATEX& format) {
  DMO_MEDIA_TYPE mt{};
  mt.majortype = MEDIATYPE_Audio;
  mt.subtype = MEDIASUBTYPE_PCM;
  mt.bFixedSizeSamples = TRUE;
  mt.lSampleSize = format.nBlockAlign;
  mt.formattype = FORMAT_WaveFormatEx;
  mt.cbFormat = sizeof(WAVEFORMATEX);
  mt.pbFormat = reinterpret_cast<BYTE*>(&format);
  return mt;
}

class CaptureComponentTest : public CaptureFixture {
 protected:
  ComPtr<IMediaObject> Create() {
    ComPtr<IMediaObject> object;
    EXPECT_EQ(CoCreateInstance(CLSID_OVDMOFilter, nullptr, CLSCTX_INPROC, IID_IMediaObject, object.PutVoid()), S_OK);
    return object;
  }
  template <typename T>
  static ComPtr<T> As(const ComPtr<IMediaObject>& object, REFIID iid) {
    ComPtr<T> result;
    EXPECT_EQ(object->QueryInterface(iid, result.PutVoid()), S_OK);
    return result;
  }
};

TEST_F(CaptureComponentTest, ClassTableFailuresAreToldApart) {
  void* object = &object;
  EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  ASSERT_EQ(platform::RegisterInprocServer(kUnknownClass, dir_.File("missing.so").c_str(), nullptr), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC, IID_IUnknown, &object), CO_E_DLLNOTFOUND);
  // A library that loads but is no component (in-process servers are named by full path).
  void* libm = ::dlopen("libm.so.6", RTLD_NOW);
  link_map* map = nullptr;
  ASSERT_TRUE(libm != nullptr && ::dlinfo(libm, RTLD_DI_LINKMAP, &map) == 0);
  ASSERT_EQ(platform::RegisterInprocServer(kUnknownClass, map->l_name, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC, IID_IUnknown, &object), CO_E_ERRORINDLL);
  EXPECT_EQ(platform::UnregisterInprocServer(kUnknownClass), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);

  CoUninitialize();
  EXPECT_EQ(CoCreateInstance(kUnknownClass, nullptr, CLSCTX_INPROC, IID_IUnknown, &object), CO_E_NOTINITIALIZED);
}

TEST_F(CaptureComponentTest, RegistrationProgramEntersAndRemovesTheEffect) {
  EXPECT_FALSE(EffectListed());
  EXPECT_EQ(CoCreateInstance(CLSID_OVDMOFilter, nullptr, CLSCTX_INPROC, IID_IMediaObject, nullptr), E_POINTER);

  ASSERT_EQ(RunProgram(kRegistrationProgram, {"/s", "OVDMOFilter.dll"}), 0);
  EXPECT_TRUE(EffectListed());
  ComPtr<IMediaObject> object = Create();
  ASSERT_TRUE(object);
  EXPECT_TRUE(As<ICapturedAudio>(object, IID_ICapturedAudio));
  EXPECT_TRUE(As<IMediaObjectInPlace>(object, IID_IMediaObjectInPlace));
  EXPECT_TRUE(As<IRecordingSink>(object, IID_IRecordingSink));

  ASSERT_EQ(RunProgram(kRegistrationProgram, {"/s", "/u", "OVDMOFilter.dll"}), 0);
  EXPECT_FALSE(EffectListed());
  ComPtr<IMediaObject> none;
  EXPECT_EQ(CoCreateInstance(CLSID_OVDMOFilter, nullptr, CLSCTX_INPROC, IID_IMediaObject, none.PutVoid()),
            REGDB_E_CLASSNOTREG);

  EXPECT_EQ(RunProgram(kRegistrationProgram, {"/s", "NoSuchThing.dll"}), 3);
  EXPECT_EQ(RunProgram(kRegistrationProgram, {"/s"}), 1);
  EXPECT_EQ(RunProgram(kRegistrationProgram, {"/s", "/x", "OVDMOFilter.dll"}), 1);
}

TEST_F(CaptureComponentTest, OpenVerbStartsTheRegistrationProgramWithoutAShell) {
  const auto code = [](HINSTANCE h) { return reinterpret_cast<std::intptr_t>(h); };
  EXPECT_EQ(code(ShellExecuteA(nullptr, "print", "regsvr32", "/s OVDMOFilter.dll", nullptr, 0)), SE_ERR_NOASSOC);
  EXPECT_EQ(code(ShellExecuteA(nullptr, "open", "no-such-program-here", nullptr, nullptr, 0)), SE_ERR_FNF);
  EXPECT_EQ(code(ShellExecuteA(nullptr, "open", "regsvr32", nullptr, dir_.File("absent").c_str(), 0)), SE_ERR_PNF);

  // The parameters reach the program as separate words, in the folder given:
  // a file named with the blanks-protected word appears there.
  EXPECT_GT(code(ShellExecuteA(nullptr, "open", "touch", "\"two words\" ;echo", dir_.Path().c_str(), 0)), 32);
  ASSERT_GT(code(ShellExecuteA(nullptr, "open", "regsvr32", "/s OVDMOFilter.dll", nullptr, 0)), 32);
  // Neither program is waited for: watch for what they do.
  const auto done = [&] {
    return EffectListed() && std::filesystem::exists(dir_.Path() / "two words") &&
           std::filesystem::exists(dir_.Path() / ";echo");
  };
  for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(EffectListed());
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() / "two words"));
  EXPECT_TRUE(std::filesystem::exists(dir_.Path() / ";echo"));
}

TEST_F(CaptureComponentTest, EveryInstanceReadsTheOneRecordingStartedAtAttachment) {
  ASSERT_EQ(RunProgram(kRegistrationProgram, {"/s", "OVDMOFilter.dll"}), 0);
  ComPtr<IMediaObject> inBuffer = Create();
  ComPtr<IMediaObject> reader = Create();
  ASSERT_TRUE(inBuffer && reader);
  auto place = As<IMediaObjectInPlace>(inBuffer, IID_IMediaObjectInPlace);
  auto sink = As<IRecordingSink>(inBuffer, IID_IRecordingSink);
  auto capture = As<ICapturedAudio>(reader, IID_ICapturedAudio);

  std::vector<BYTE> block(4000);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<BYTE>(i * 7);
  EXPECT_EQ(place->Process(static_cast<ULONG>(block.size()), block.data(), 0, 0), DMO_E_TYPE_NOT_SET);

  WAVEFORMATEX format = Pcm(22050, 2, 16);
  DMO_MEDIA_TYPE type = TypeOf(format);
  ASSERT_EQ(inBuffer->SetInputType(0, &type, 0), S_OK);
  ASSERT_EQ(inBuffer->SetOutputType(0, &type, 0), S_OK);
  ASSERT_EQ(sink->BeginRecording(), S_OK);
  const std::vector<BYTE> original = block;
  ASSERT_EQ(place->Process(static_cast<ULONG>(block.size()), block.data(), 0, 0), S_OK);
  ASSERT_EQ(place->Process(400, block.data(), 0, 0), S_OK);
  EXPECT_EQ(block, original);  // the sound passes through unchanged

  CaptureRecord record{};
  record.hHeap = 0x1234;
  ASSERT_EQ(capture->Setup(&record), S_OK);
  DWORD size = 0;
  ASSERT_EQ(capture->GetDataSize(&size), S_OK);
  EXPECT_EQ(size, 4400u);
  ASSERT_EQ(capture->GetFormat(&record), S_OK);
  EXPECT_EQ(std::memcmp(&record.wfx, &format, sizeof format), 0);
  EXPECT_EQ(record.hHeap, 0x1234u);
  std::vector<BYTE> copy(size);
  ASSERT_EQ(capture->CopyData(copy.data(), size), S_OK);
  EXPECT_TRUE(std::equal(original.begin(), original.end(), copy.begin()));
  EXPECT_TRUE(std::equal(original.begin(), original.begin() + 400, copy.begin() + 4000));
  // Asking for more than there is: the rest is zeros, never stale memory.
  std::vector<BYTE> more(size + 8, 0xEE);
  EXPECT_EQ(capture->CopyData(more.data(), size + 8), S_FALSE);
  EXPECT_EQ(more[size + 7], 0);

  // A new attachment starts an empty recording.
  ASSERT_EQ(sink->BeginRecording(), S_OK);
  ASSERT_EQ(capture->GetDataSize(&size), S_OK);
  EXPECT_EQ(size, 0u);
}

TEST_F(CaptureComponentTest, OnlySixteenBitStereoPcmIsAcceptedAndBothStreamsMatch) {
  ASSERT_EQ(RunProgram(kRegistrationProgram, {"/s", "OVDMOFilter.dll"}), 0);
  ComPtr<IMediaObject> object = Create();
  ASSERT_TRUE(object);
  DWORD ins = 0, outs = 0;
  ASSERT_EQ(object->GetStreamCount(&ins, &outs), S_OK);
  EXPECT_EQ(ins, 1u);
  EXPECT_EQ(outs, 1u);

  for (WAVEFORMATEX bad : {Pcm(44100, 1, 16), Pcm(44100, 2, 8), Pcm(44100, 2, 24)}) {
    DMO_MEDIA_TYPE type = TypeOf(bad);
    EXPECT_EQ(object->SetInputType(0, &type, 0), DMO_E_TYPE_NOT_ACCEPTED);
  }
  WAVEFORMATEX good = Pcm(48000, 2, 16);
  WAVEFORMATEX other = Pcm(44100, 2, 16);
  DMO_MEDIA_TYPE goodType = TypeOf(good);
  DMO_MEDIA_TYPE otherType = TypeOf(other);
  EXPECT_EQ(object->SetInputType(1, &goodType, 0), DMO_E_INVALIDSTREAMINDEX);
  DMO_MEDIA_TYPE current{};
  EXPECT_EQ(object->GetInputCurrentType(0, &current), DMO_E_TYPE_NOT_SET);
  ASSERT_EQ(object->SetInputType(0, &goodType, 0), S_OK);
  EXPECT_EQ(object->SetOutputType(0, &otherType, 0), DMO_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(object->SetOutputType(0, &goodType, 0), S_OK);

  ASSERT_EQ(object->GetInputCurrentType(0, &current), S_OK);
  ASSERT_EQ(current.cbFormat, sizeof(WAVEFORMATEX));
  EXPECT_EQ(reinterpret_cast<WAVEFORMATEX*>(current.pbFormat)->nSamplesPerSec, 48000u);
  CoTaskMemFree(current.pbFormat);
}

}  // namespace
