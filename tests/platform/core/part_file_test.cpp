#include "platform/core/part_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/unlinked_file.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool IsPartOf(const std::string& name, const std::string& finalName) {
  const std::string suffix = ".halvane-part";
  return name.rfind("." + finalName + ".", 0) == 0 && name.size() == finalName.size() + 2 + 6 + suffix.size() &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A writer killed with kill -9 just before its rename leaves its part file and the
// empty name it reserved (its scratch file is gone already); a later clean-up of
// the folder removes both, and leaves a living writer's part file, a part file whose
// name is no longer empty, and everything else alone.
TEST(PartFileTest, WhatAKilledWriterLeftIsClearedAndALivingWriterKeepsItsFile) {
  TempDir dir;
  const fs::path folder = dir.Path();
  const std::string scratch = (folder / "ovh1234.TMP").string();
  WriteFileBytes(scratch, "");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string reason;
    auto temp = platform::UnlinkedFile::Take(scratch, reason);
    const std::string song = (folder / "song.wav").string();
    const int reserved = ::open(song.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
    ::close(reserved);
    platform::SetPartFileHookForTesting([](bool created, const std::string&) {
      if (!created) ::raise(SIGKILL);
    });
    auto part = platform::PartFile::Create(song, reason);
    if (!temp || reserved < 0 || !part) ::_exit(1);
    std::ofstream(part->WriterPath(), std::ios::binary) << "RIFF and some music";
    part->Commit(reason);
    ::_exit(2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  std::vector<std::string> left = Names(folder);
  ASSERT_EQ(left.size(), 2u);
  EXPECT_TRUE(IsPartOf(left[0], "song.wav")) << left[0];
  EXPECT_EQ(left[1], "song.wav");
  EXPECT_EQ(fs::file_size(folder / "song.wav"), 0u);

  std::string reason;
  WriteFileBytes(folder / "living.wav", "");
  auto living = platform::PartFile::Create((folder / "living.wav").string(), reason);
  ASSERT_TRUE(living) << reason;
  WriteFileBytes(folder / "kept.wav", "someone's music");
  WriteFileBytes(folder / ".kept.wav.abcdef.halvane-part", "");
  WriteFileBytes(folder / "notes.txt", "");

  platform::RemoveStaleParts(folder.string());
  left = Names(folder);
  ASSERT_EQ(left.size(), 4u);
  EXPECT_TRUE(IsPartOf(left[0], "living.wav")) << left[0];
  EXPECT_EQ(left[1], "kept.wav");
  EXPECT_EQ(left[2], "living.wav");
  EXPECT_EQ(left[3], "notes.txt");
  // The name the killed writer had reserved is free again for the next save.
  const int reserved = ::open((folder / "song.wav").c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
  EXPECT_GE(reserved, 0);
  ::close(reserved);
  fs::remove(folder / "song.wav");

  std::ofstream(living->WriterPath(), std::ios::binary) << "whole";
  ASSERT_TRUE(living->Commit(reason)) << reason;
  EXPECT_EQ(ReadFileBytes(folder / "living.wav"), "whole");
  EXPECT_EQ(Names(folder), (std::vector<std::string>{"kept.wav", "living.wav", "notes.txt"}));
}

// A part file never committed goes with its object; failures name the path and the
// system's reason.
TEST(PartFileTest, AnUncommittedPartGoesAndFailuresSayWhichFileAndWhy) {
  TempDir dir;
  std::string reason;
  {
    auto part = platform::PartFile::Create(dir.File("song.wav"), reason);
    ASSERT_TRUE(part) << reason;
    EXPECT_EQ(Names(dir.Path()).size(), 1u);
  }
  EXPECT_TRUE(Names(dir.Path()).empty());

  EXPECT_FALSE(platform::PartFile::Create(dir.File("missing/song.wav"), reason));
  EXPECT_EQ(reason.rfind(dir.File("missing/.song.wav."), 0), 0u) << reason;
  EXPECT_NE(reason.find(".halvane-part: No such file or directory"), std::string::npos) << reason;

  fs::create_symlink(dir.File("elsewhere"), dir.File("ovh0001.TMP"));
  EXPECT_FALSE(platform::UnlinkedFile::Take(dir.File("ovh0001.TMP"), reason));
  EXPECT_EQ(reason, dir.File("ovh0001.TMP") + ": Too many levels of symbolic links");
  EXPECT_FALSE(fs::exists(dir.File("elsewhere")));
}

}  // namespace
