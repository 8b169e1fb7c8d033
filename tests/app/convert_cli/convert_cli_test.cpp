// halvane-convert run as a user runs it: generated MIDI files, a generated SoundFont,
// no sound card; its exit code, its outputs and what it prints.
#include <FLAC/stream_decoder.h>
#include <ebur128.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/instance/single_instance.h"
#include "tests/platform/dmusic/test_media.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

struct Result {
  std::optional<int> exitCode;  // nullopt: killed by a signal or did not end
  std::string out, err;
};

class ConvertCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::canonical(temp_.Path());
    fs::create_directories(root_ / "fonts");
    dmusic_test::WriteTestSoundFont((root_ / "fonts" / "test.sf2").string());
    ::setenv("HALVANE_SOUNDFONTS", (root_ / "fonts").c_str(), 1);
    ::setenv("HALVANE_AUDIO_DRIVER", "none", 1);
    ::setenv("XDG_STATE_HOME", (root_ / "state").c_str(), 1);
  }

  std::string Midi(const fs::path& path, double seconds) const { return dmusic_test::WriteQuarterNotes(path, seconds); }

  // Starts the program in the test's folder, its output going to files.
  pid_t Start(std::vector<std::string> args) {
    return testing_support::StartProcess(HALVANE_CONVERT, std::move(args), root_);
  }

  Result Wait(pid_t pid) {
    Result result;
    if (const std::optional<int> code = testing_support::WaitForExit(pid, std::chrono::seconds(120));
        code && *code >= 0)
      result.exitCode = code;
    result.out = ReadFileBytes(root_ / "stdout");
    result.err = ReadFileBytes(root_ / "stderr");
    return result;
  }

  Result Run(std::vector<std::string> args) { return Wait(Start(std::move(args))); }

  static std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) names.insert(entry.path().filename().string());
    return names;
  }

  // Four bytes, least significant first, as RIFF sizes are stored.
  static std::string Le32(std::size_t value) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
    return bytes;
  }

  static std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  static std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
  }

  // The processes whose parent is pid.
  static std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/proc", ignored)) {
      if (entry.path().filename().string().find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string stat = ReadFileBytes(entry.path() / "stat");
      const std::size_t close = stat.rfind(')');
      if (close == std::string::npos) continue;
      int parent = 0;
      if (std::sscanf(stat.c_str() + close + 1, " %*c %d", &parent) == 1 && parent == pid)
        children.push_back(std::stoi(entry.path().filename().string()));
    }
    return children;
  }

  // A WAV file as the writer finishes it: its RIFF and data sizes agree with its length.
  static bool WholeWav(const fs::path& path) {
    const std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0) return false;
    const std::size_t data = bytes.find("data");
    return bytes.substr(4, 4) == Le32(bytes.size() - 8) && data != std::string::npos &&
           bytes.substr(data + 4, 4) == Le32(bytes.size() - data - 8);
  }

  // The samples of a WAV file's "data" chunk, read chunk by chunk.
  static std::vector<std::int16_t> WavSamples(const fs::path& path) {
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::int16_t> samples;
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
      std::uint32_t size = 0;
      for (int i = 3; i >= 0; --i) size = size << 8 | static_cast<unsigned char>(bytes[at + 4 + i]);
      if (bytes.compare(at, 4, "data") == 0) {
        samples.resize(std::min<std::size_t>(size, bytes.size() - at - 8) / 2);
        for (std::size_t i = 0; i < samples.size(); ++i)
          samples[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[at + 8 + 2 * i]) |
                                                 static_cast<unsigned char>(bytes[at + 9 + 2 * i]) << 8);
        break;
      }
      at += 8 + size + (size & 1);
    }
    return samples;
  }

  // A FLAC file decoded by libFLAC: its interleaved samples, or nothing when it
  // does not decode whole as 16-bit stereo.
  static std::vector<std::int16_t> FlacSamples(const fs::path& path) {
    struct Decoded {
      std::vector<std::int16_t> samples;
      bool bad = false;
    } decoded;
    const auto write = [](const FLAC__StreamDecoder*, const FLAC__Frame* frame, const FLAC__int32* const buffer[],
                          void* data) {
      auto* out = static_cast<Decoded*>(data);
      if (frame->header.channels != 2 || frame->header.bits_per_sample != 16) out->bad = true;
      for (unsigned i = 0; i < frame->header.blocksize && !out->bad; ++i)
        for (unsigned c = 0; c < 2; ++c) out->samples.push_back(static_cast<std::int16_t>(buffer[c][i]));
      return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    };
    const auto error = [](const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* data) {
      static_cast<Decoded*>(data)->bad = true;
    };
    FLAC__StreamDecoder* decoder = FLAC__stream_decoder_new();
    FLAC__stream_decoder_set_md5_checking(decoder, true);
    const bool opened = FLAC__stream_decoder_init_file(decoder, path.c_str(), write, nullptr, error, &decoded) ==
                        FLAC__STREAM_DECODER_INIT_STATUS_OK;
    // The stream's own checksum of its samples must match them too.
    const bool whole =
        opened && FLAC__stream_decoder_process_until_end_of_stream(decoder) && FLAC__stream_decoder_finish(decoder);
    FLAC__stream_decoder_delete(decoder);
    return whole && !decoded.bad ? decoded.samples : std::vector<std::int16_t>{};
  }

  // Integrated loudness (LUFS) and true peak (dBTP) of a 44.1 kHz stereo WAV file.
  static std::pair<double, double> Loudness(const fs::path& path) {
    const std::vector<std::int16_t> samples = WavSamples(path);
    ebur128_state* meter = ebur128_init(2, 44100, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    ebur128_add_frames_short(meter, samples.data(), samples.size() / 2);
    double lufs = 0, left = 0, right = 0;
    ebur128_loudness_global(meter, &lufs);
    ebur128_true_peak(meter, 0, &left);
    ebur128_true_peak(meter, 1, &right);
    ebur128_destroy(&meter);
    return {lufs, 20 * std::log10(std::max(left, right))};
  }

  TempDir temp_;
  fs::path root_;
};

