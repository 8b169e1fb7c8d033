// The performance, segments, loader, audio paths and sound buffer, driven through
// their interfaces with a SoundFont and MIDI files the tests make.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/com/com.h"
#include "platform/core/kernel.h"
#include "platform/dmo/dmo.h"
#include "platform/dmusic/direct_music.h"
#include "platform/dmusic/performance.h"
#include "platform/dmusic/port_table.h"
#include "platform/midi_file/smf_reader.h"
#include "platform/midi_file/tempo_map.h"
#include "tests/platform/dmusic/counting_tool.h"
#include "tests/platform/dmusic/fake_effect.h"
#include "tests/platform/dmusic/render_session.h"
#include "tests/platform/dmusic/test_media.h"
#include "tests/support/temp_dir.h"

namespace {

using dmusic_test::CountingTool;
using dmusic_test::MidiFile;
using dmusic_test::Rendering;
using dmusic_test::Session;
using dmusic_test::TheEffectRecord;
using platform::ComPtr;

class Engine : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("HALVANE_AUDIO_DRIVER", "none", 1); }

  void SetUp() override {
    CoInitialize(nullptr);
    platform::RegisterPerformanceClasses();
    platform::RegisterDirectMusicClass();
    dmusic_test::RegisterTestEffects();
    soundFont = dir.File("sine.sf2");
    dmusic_test::WriteTestSoundFont(soundFont, 0.1);
    longRelease = dir.File("long-release.sf2");
    dmusic_test::WriteTestSoundFont(longRelease, 8.0);
    port = platform::GuidFromName(soundFont);
    longPort = platform::GuidFromName(longRelease);
    platform::SetPortTableForTesting(std::vector<platform::PortInfo>{
        {soundFont, port, u"Sine", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH},
        {longRelease, longPort, u"Long", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS,
         DMUS_PORT_USER_MODE_SYNTH}});
    TheEffectRecord().Clear();
  }
  void TearDown() override {
    platform::SetPortTableForTesting(std::nullopt);
    CoUninitialize();
  }

  // Four quarter notes at 120 beats a minute: two seconds of music.
  std::string FourQuarters() {
    const std::string file = dir.File("four.mid");
    MidiFile midi;
    midi.Tempo(0, 500000);
    for (int i = 0; i < 4; ++i) midi.Note(0, 0, 60 + i, 100, 768);
    midi.Write(file);
    return file;
  }

  static bool Silent(const std::vector<std::uint8_t>& pcm) {
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2)
      if (std::abs(static_cast<std::int16_t>(pcm[i] | pcm[i + 1] << 8)) > 64) return false;
    return true;
  }

  testing_support::TempDir dir;
  std::string soundFont, longRelease;
  GUID port{}, longPort{};
};

TEST_F(Engine, RenderingLengthFollowsTheMasterTempo) {
  const std::string file = FourQuarters();
  for (float tempo : {0.5f, 1.0f, 1.5f}) {
    SCOPED_TRACE(tempo);
    TheEffectRecord().Clear();
    Session session(port);
    const Rendering r = session.Render(file, tempo);
    ASSERT_EQ(r.hr, S_OK);
    const double musicMs = 2000.0 / tempo;
    // The performance maps the segment's length through the tempo map and the
    // master tempo, from the segment's start.
    EXPECT_NEAR(static_cast<double>(r.endTime - r.startTime) / 1e4, musicMs, 1.0);
    // The music ends, then the 0.1 s release; the poll sees it within 100 ms.
    ASSERT_FALSE(r.notifications.empty());
    DWORD almostEndMs = 0;
    for (const auto& n : r.notifications)
      if (n.option == DMUS_NOTIFICATION_SEGALMOSTEND) almostEndMs = n.atMs;
    EXPECT_GE(almostEndMs, musicMs);
    EXPECT_LE(almostEndMs, musicMs + 400);
    // The recording holds exactly the music time slept.
    EXPECT_EQ(r.pcm.size(), static_cast<std::size_t>(r.sleptMs) * 44100 / 1000 * 4);
    EXPECT_FALSE(Silent(r.pcm));
  }
}

