// The one decision where the window writes: beside a writable program folder, else
// in the user's state and music folders.
#include "base/user_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

TEST(UserFoldersTest, AWritableProgramFolderKeepsTheLogAndOutputsBesideTheProgram) {
  TempDir program;
  const std::string folder = program.Path().string();
  EXPECT_EQ(base::LogFileFor(folder), folder + "/log.txt");
  EXPECT_EQ(base::DefaultOutputFolderFor(folder), folder + "/wav");
  EXPECT_EQ(base::DefaultMidiFolderFor(folder), folder + "/midi");
  EXPECT_FALSE(fs::exists(program.Path() / "wav"));  // made by nobody, as before
}

// A folder the process cannot write to: one that does not exist (the tests run as
// root, who may write to any folder that does).
TEST(UserFoldersTest, AProgramFolderThatIsNotWritableSendsThemToTheUsersFolders) {
  TempDir user;
  const fs::path home = user.Path() / "home";
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (user.Path() / "config").c_str(), 1);
  const std::string installed = (user.Path() / "opt" / "halvane" / "bin").string();
  ASSERT_FALSE(base::IsWritableFolder(installed));

  ::setenv("XDG_STATE_HOME", (user.Path() / "state").c_str(), 1);
  EXPECT_EQ(base::LogFileFor(installed), (user.Path() / "state/halvane/log.txt").string());
  EXPECT_TRUE(fs::is_directory(user.Path() / "state/halvane"));
  ::unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(base::LogFileFor(installed), (home / ".local/state/halvane/log.txt").string());

  // Add File(s) opens at home until the music folder exists, then there.
  EXPECT_EQ(base::DefaultMidiFolderFor(installed), home.string());
  // No user-dirs.dirs: ~/Music; with one, its XDG_MUSIC_DIR as xdg-user-dir reads it.
  EXPECT_EQ(base::DefaultOutputFolderFor(installed), (home / "Music/Halvane").string());
  fs::create_directories(user.Path() / "config");
  WriteFileBytes(user.Path() / "config/user-dirs.dirs",
                 "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                 "XDG_MUSIC_DIR=\"$HOME/Tunes/\"\n");
  EXPECT_EQ(base::DefaultOutputFolderFor(installed), (home / "Tunes/Halvane").string());
  EXPECT_TRUE(fs::is_directory(home / "Tunes/Halvane"));
  EXPECT_EQ(base::DefaultMidiFolderFor(installed), (home / "Tunes").string());
}

// A program folder others can write (sticky or not) is not the user's: the log and
// outputs go to the user's own folders, where nobody can plant a link in their place.
TEST(UserFoldersTest, AProgramFolderOthersCanWriteSendsThemToTheUsersFolders) {
  TempDir user, program;
  ::setenv("XDG_STATE_HOME", (user.Path() / "state").c_str(), 1);
  const std::string folder = program.Path().string();
  for (const fs::perms mode : {fs::perms(0777), fs::perms(0775), fs::perms(01777)}) {
    fs::permissions(program.Path(), mode);
    EXPECT_EQ(base::LogFileFor(folder), (user.Path() / "state/halvane/log.txt").string());
    EXPECT_NE(base::DefaultOutputFolderFor(folder), folder + "/wav");
  }
  ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