TEST_F(ConvertCliTest, FilesAndFoldersConvertInOrderIntoTheDefaultFolder) {
  const std::string first = Midi(root_ / "in" / "zz.mid", 1);
  Midi(root_ / "album" / "b.mid", 1);
  Midi(root_ / "album" / "sub" / "a.MIDI", 1);
  WriteFileBytes(root_ / "album" / "notes.txt", "not music");
  // "zz.wav" is taken: the output gets a counter rather than replacing it.
  fs::create_directories(root_ / "wav");
  WriteFileBytes(root_ / "wav" / "zz.wav", "keep me");
  // A killed run left "zz(1).wav" reserved and empty, with its part file: both go, and
  // the name is taken (and named) again.
  WriteFileBytes(root_ / "wav" / "zz(1).wav", "");
  WriteFileBytes(root_ / "wav" / ".zz(1).wav.Xy12Zw.halvane-part", "RIFF");

  // A window is open: the terminal program neither needs its lock nor signals it.
  ASSERT_NE(CreateMutexA(nullptr, TRUE, "halvane - mutex"), nullptr);
  std::atomic<int> signalled{0};
  ASSERT_EQ(StartRegisteredMessageListener("halvane - mutex", [&](UINT) { ++signalled; }), TRUE);

  const Result result = Run({first, "album"});
  StopRegisteredMessageListener();
  EXPECT_EQ(signalled.load(), 0);
  ASSERT_EQ(result.exitCode, std::optional<int>(0)) << result.err;
  EXPECT_EQ(Names(root_ / "wav"), (std::set<std::string>{"zz.wav", "zz(1).wav", "b.wav", "a.wav"}));
  EXPECT_EQ(ReadFileBytes(root_ / "wav" / "zz.wav"), "keep me");
  EXPECT_GT(fs::file_size(root_ / "wav" / "b.wav"), 44u);
  // Not a terminal: one plain line per file, in the order given, naming the output.
  EXPECT_EQ(result.out, first + " -> wav/zz(1).wav\n" + (root_ / "album" / "b.mid").string() + " -> wav/b.wav\n" +
                            (root_ / "album" / "sub" / "a.MIDI").string() + " -> wav/a.wav\n");
  EXPECT_EQ(result.err, "");
  EXPECT_NE(ReadFileBytes(root_ / "state" / "halvane" / "convert-log.txt").find("File Name: " + first),
            std::string::npos);
}