TEST_F(Engine, NotificationsArriveInOrderAfterTheLastNoteHasSounded) {
  Session session(port);
  const Rendering r = session.Render(FourQuarters(), 1.0f);
  ASSERT_EQ(r.hr, S_OK);
  ASSERT_EQ(r.notifications.size(), 3u);
  EXPECT_EQ(r.notifications[0].option, DMUS_NOTIFICATION_SEGSTART);
  EXPECT_EQ(r.notifications[0].atMs, 0u);
  EXPECT_EQ(r.notifications[1].option, DMUS_NOTIFICATION_SEGALMOSTEND);
  EXPECT_EQ(r.notifications[2].option, DMUS_NOTIFICATION_SEGEND);
  // The last note is still sounding in the last 100 ms before the end.
  const std::size_t endFrame = 2 * 44100;
  const std::vector<std::uint8_t> lastNote(r.pcm.begin() + (endFrame - 4410) * 4, r.pcm.begin() + endFrame * 4);
  EXPECT_FALSE(Silent(lastNote));
}

TEST_F(Engine, TheRecordingEndsWhenItsSoundHasDiedAwayOrFadesOutAtTheCap) {
  // The loudest sample between two times of a recording, in milliseconds.
  const auto peak = [](const std::vector<std::uint8_t>& pcm, DWORD fromMs, DWORD toMs) {
    int loudest = 0;
    const std::size_t last = std::min<std::size_t>(pcm.size(), static_cast<std::size_t>(toMs) * 441 / 10 * 4);
    for (std::size_t i = static_cast<std::size_t>(fromMs) * 441 / 10 * 4; i + 1 < last; i += 2)
      loudest = std::max(loudest, std::abs(int{static_cast<std::int16_t>(pcm[i] | pcm[i + 1] << 8)}));
    return loudest;
  };
  const auto almostEnd = [](const Rendering& r) {
    for (const auto& n : r.notifications)
      if (n.option == DMUS_NOTIFICATION_SEGALMOSTEND) return n.atMs;
    return DWORD{0};
  };

  // Notes that release over 8 s: the notification waits until the release has
  // died away, long after the 2 s of music.
  Session slow(longPort);
  const Rendering released = slow.Render(FourQuarters(), 1.0f);
  ASSERT_EQ(released.hr, S_OK);
  const DWORD end = almostEnd(released);
  EXPECT_GT(end, 5000u);
  EXPECT_LT(end, 12000u);
  EXPECT_GT(peak(released.pcm, end - 1000, end - 500), 2);
  EXPECT_LE(peak(released.pcm, end - 100, end), 2);

  // A note the pedal holds on a sound that does not decay never dies away: 10 s
  // after the music (0.5 s) the sound fades to silence and the rendering ends.
  const std::string held = dir.File("held.mid");
  MidiFile midi;
  midi.Tempo(0, 500000).Event(0, {0xB0, 64, 127}).Note(0, 0, 60, 100, 768);
  midi.Write(held);
  TheEffectRecord().Clear();
  Session pedal(port);
  const Rendering capped = pedal.Render(held, 1.0f);
  ASSERT_EQ(capped.hr, S_OK);
  EXPECT_GE(almostEnd(capped), 10500u);
  EXPECT_LE(almostEnd(capped), 10600u);
  const int level = peak(capped.pcm, 10400, 10490);
  EXPECT_GT(level, 1000);
  const std::size_t capFrame = 10500 * 441 / 10;
  EXPECT_LT(peak(capped.pcm, 10495, 10500), level / 2);
  ASSERT_GT(capped.pcm.size(), capFrame * 4);
  const auto lastBeforeCap =
      static_cast<std::int16_t>(capped.pcm[capFrame * 4 - 4] | capped.pcm[capFrame * 4 - 3] << 8);
  EXPECT_LE(std::abs(int{lastBeforeCap}), level / 100);
  EXPECT_EQ(peak(capped.pcm, 10500, almostEnd(capped) + 700), 0);
}

