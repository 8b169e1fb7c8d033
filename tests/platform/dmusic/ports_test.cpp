#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/unknown.h"
#include "platform/dmusic/direct_music.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/port_table.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::PortInfo;

std::vector<std::string> Paths(const std::vector<PortInfo>& ports) {
  std::vector<std::string> paths;
  for (const PortInfo& port : ports) paths.push_back(port.path);
  return paths;
}

class PortTableTest : public ::testing::Test {
 protected:
  // A file in a folder of the temporary tree; SoundFont files need no real content
  // because listing never opens them.
  std::string Make(const std::string& relative) {
    const fs::path path = dir_.Path() / relative;
    fs::create_directories(path.parent_path());
    testing_support::WriteFileBytes(path, "not really a SoundFont");
    return fs::canonical(path).string();
  }
  std::string Folder(const std::string& relative) {
    fs::create_directories(dir_.Path() / relative);
    return (dir_.Path() / relative).string();
  }

  testing_support::TempDir dir_;
};

TEST_F(PortTableTest, DefaultFirstThenFolderByFolderSortedByNameEachRealFileOnce) {
  const std::string a = Folder("a"), b = Folder("b");
  const std::string zeta = Make("a/zeta.sf2");
  const std::string alpha = Make("a/Alpha.SF3");
  const std::string gm = Make("b/gm.sf2");
  const std::string dls = Make("b/m.DLS");
  Make("a/readme.txt");
  Make("a/sf2");
  fs::create_directories(dir_.Path() / "a/folder.sf2");
  fs::create_symlink(dir_.Path() / "nowhere.sf2", dir_.Path() / "a/dangling.sf2");
  // The same SoundFont reached twice: through a link and through the default's link.
  fs::create_symlink(gm, dir_.Path() / "a/link-to-gm.sf2");
  fs::create_symlink(gm, dir_.Path() / "default-GM.sf2");

  const auto ports = platform::ScanSoundFontPorts({a, b, a}, (dir_.Path() / "default-GM.sf2").string());
  EXPECT_EQ(Paths(ports), (std::vector<std::string>{gm, alpha, zeta, dls}));
}

TEST_F(PortTableTest, APortDescribesItsSoundFontAndReportsASoftwareSynthWithAudioPaths) {
  const std::string folder = Folder("fonts");
  const std::string gm = Make("fonts/FluidR3_GM.sf2");
  const std::string small = Make("fonts/TimGM6mb.sf2");
  const auto ports = platform::ScanSoundFontPorts({folder}, gm);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].description, u"FluidSynth: FluidR3_GM (default)");
  EXPECT_EQ(ports[1].description, u"FluidSynth: TimGM6mb");
  EXPECT_EQ(ports[1].guid, platform::GuidFromName(small));
  EXPECT_NE(ports[0].guid, ports[1].guid);
  EXPECT_EQ(ports[0].flags,
            DMUS_PC_DLS | DMUS_PC_DLS2 | DMUS_PC_SOFTWARESYNTH | DMUS_PC_AUDIOPATH | DMUS_PC_DIRECTSOUND);
  EXPECT_EQ(ports[0].dwClass, DMUS_PC_OUTPUTCLASS);
  EXPECT_EQ(ports[0].type, DMUS_PORT_USER_MODE_SYNTH);
}

TEST_F(PortTableTest, ALongNameIsCutSoTheDescriptionFitsTheCapabilities) {
  const std::string folder = Folder("fonts");
  // 60 characters outside the basic plane: two UTF-16 units each.
  std::string name;
  for (int i = 0; i < 60; ++i) name += "\xF0\x9F\x8E\xB9";
  Make("fonts/" + name + ".sf2");
  const auto ports = platform::ScanSoundFontPorts({folder}, "");
  ASSERT_EQ(ports.size(), 1u);
  const std::u16string& text = ports[0].description;
  EXPECT_LT(text.size(), 128u);
  EXPECT_EQ(text.substr(0, 12), u"FluidSynth: ");
  // Never half a character.
  EXPECT_EQ((text.size() - 12) % 2, 0u);
  EXPECT_EQ(text.back(), 0xDFB9);
}