TEST_F(ConvertCliTest, ABrokenFileIsNamedWithItsReasonAndTheOthersStillConvert) {
  const std::string good = Midi(root_ / "in" / "good.mid", 1);
  const std::string broken = (root_ / "in" / "broken.mid").string();
  WriteFileBytes(broken, "");
  const std::string last = Midi(root_ / "in" / "last.mid", 1);

  const Result result = Run({"--format", "mp3", "--rate", "22050", "--out", "mp3s", good, broken, last});
  EXPECT_EQ(result.exitCode, std::optional<int>(1));
  EXPECT_EQ(Names(root_ / "mp3s"), (std::set<std::string>{"good.mp3", "last.mp3"}));
  EXPECT_NE(result.err.find(broken + ": Can't load MIDI File: the file is empty\n"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("1 of 3 file(s) failed: " + broken + "\n"), std::string::npos) << result.err;
  EXPECT_EQ(Lines(result.out), 2u) << result.out;
}

TEST_F(ConvertCliTest, RepairedFilesConvertWithTheirReasonAndFoldersYieldRiffMidi) {
  // A song cut short inside its track, and one in a RIFF wrapper, in a folder.
  const std::string whole = ReadFileBytes(Midi(root_ / "album" / "whole.mid", 2));
  const std::string cut = (root_ / "album" / "cut.mid").string();
  WriteFileBytes(cut, whole.substr(0, whole.size() - 6));
  fs::remove(root_ / "album" / "whole.mid");
  std::string riff = "RMID" + std::string("data") + Le32(whole.size()) + whole;
  WriteFileBytes(root_ / "album" / "wrapped.RMI", "RIFF" + Le32(riff.size()) + riff);

  const Result result = Run({"album"});
  ASSERT_EQ(result.exitCode, std::optional<int>(0)) << result.err;
  EXPECT_EQ(Names(root_ / "wav"), (std::set<std::string>{"cut.wav", "wrapped.wav"}));
  // The last note-off is lost with the end of the file.
  const std::string reason =
      "track 1: 1 note(s) without a note-off held to the end of the track; "
      "track 1: the file was cut short inside this track; what was read plays";
  EXPECT_EQ(result.out, cut + " -> wav/cut.wav: warning: " + reason + "\n" +
                            (root_ / "album" / "wrapped.RMI").string() + " -> wav/wrapped.wav\n");
  EXPECT_EQ(result.err, "halvane-convert: 1 of 2 file(s) converted with a warning: " + cut + "\n");
  EXPECT_NE(ReadFileBytes(root_ / "state" / "halvane" / "convert-log.txt")
                .find("Repaired: track 1: the file was cut short inside this track; what was read plays"),
            std::string::npos);
}

TEST_F(ConvertCliTest, FailuresAreNamedByTheirEscapedPathsQuietShowsOnlyThemAndTheLogKeepsEveryRun) {
  const std::string good = Midi(root_ / "in" / "good.mid", 1);
  const std::string first = (root_ / "a" / "x.mid").string(), second = (root_ / "b" / "x\nfake.mid").string();
  fs::create_directories(root_ / "a");
  fs::create_directories(root_ / "b");
  WriteFileBytes(first, "");
  WriteFileBytes(second, "");
  const std::string shown = (root_ / "b" / "x\\nfake.mid").string();  // as the terminal shows it
  const std::string reason = ": Can't load MIDI File: the file is empty\n";

  const Result loud = Run({first, second, good});
  EXPECT_EQ(loud.exitCode, std::optional<int>(1));
  // The program's own lines only, a name's newline escaped: no engine echo.
  EXPECT_EQ(loud.err, "halvane-convert: " + first + reason + "halvane-convert: " + shown + reason +
                          "halvane-convert: 2 of 3 file(s) failed: " + first + ", " + shown + "\n");
  EXPECT_EQ(loud.out, good + " -> wav/good.wav\n");

  const Result quiet = Run({"--quiet", first, second, good});
  EXPECT_EQ(quiet.exitCode, std::optional<int>(1));
  EXPECT_EQ(quiet.err, "halvane-convert: " + first + reason + "halvane-convert: " + shown + reason);
  EXPECT_EQ(quiet.out, "");

  // Both runs are in the log, from their start lines to their end lines, and the
  // log ends its last line.
  const std::string log = ReadFileBytes(root_ / "state" / "halvane" / "convert-log.txt");
  const auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("Start halvane-convert "), 2u);
  EXPECT_EQ(count("End halvane-convert: 1 converted (0 with a warning), 2 failed\r\n"), 2u);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
}