TEST_F(Engine, TheSameFileRendersToTheSameBytesAfterAnotherOne) {
  const std::string first = FourQuarters();
  const std::string other = dir.File("other.mid");
  MidiFile midi;
  midi.Event(0, {0xB0, 91, 127}).Event(0, {0xB0, 93, 127});  // full reverb and chorus
  for (int i = 0; i < 8; ++i) midi.Note(0, 0, 40 + 3 * i, 127, 200);
  midi.Write(other);

  Session session(port);
  const Rendering a = session.Render(first, 1.0f);
  TheEffectRecord().Clear();
  session.Render(other, 1.3f);
  TheEffectRecord().Clear();
  const Rendering b = session.Render(first, 1.0f);
  ASSERT_EQ(a.hr, S_OK);
  ASSERT_EQ(b.hr, S_OK);
  ASSERT_EQ(a.pcm.size(), b.pcm.size());
  std::size_t firstDifference = 0;
  while (firstDifference < a.pcm.size() && a.pcm[firstDifference] == b.pcm[firstDifference]) ++firstDifference;
  EXPECT_EQ(firstDifference, a.pcm.size()) << "first different frame " << firstDifference / 4;
}

TEST_F(Engine, AToolFirstInTheGraphSeesEveryNotePatchAndMidiMessage) {
  const std::string file = dir.File("mixed.mid");
  MidiFile midi;
  midi.Track().Tempo(0, 400000);
  midi.Event(0, {0xB0, 0, 1}).Event(0, {0xC0, 0}).Event(0, {0xB0, 7, 100});
  midi.Note(0, 0, 60, 90, 384).Note(0, 0, 62, 90, 384).Event(0, {0xE0, 0, 0x40}).Note(0, 0, 64, 90, 384);
  midi.Track().Event(100, {0xF0, 0x03, 0x7E, 0x7F, 0xF7}).Note(0, 1, 50, 80, 500).Note(10, 1, 52, 80, 500);
  midi.Write(file);

  CountingTool tool;
  Session session(port);
  const Rendering r = session.Render(file, 1.0f, &tool);
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(tool.notes, 5);
  EXPECT_EQ(tool.patches, 1);
  EXPECT_EQ(tool.lastPatchMsb, 1);  // the bank select seen before the program change
  EXPECT_EQ(tool.midi, 3);          // two controllers and the pitch bend
  // Every message went back to the performance's store.
  EXPECT_EQ(platform::AsPerformance(session.performance.Get())->OutstandingMessages(), 0u);
}

TEST_F(Engine, ATempoChangeOnEveryTickKeepsExactTime) {
  // 768 ticks, each at its own tempo: the sum is the music's exact length.
  const std::string file = dir.File("tempo.mid");
  MidiFile midi;
  midi.Event(0, {0x90, 60, 100});
  double seconds = 0;
  for (int tick = 0; tick < 768; ++tick) {
    const std::uint32_t tempo = tick % 2 == 0 ? 400000 : 700000;
    midi.Tempo(tick == 0 ? 0 : 1, tempo);
    seconds += tempo / 1e6 / 768.0;
  }
  midi.Event(1, {0x80, 60, 0});
  midi.Write(file);

  Session session(port);
  const Rendering r = session.Render(file, 1.0f);
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_EQ(r.length, 768);
  EXPECT_NEAR(static_cast<double>(r.endTime - r.startTime), seconds * 1e7, 1.0);
}

