#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/core/folder_check.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::FolderWriteProblem;
using platform::MakeFolders;

TEST(FolderCheck, MissingFoldersAndFilesAreNamedAndMissingFoldersAreMade) {
  testing_support::TempDir dir;
  testing_support::WriteFileBytes(dir.Path() / "file", "");
  EXPECT_EQ(FolderWriteProblem(dir.Path().string()), "");
  EXPECT_EQ(FolderWriteProblem((dir.Path() / "missing").string()), "No such file or directory");
  EXPECT_EQ(FolderWriteProblem((dir.Path() / "file").string()), "Not a directory");
  EXPECT_EQ(FolderWriteProblem(""), "No such file or directory");

  const fs::path deep = dir.Path() / "a" / "b" / "c";
  EXPECT_EQ(MakeFolders(deep.string() + "/"), "");
  EXPECT_TRUE(fs::is_directory(deep));
  EXPECT_EQ(MakeFolders(deep.string()), "");
  EXPECT_EQ(MakeFolders((dir.Path() / "file" / "sub").string()), "Not a directory");
}

// The superuser may write anywhere: the answer for a folder the user may not write
// is asked by a child that has become nobody.
TEST(FolderCheck, AFolderTheUserMayNotWriteIsRefusedWithTheSystemsReason) {
  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "needs root and the user nobody";
  // The test's own temporary folders are closed to others: nobody must reach these.
  char name[] = "/tmp/halvane-folder-check-XXXXXX";
  ASSERT_NE(::mkdtemp(name), nullptr);
  const fs::path dir = name;
  struct Removed {
    fs::path path;
    ~Removed() { fs::remove_all(path); }
  } removed{dir};
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const fs::path closed = dir / "closed", open = dir / "open";
  fs::create_directory(closed);
  fs::create_directory(open);
  fs::permissions(closed, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(open, fs::perms::all);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(10);
    const bool openOk = FolderWriteProblem(open.string()).empty();
    const bool closedRefused = FolderWriteProblem(closed.string()) == "Permission denied";
    const bool notMade = MakeFolders((closed / "sub").string()) == "Permission denied";
    ::_exit((openOk ? 0 : 1) | (closedRefused ? 0 : 2) | (notMade ? 0 : 4));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: open folder refused, 2: closed folder not refused, 4: made in it";
  EXPECT_FALSE(fs::exists(closed / "sub"));
}

}  // namespace