TEST_F(ConvertCliTest, TheLineNamesTheFileWrittenWhenAnotherTakesTheNameMeanwhile) {
  const std::string song = Midi(root_ / "in" / "song.mid", 120);
  const fs::path log = root_ / "state" / "halvane" / "convert-log.txt";
  const pid_t pid = Start({song});
  ASSERT_GT(pid, 0);
  // Once the song plays, another program takes its name.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadFileBytes(log).find("iPort: ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  WriteFileBytes(root_ / "wav" / "song.wav", "another program's");
  const Result result = Wait(pid);
  ASSERT_EQ(result.exitCode, std::optional<int>(0)) << result.err;
  EXPECT_EQ(ReadFileBytes(root_ / "wav" / "song.wav"), "another program's");
  EXPECT_EQ(result.out, song + " -> wav/song(1).wav\n");
}

TEST_F(ConvertCliTest, BadArgumentsAreNamedAndNothingIsConverted) {
  const std::string song = Midi(root_ / "in" / "song.mid", 1);
  const std::string fifo = (root_ / "in" / "fifo.mid").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--format", "ogg", song}, "--format ogg"},
      {{"--rate", "8000", song}, "--rate 8000"},
      {{"--tempo", "151", song}, "--tempo 151"},
      {{"--tempo", song}, "--tempo"},
      {{"--loud", song}, "--loud"},
      {{song, "missing.mid"}, "missing.mid: no such file or folder"},
      {{song, "/dev/null"}, "/dev/null: not a regular file or folder"},
      {{fifo}, fifo + ": not a regular file or folder"},
      {{"--out", "o", "--same-dir", song}, "--same-dir"},
      {{"--device", "7", song}, "--device 7"},
      {{"--tempo"}, "--tempo needs a value"},
      {{"--jobs", "0", song}, "--jobs 0"},
      {{"--shard", "3/3", song}, "--shard 3/3"},
      {{"--shard", "1", song}, "--shard 1"},
      {{"--keep-tree", "--same-dir", song}, "--keep-tree"},
      {{"--manifest", "/dev/null", song}, "--manifest /dev/null: not a regular file"},
      {{"--loudness", "0", song}, "--loudness 0"},
      {{"--soundfont", "missing.sf2", song}, "--soundfont missing.sf2: there is no such file"},
      {{"--soundfont", song, song}, "--soundfont " + song + ": not a SoundFont"},
      {{"--soundfont", "x.sf2", "--device", "1", song}, "--device and --soundfont"},
      {{}, "no MIDI files"},
  };
  for (const auto& [args, named] : cases) {
    const Result result = Run(args);
    EXPECT_EQ(result.exitCode, std::optional<int>(2)) << named;
    EXPECT_EQ(Lines(result.err), 1u) << result.err;
    EXPECT_NE(result.err.find(named), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(root_ / "wav")) << named;
    EXPECT_FALSE(fs::exists(root_ / "o")) << named;
  }
  // "--" makes a name that starts with '-' a file; the device by its listed number;
  // the output beside its MIDI file.
  const std::string dashed = Midi(root_ / "in" / "-x.mid", 1);
  const Result listed = Run({"--list-devices"});
  ASSERT_EQ(listed.exitCode, std::optional<int>(0));
  EXPECT_EQ(listed.out.rfind("1\t", 0), 0u) << listed.out;
  const Result result = Run({"--device", "1", "--tempo", "150", "--same-dir", "--", dashed});
  EXPECT_EQ(result.exitCode, std::optional<int>(0)) << result.err;
  EXPECT_TRUE(fs::exists(root_ / "in" / "-x.wav"));
}