TEST_F(Engine, TheRecordingClockRendersExactlyTheSleptSamples) {
  Session session(port);
  ASSERT_EQ(session.Configure(1.0f), S_OK);
  ASSERT_EQ(session.Load(FourQuarters()), S_OK);
  session.path->Activate(FALSE);
  DSEFFECTDESC effect{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestRecorder, 0, 0};
  ASSERT_EQ(session.buffer->SetFX(1, &effect, nullptr), S_OK);
  session.path->Activate(TRUE);
  ASSERT_EQ(session.performance->PlaySegmentEx(session.segment.Get(), nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr,
                                               nullptr, session.path.Get()),
            S_OK);
  ASSERT_TRUE(platform::HasThreadWaitDriver());
  REFERENCE_TIME before = 0, after = 0;
  session.performance->GetTime(&before, nullptr);
  const auto wallStart = std::chrono::steady_clock::now();
  DWORD total = 0;
  for (DWORD ms : {37u, 37u, 1u, 250u, 3u}) {
    platform::Sleep(ms);
    total += ms;
    EXPECT_EQ(TheEffectRecord().Bytes().size(), static_cast<std::size_t>(total) * 44100 / 1000 * 4);
  }
  session.performance->GetTime(&after, nullptr);
  EXPECT_NEAR(static_cast<double>(after - before), total * 1e4, 1e3);
  // Faster than the music it rendered.
  EXPECT_LT(std::chrono::steady_clock::now() - wallStart, std::chrono::milliseconds(total));

  // After the stop, this thread's waits are real waits again and render nothing.
  session.performance->Stop(nullptr, nullptr, 0, 0);
  EXPECT_FALSE(platform::HasThreadWaitDriver());
  const std::size_t recorded = TheEffectRecord().Bytes().size();
  platform::Sleep(20);
  EXPECT_EQ(TheEffectRecord().Bytes().size(), recorded);
  EXPECT_EQ(session.performance->CloseDown(), S_OK);
}