TEST_F(PortTableTest, SearchFoldersFollowTheEnvironmentThenProgramUserAndSystemFolders) {
  ::setenv("HALVANE_SOUNDFONTS", "/first::/second", 1);
  const auto folders = platform::SoundFontSearchFolders();
  ::unsetenv("HALVANE_SOUNDFONTS");
  const std::string home = std::getenv("HOME");
  ASSERT_EQ(folders.size(), 8u);
  EXPECT_EQ(folders[0], "/first");
  EXPECT_EQ(folders[1], "/second");
  EXPECT_EQ(fs::path(folders[2]).filename(), "soundfonts");
  EXPECT_EQ(folders[3], home + "/.local/share/soundfonts");
  EXPECT_EQ(folders[4], home + "/.local/share/sounds/sf2");
  EXPECT_EQ(folders[5], "/usr/share/soundfonts");
  EXPECT_EQ(folders[6], "/usr/share/sounds/sf2");
  EXPECT_EQ(folders[7], "/usr/share/sounds/sf3");
}

TEST(PortLookupTest, ATestTableReplacesTheListingAndNamesTheSoundFontOfEachIdentity) {
  const GUID first = platform::GuidFromName("/fonts/one.sf2");
  const GUID second = platform::GuidFromName("/fonts/two.sf2");
  platform::SetPortTableForTesting(std::vector<PortInfo>{
      {"/fonts/one.sf2", first, u"One", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS, DMUS_PORT_USER_MODE_SYNTH},
      {"/fonts/two.sf2", second, u"Two", platform::SoundFontPortFlags(), DMUS_PC_OUTPUTCLASS,
       DMUS_PORT_USER_MODE_SYNTH},
  });
  EXPECT_EQ(platform::SoundFontPathForPort(second), "/fonts/two.sf2");
  EXPECT_EQ(platform::SoundFontPathForPort(GUID_NULL), "/fonts/one.sf2");
  EXPECT_EQ(platform::SoundFontPathForPort(platform::GuidFromName("/elsewhere.sf2")), std::nullopt);

  platform::SetPortTableForTesting(std::vector<PortInfo>{});
  EXPECT_EQ(platform::SoundFontPathForPort(GUID_NULL), std::nullopt);
  platform::SetPortTableForTesting(std::nullopt);
}

TEST(DirectMusicTest, EnumPortFillsTheCapabilitiesOfEachPortAndSaysWhenThereAreNoMore) {
  const GUID id = platform::GuidFromName("/fonts/one.sf2");
  platform::SetPortTableForTesting(std::vector<PortInfo>{
      {"/fonts/one.sf2", id, std::u16string(200, u'n'), DMUS_PC_DLS | DMUS_PC_AUDIOPATH, DMUS_PC_INPUTCLASS, 7},
  });
  auto music = platform::ComPtr<IDirectMusic8>::Adopt(new platform::CDirectMusic());

  DMUS_PORTCAPS caps{};
  caps.dwSize = 308;
  std::fill(std::begin(caps.wszDescription), std::end(caps.wszDescription), u'x');
  ASSERT_EQ(music->EnumPort(0, &caps), S_OK);
  EXPECT_EQ(caps.dwSize, 308u);
  EXPECT_EQ(caps.dwFlags, DMUS_PC_DLS | DMUS_PC_AUDIOPATH);
  EXPECT_EQ(caps.guidPort, id);
  EXPECT_EQ(caps.dwClass, DMUS_PC_INPUTCLASS);
  EXPECT_EQ(caps.dwType, 7u);
  EXPECT_EQ(caps.dwMaxAudioChannels, 2u);
  // A description too long for the capabilities is cut and still terminated.
  EXPECT_EQ(std::u16string(caps.wszDescription), std::u16string(127, u'n'));

  EXPECT_EQ(music->EnumPort(1, &caps), S_FALSE);
  caps.dwSize = 300;
  EXPECT_EQ(music->EnumPort(0, &caps), E_INVALIDARG);
  EXPECT_EQ(music->EnumPort(0, nullptr), E_POINTER);
  platform::SetPortTableForTesting(std::nullopt);
}

}  // namespace