TEST_F(ConvertCliTest, LoudnessBringsAQuietAndAClippingSongToTheTargetUnderTheTruePeakLimit) {
  // Soft notes; and short loud chords, on fifteen channels at once in phase, whose
  // peaks stand far above their loudness: only a limiter brings this song up.
  dmusic_test::MidiFile quietMidi, loudMidi;
  quietMidi.Tempo(0, 500000);
  for (int i = 0; i < 12; ++i) quietMidi.Note(0, 0, 60 + i % 5, 30, 768);
  for (int channel = 0; channel < 16; ++channel) {
    if (channel == 9) continue;  // percussion
    loudMidi.Track();
    if (channel == 0) loudMidi.Tempo(0, 500000);
    for (int i = 0; i < 6; ++i) loudMidi.Note(i == 0 ? 0 : 3052, channel, 60, 127, 20);
  }
  const std::string quiet = (root_ / "in" / "quiet.mid").string();
  const std::string loud = (root_ / "in" / "loud.mid").string();
  fs::create_directories(root_ / "in");
  quietMidi.Write(quiet);
  loudMidi.Write(loud);

  // At the default gain the loud song clips, and the terminal says how much.
  const Result plain = Run({"--manifest", "plain.jsonl", quiet, loud});
  ASSERT_EQ(plain.exitCode, std::optional<int>(0)) << plain.err;
  EXPECT_EQ(Occurrences(plain.err, "halvane-convert: " + loud + ": warning: "), 1u) << plain.err;
  EXPECT_EQ(Occurrences(plain.err, " samples were clipped to the 16-bit range\n"), 1u) << plain.err;
  EXPECT_EQ(Occurrences(ReadFileBytes(root_ / "plain.jsonl"), "\"clipped_samples\":0"), 1u);
  EXPECT_GT(Loudness(root_ / "wav" / "loud.wav").second, 0.0);

  const Result result = Run({"--loudness", "-12", "--manifest", "m.jsonl", "--out", "n", quiet, loud});
  ASSERT_EQ(result.exitCode, std::optional<int>(0)) << result.err;
  for (const char* name : {"quiet.wav", "loud.wav"}) {
    const auto [lufs, truePeak] = Loudness(root_ / "n" / name);
    EXPECT_NEAR(lufs, -12.0, 0.5) << name;
    EXPECT_LE(truePeak, -1.0) << name;
  }
  const std::string manifest = ReadFileBytes(root_ / "m.jsonl");
  EXPECT_EQ(Occurrences(manifest, "\"loudness_lufs\":-"), 2u) << manifest;
  EXPECT_EQ(Occurrences(manifest, "\"gain_db\":"), 2u) << manifest;
  EXPECT_EQ(Occurrences(ReadFileBytes(root_ / "state" / "halvane" / "convert-log.txt"), "LUFS measured, gain "), 2u);
}

TEST_F(ConvertCliTest, ASoundFontByItsPathPlaysAndFlacHoldsTheWavSamples) {
  const std::string first = Midi(root_ / "in" / "first.mid", 3), second = Midi(root_ / "in" / "second.mid", 2);
  const std::string own = (root_ / "mine" / "own.sf2").string();
  fs::create_directories(root_ / "mine");
  dmusic_test::WriteTestSoundFont(own, 0.5);

  const Result listed = Run({"--list-devices", "--soundfont", own});
  ASSERT_EQ(listed.exitCode, std::optional<int>(0)) << listed.err;
  EXPECT_EQ(listed.out.rfind("1\tFluidSynth: own\n", 0), 0u) << listed.out;
  // The same songs as WAV in this process, and as FLAC in two worker processes.
  const Result wav = Run({"--soundfont", own, "--jobs", "1", first, second});
  ASSERT_EQ(wav.exitCode, std::optional<int>(0)) << wav.err;
  const Result flac = Run({"--soundfont", own, "--format", "flac", "--jobs", "2", "--out", "f", first, second});
  ASSERT_EQ(flac.exitCode, std::optional<int>(0)) << flac.err;
  EXPECT_EQ(flac.out, first + " -> f/first.flac\n" + second + " -> f/second.flac\n");
  EXPECT_EQ(Names(root_ / "f"), (std::set<std::string>{"first.flac", "second.flac"}));
  for (const char* name : {"first", "second"}) {
    const std::vector<std::int16_t> samples = WavSamples(root_ / "wav" / (std::string(name) + ".wav"));
    EXPECT_GT(samples.size(), 44100u) << name;
    EXPECT_TRUE(FlacSamples(root_ / "f" / (std::string(name) + ".flac")) == samples) << name;
  }
  // Another SoundFont plays other samples: the one given is the one heard.
  const Result other = Run({"--out", "o", first});
  ASSERT_EQ(other.exitCode, std::optional<int>(0)) << other.err;
  EXPECT_FALSE(WavSamples(root_ / "o" / "first.wav") == WavSamples(root_ / "wav" / "first.wav"));
}