TEST_F(Engine, RealTimePlaybackWithoutADeviceRunsSilentlyAndStops) {
  Session session(port);
  ASSERT_EQ(session.Configure(1.0f), S_OK);
  ASSERT_EQ(session.Load(FourQuarters()), S_OK);
  session.path->Activate(FALSE);
  DSEFFECTDESC effect{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestEffect, 0, 0};
  ASSERT_EQ(session.buffer->SetFX(1, &effect, nullptr), S_OK);
  session.path->Activate(TRUE);
  ASSERT_EQ(session.performance->PlaySegmentEx(session.segment.Get(), nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr,
                                               nullptr, session.path.Get()),
            S_OK);
  EXPECT_FALSE(platform::HasThreadWaitDriver());
  REFERENCE_TIME t0 = 0, t1 = 0;
  session.performance->GetTime(&t0, nullptr);
  for (int i = 0; i < 100 && TheEffectRecord().Bytes().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  session.performance->GetTime(&t1, nullptr);
  EXPECT_GT(t1, t0);
  EXPECT_FALSE(TheEffectRecord().Bytes().empty());
  session.performance->Stop(nullptr, nullptr, 0, 0);
  EXPECT_EQ(session.performance->CloseDown(), S_OK);
  const std::size_t rendered = TheEffectRecord().Bytes().size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(TheEffectRecord().Bytes().size(), rendered);
}

TEST_F(Engine, SetFxOnlyWhileInactiveAndEachFailureLeavesNoEffect) {
  Session session(port);
  ASSERT_EQ(session.Configure(1.0f), S_OK);
  DSEFFECTDESC plain{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestEffect, 0, 0};
  DWORD codes[2] = {99, 99};
  EXPECT_EQ(session.buffer->SetFX(1, &plain, codes), DSERR_INVALIDCALL);
  EXPECT_EQ(codes[0], 99u);

  session.path->Activate(FALSE);
  EXPECT_EQ(session.buffer->SetFX(1, &plain, codes), S_OK);
  EXPECT_EQ(codes[0], DSFXR_LOCSOFTWARE);
  EXPECT_EQ(TheEffectRecord().typesSet, 2);  // input and output

  DSEFFECTDESC two[2] = {plain, {sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, GUID{1, 2, 3, {4}}, 0, 0}};
  EXPECT_EQ(session.buffer->SetFX(2, two, codes), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(codes[0], DSFXR_UNALLOCATED);
  EXPECT_EQ(codes[1], DSFXR_UNKNOWN);
  DSEFFECTDESC picky{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestPickyEffect, 0, 0};
  EXPECT_EQ(session.buffer->SetFX(1, &picky, codes), DMO_E_TYPE_NOT_ACCEPTED);
  EXPECT_EQ(codes[0], DSFXR_FAILED);
  EXPECT_EQ(session.buffer->SetFX(1, nullptr, nullptr), DSERR_INVALIDPARAM);

  // A failed SetFX left nothing attached: playing processes no block.
  session.path->Activate(TRUE);
  ASSERT_EQ(session.Load(FourQuarters()), S_OK);
  ASSERT_EQ(session.performance->PlaySegmentEx(session.segment.Get(), nullptr, nullptr, 0, 0, nullptr, nullptr,
                                               session.path.Get()),
            S_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  session.performance->Stop(nullptr, nullptr, 0, 0);
  EXPECT_EQ(TheEffectRecord().processCalls, 0);

  // The recording sink is told to start afresh; 0 effects removes it again.
  session.path->Activate(FALSE);
  DSEFFECTDESC recorder{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestRecorder, 0, 0};
  EXPECT_EQ(session.buffer->SetFX(1, &recorder, codes), S_OK);
  EXPECT_EQ(TheEffectRecord().beginRecordingCalls, 1);
  EXPECT_EQ(session.buffer->SetFX(0, nullptr, nullptr), S_OK);
  EXPECT_EQ(session.buffer->SetFX(0, nullptr, nullptr), S_OK);

  WAVEFORMATEX format{};
  DWORD written = 0;
  ASSERT_EQ(session.buffer->GetFormat(&format, sizeof(format), &written), S_OK);
  EXPECT_EQ(written, sizeof(WAVEFORMATEX));
  EXPECT_EQ(format.nSamplesPerSec, 44100u);
  EXPECT_EQ(format.nChannels, 2);
  EXPECT_EQ(format.wBitsPerSample, 16);
  EXPECT_EQ(session.buffer->GetFormat(&format, 10, nullptr), DSERR_INVALIDPARAM);
  EXPECT_EQ(session.buffer->SetVolume(1), DSERR_INVALIDPARAM);
  EXPECT_EQ(session.performance->CloseDown(), S_OK);
}

TEST_F(Engine, TheBufferVolumeAttenuatesTheSamples) {
  Session loud(port);
  const Rendering a = loud.Render(FourQuarters(), 1.0f);
  TheEffectRecord().Clear();
  Session quiet(port);
  ASSERT_EQ(quiet.Configure(1.0f), S_OK);
  ASSERT_EQ(quiet.performance->CloseDown(), S_OK);
  // -6.02 dB on the path halves every sample.
  ASSERT_EQ(quiet.Configure(1.0f), S_OK);
  ASSERT_EQ(quiet.path->SetVolume(-602, 0), S_OK);
  ASSERT_EQ(quiet.Load(FourQuarters()), S_OK);
  quiet.path->Activate(FALSE);
  DSEFFECTDESC recorder{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestRecorder, 0, 0};
  ASSERT_EQ(quiet.buffer->SetFX(1, &recorder, nullptr), S_OK);
  quiet.path->Activate(TRUE);
  ASSERT_EQ(quiet.performance->PlaySegmentEx(quiet.segment.Get(), nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr,
                                             nullptr, quiet.path.Get()),
            S_OK);
  platform::Sleep(1000);
  quiet.performance->CloseDown();
  const std::vector<std::uint8_t> b = TheEffectRecord().Bytes();
  ASSERT_EQ(b.size(), 44100u * 4);
  int peakA = 0, peakB = 0;
  for (std::size_t i = 0; i < b.size(); i += 2) {
    peakA = std::max(peakA, std::abs(static_cast<std::int16_t>(a.pcm[i] | a.pcm[i + 1] << 8)));
    peakB = std::max(peakB, std::abs(static_cast<std::int16_t>(b[i] | b[i + 1] << 8)));
  }
  EXPECT_GT(peakA, 1000);
  EXPECT_NEAR(peakB, peakA / 2.0, peakA * 0.01);
}

TEST_F(Engine, TheLoaderFailsCleanly) {
  Session session(port);
  ASSERT_EQ(session.Configure(1.0f), S_OK);
  EXPECT_EQ(session.Load(dir.File("missing.mid")), DMUS_E_LOADER_FAILEDOPEN);
  EXPECT_EQ(session.Load(dir.Path().string()), DMUS_E_LOADER_FAILEDOPEN);
  const std::string text = dir.File("text.mid");
  std::ofstream(text) << "This is no MIDI file at all.";
  EXPECT_TRUE(FAILED(session.Load(text)));
  EXPECT_FALSE(session.segment);

  DMUS_OBJECTDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwValidData = DMUS_OBJ_CLASS;
  desc.guidClass = CLSID_DirectMusicSegment;
  ComPtr<IDirectMusicSegment8> segment;
  EXPECT_EQ(session.loader->GetObject(&desc, IID_IDirectMusicSegment8, segment.PutVoid()), DMUS_E_LOADER_NOFILENAME);

  // A name beyond 259 characters, with characters outside ASCII, loads whole.
  std::filesystem::path deep = dir.Path();
  for (int i = 0; i < 6; ++i) deep /= std::string(50, static_cast<char>('a' + i)) + "é";
  std::filesystem::create_directories(deep);
  const std::string file = (deep / "ünïcode.mid").string();
  ASSERT_GT(file.size(), 300u);
  MidiFile().Note(0, 0, 60, 100, 768).Write(file);
  ASSERT_EQ(session.Load(file), S_OK);
  MUSIC_TIME length = 0;
  ASSERT_EQ(session.segment->GetLength(&length), S_OK);
  EXPECT_EQ(length, 768);
  EXPECT_EQ(session.segment->SetParam(GUID_NULL, 0, 0, 0, nullptr), DMUS_E_NOT_FOUND);
  session.performance->CloseDown();
}

TEST_F(Engine, InitAudioOpensTheChosenPortAndInitialisesAgainAfterCloseDown) {
  Session unknown(GUID{7, 7, 7, {7}});
  EXPECT_EQ(unknown.Configure(1.0f), DMUS_E_CANNOT_OPEN_PORT);

  Session first(GUID_NULL);
  ASSERT_EQ(first.Configure(1.0f), S_OK);
  DMUS_AUDIOPARAMS params{};
  params.dwSize = sizeof(params);
  EXPECT_EQ(
      first.performance->InitAudio(nullptr, nullptr, nullptr, DMUS_APATH_DYNAMIC_STEREO, 64, DMUS_AUDIOF_ALL, &params),
      platform::DMUS_E_ALREADY_INITED);
  EXPECT_EQ(first.performance->CloseDown(), S_OK);
  // A path of the closed-down performance leads nowhere.
  ComPtr<IDirectSoundBuffer8> buffer;
  EXPECT_EQ(
      first.path->GetObjectInPath(0, DMUS_PATH_BUFFER, 0, GUID_NULL, 0, IID_IDirectSoundBuffer8, buffer.PutVoid()),
      DMUS_E_NOT_INIT);
  EXPECT_EQ(first.Configure(1.0f), S_OK);
  float tempo = 0;
  EXPECT_EQ(first.performance->GetGlobalParam(GUID_PerfMasterTempo, &tempo, sizeof(tempo)), S_OK);
  EXPECT_EQ(tempo, 1.0f);
  float wrong = 0.0f;
  EXPECT_EQ(first.performance->SetGlobalParam(GUID_PerfMasterTempo, &wrong, sizeof(wrong)), E_INVALIDARG);
  BOOL on = TRUE;
  EXPECT_EQ(first.performance->SetGlobalParam(GUID_PerfAutoDownload, &on, sizeof(on)), S_OK);
  EXPECT_EQ(first.performance->CloseDown(), S_OK);

  const std::string broken = dir.File("broken.sf2");
  std::ofstream(broken) << "not a SoundFont";
  const GUID brokenPort = platform::GuidFromName(broken);
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{
      {broken, brokenPort, u"Broken", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH}});
  Session bad(brokenPort);
  EXPECT_EQ(bad.Configure(1.0f), DMUS_E_CANNOT_OPEN_PORT);
  platform::SetPortTableForTesting(std::vector<platform::PortInfo>{});
  Session none(GUID_NULL);
  EXPECT_EQ(none.Configure(1.0f), DMUS_E_CANNOT_OPEN_PORT);
}

TEST_F(Engine, MessagesComeFromThePerformanceAndGoBackOnce) {
  Session session(port);
  ASSERT_EQ(session.Configure(1.0f), S_OK);
  DMUS_PMSG* msg = nullptr;
  EXPECT_EQ(session.performance->AllocPMsg(4, &msg), E_INVALIDARG);
  ASSERT_EQ(session.performance->AllocPMsg(sizeof(DMUS_MIDI_PMSG), &msg), S_OK);
  EXPECT_EQ(msg->dwSize, sizeof(DMUS_MIDI_PMSG));
  EXPECT_EQ(session.performance->FreePMsg(msg), S_OK);
  EXPECT_EQ(session.performance->FreePMsg(msg), DMUS_E_CANNOT_FREE);
  DMUS_PMSG foreign{};
  EXPECT_EQ(session.performance->FreePMsg(&foreign), DMUS_E_CANNOT_FREE);

  // A message sent unstamped starts at the first tool.
  CountingTool tool;
  ASSERT_EQ(session.graph->InsertTool(&tool, nullptr, 0, 0), S_OK);
  ASSERT_EQ(session.performance->AllocPMsg(sizeof(DMUS_MIDI_PMSG), &msg), S_OK);
  auto* midi = static_cast<DMUS_MIDI_PMSG*>(msg);
  midi->dwType = DMUS_PMSGT_MIDI;
  midi->bStatus = 0xB0;
  midi->bByte1 = 7;
  midi->bByte2 = 100;
  ASSERT_EQ(session.performance->SendPMsg(msg), S_OK);
  ASSERT_EQ(session.Load(FourQuarters()), S_OK);
  session.path->Activate(FALSE);
  DSEFFECTDESC recorder{sizeof(DSEFFECTDESC), DSFX_LOCSOFTWARE, dmusic_test::CLSID_TestRecorder, 0, 0};
  ASSERT_EQ(session.buffer->SetFX(1, &recorder, nullptr), S_OK);
  session.path->Activate(TRUE);
  ASSERT_EQ(session.performance->PlaySegmentEx(session.segment.Get(), nullptr, nullptr, DMUS_SEGF_SECONDARY, 0, nullptr,
                                               nullptr, session.path.Get()),
            S_OK);
  platform::Sleep(10);
  EXPECT_EQ(tool.midi, 1);
  EXPECT_EQ(tool.notes, 1);
  session.performance->CloseDown();
  EXPECT_EQ(platform::AsPerformance(session.performance.Get())->OutstandingMessages(), 0u);
}

TEST(TempoMap, PositionsAndTheirInverse) {
  const platform::TempoMap map({{0, 500000}, {768, 250000}});
  EXPECT_EQ(map.Position(0), 0);
  EXPECT_EQ(map.Position(768), 768LL * 500000);
  EXPECT_EQ(map.Position(1536), 768LL * 500000 + 768LL * 250000);
  EXPECT_EQ(map.Position(-10), -10LL * 500000);
  for (MUSIC_TIME mt : {0, 1, 767, 768, 769, 5000}) EXPECT_EQ(map.MusicTimeAt(map.Position(mt)), mt);
  EXPECT_EQ(map.MusicTimeAt(map.Position(100) + 1), 100);
}

}  // namespace