TEST_F(ConvertCliTest, InterruptMidFileLeavesNoFileAndStartsNoOther) {
  const std::string longFile = Midi(root_ / "in" / "long.mid", 900);
  const std::string next = Midi(root_ / "in" / "next.mid", 1);
  const fs::path log = root_ / "state" / "halvane" / "convert-log.txt";
  const pid_t pid = Start({"--jobs", "1", "--format", "mp3", longFile, next});
  ASSERT_GT(pid, 0);
  // The long file is playing once the worker has picked its port.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (ReadFileBytes(log).find("iPort: ") == std::string::npos && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  const Result result = Wait(pid);
  EXPECT_EQ(result.exitCode, std::optional<int>(130)) << result.err;
  EXPECT_TRUE(Names(root_ / "wav").empty());
  for (const std::string& name : Names(std::getenv("TMPDIR"))) EXPECT_NE(name.rfind("ovh", 0), 0u) << name;
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("stopped: 0 converted, 2 not converted"), std::string::npos) << result.err;
}

TEST_F(ConvertCliTest, ShardsOfManyJobsMirrorTheTreeAndRecordEveryFileOnce) {
  // Equal names in different folders, and a name no JSON string may hold as it is.
  const std::vector<std::string> inputs = {Midi(root_ / "album" / "x.mid", 1), Midi(root_ / "album" / "a" / "x.mid", 1),
                                           Midi(root_ / "album" / "a" / "b" / "y.mid", 1),
                                           Midi(root_ / "album" / "odd\x01\xff\"name.mid", 1),
                                           Midi(root_ / "album" / "z.mid", 1)};
  std::vector<Result> runs;
  for (const char* shard : {"0/2", "1/2"})
    runs.push_back(
        Run({"--jobs", "2", "--keep-tree", "--manifest", "m.jsonl", "--shard", shard, "--out", "o", "album"}));
  // Each run takes every other file of the sorted list, its lines in that order:
  // a/b/y, odd (which the reader refuses by its name), z; then a/x, x.
  std::vector<std::string> sorted = inputs;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(runs[0].exitCode, std::optional<int>(1));
  EXPECT_EQ(runs[0].out, sorted[0] + " -> o/a/b/y.wav\n" + sorted[4] + " -> o/z.wav\n");
  EXPECT_NE(runs[0].err.find("the file name is not valid UTF-8 text"), std::string::npos) << runs[0].err;
  EXPECT_EQ(runs[1].exitCode, std::optional<int>(0)) << runs[1].err;
  EXPECT_EQ(runs[1].out, sorted[1] + " -> o/a/x.wav\n" + sorted[3] + " -> o/x.wav\n");
  EXPECT_EQ(Names(root_ / "o"), (std::set<std::string>{"x.wav", "a", "z.wav"}));
  EXPECT_EQ(Names(root_ / "o" / "a"), (std::set<std::string>{"x.wav", "b"}));
  EXPECT_TRUE(WholeWav(root_ / "o" / "a" / "b" / "y.wav"));

  const std::string manifest = ReadFileBytes(root_ / "m.jsonl");
  EXPECT_EQ(Lines(manifest), inputs.size());
  EXPECT_EQ(Occurrences(manifest, "\"status\":\"ok\""), inputs.size() - 1);
  for (const std::string& input : {inputs[0], inputs[1], inputs[2], inputs[4]})
    EXPECT_EQ(Occurrences(manifest, "{\"input\":\"" + input + "\",\"output\":\"o/"), 1u) << input;
  // The refused name's record: valid JSON, with what it could not hold escaped.
  EXPECT_EQ(Occurrences(manifest,
                        "album/odd\\u0001\\ufffd\\\"name.mid\",\"output\":null,\"status\":\"failed\","
                        "\"reason\":\"Can't load MIDI File: the file name is not valid UTF-8 text\""),
            1u)
      << manifest;
  // One-second songs: some music each, a level, nothing clipped.
  EXPECT_EQ(Occurrences(manifest, "\"music_seconds\":0"), 0u) << manifest;
  EXPECT_EQ(Occurrences(manifest, "\"music_seconds\":null"), 1u) << manifest;
  EXPECT_EQ(Occurrences(manifest, "\"peak_dbfs\":-"), inputs.size() - 1) << manifest;
  EXPECT_EQ(Occurrences(manifest, "\"clipped_samples\":0}"), inputs.size()) << manifest;
}

TEST_F(ConvertCliTest, AfterAKilledRunOfManyJobsSkipExistingConvertsOnlyTheRestAndEveryOutputIsWhole) {
  std::vector<std::string> inputs;
  for (int i = 0; i < 8; ++i) inputs.push_back(Midi(root_ / "in" / ("s" + std::to_string(i) + ".mid"), 60));
  const pid_t pid = Start({"--jobs", "2", "--out", "o", "in"});
  ASSERT_GT(pid, 0);
  // Killed, workers and all, once a file is written and others are under way (their
  // names held by empty files beside their part files).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const auto written = [&] {
    std::size_t count = 0;
    for (const std::string& name : Names(root_ / "o")) {
      std::error_code ignored;
      count +=
          name.size() > 4 && name.rfind(".wav") == name.size() - 4 && fs::file_size(root_ / "o" / name, ignored) > 0;
    }
    return count;
  };
  while (written() == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  const std::vector<pid_t> workers = ChildrenOf(pid);
  EXPECT_EQ(workers.size(), 2u);
  ::kill(pid, SIGKILL);
  for (const pid_t worker : workers) ::kill(worker, SIGKILL);
  EXPECT_FALSE(Wait(pid).exitCode);
  const std::size_t before = written();
  ASSERT_GT(before, 0u);
  ASSERT_LT(before, inputs.size());

  const Result result = Run({"--jobs", "2", "--skip-existing", "--manifest", "m.jsonl", "--out", "o", "in"});
  ASSERT_EQ(result.exitCode, std::optional<int>(0)) << result.err;
  std::set<std::string> names;
  for (const std::string& input : inputs) names.insert(fs::path(input).stem().string() + ".wav");
  EXPECT_EQ(Names(root_ / "o"), names);  // no name(1), no part file left
  for (const std::string& name : names) EXPECT_TRUE(WholeWav(root_ / "o" / name)) << name;
  EXPECT_EQ(Occurrences(result.out, ": skipped: already there\n"), before) << result.out;
  EXPECT_EQ(Occurrences(result.err, std::to_string(before) + " of 8 file(s) skipped"), 1u) << result.err;
  const std::string manifest = ReadFileBytes(root_ / "m.jsonl");
  EXPECT_EQ(Occurrences(manifest, "\"status\":\"skipped\""), before);
  EXPECT_EQ(Occurrences(manifest, "\"status\":\"ok\""), inputs.size() - before);
}

TEST_F(ConvertCliTest, InterruptOrTerminateStopsEveryJobAndLeavesNothing) {
  std::vector<std::string> inputs;
  for (int i = 0; i < 3; ++i) inputs.push_back(Midi(root_ / "in" / ("long" + std::to_string(i) + ".mid"), 900));
  const fs::path log = root_ / "state" / "halvane" / "convert-log.txt";
  for (const int signal : {SIGINT, SIGTERM}) {
    WriteFileBytes(log, "");
    const pid_t pid = Start({"--jobs", "2", "--format", "mp3", "--out", "o", "in"});
    ASSERT_GT(pid, 0);
    // Both workers are playing once each has picked its port.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Occurrences(ReadFileBytes(log), "iPort: ") < 2 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::vector<pid_t> workers = ChildrenOf(pid);
    ASSERT_EQ(workers.size(), 2u);
    ASSERT_EQ(::kill(pid, signal), 0);
    const Result result = Wait(pid);
    EXPECT_EQ(result.exitCode, std::optional<int>(130)) << result.err;
    for (const pid_t worker : workers) EXPECT_NE(::kill(worker, 0), 0) << "worker " << worker << " still runs";
    EXPECT_TRUE(Names(root_ / "o").empty());
    for (const std::string& name : Names(std::getenv("TMPDIR"))) EXPECT_NE(name.rfind("ovh", 0), 0u) << name;
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("stopped: 0 converted, 3 not converted"), std::string::npos) << result.err;
  }
}

}  // namespace
