#include "base/user_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace base {

namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Made(const fs::path& folder) {
  std::error_code ignored;
  fs::create_directories(folder, ignored);
  return folder.string();
}

}  // namespace

bool IsWritableFolder(const std::string& folder) {
  struct stat info {};
  if (folder.empty() || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  // A folder others can write (sticky or not) could have links planted in it, and
  // one of another user's is theirs to change.
  if (info.st_uid != ::geteuid() && info.st_uid != 0) return false;
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return false;
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string UserStateFolder() {
  if (const std::string xdg = Env("XDG_STATE_HOME"); !xdg.empty() && xdg[0] == '/') return xdg + "/halvane";
  if (const std::string home = Env("HOME"); !home.empty()) return home + "/.local/state/halvane";
  return {};
}

std::string UserMusicFolder() {
  const std::string home = Env("HOME");
  if (home.empty()) return {};
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') config = home + "/.config";
  // Lines such as XDG_MUSIC_DIR="$HOME/Music" (the shell syntax user-dirs.dirs allows).
  std::ifstream file(config + "/user-dirs.dirs");
  const std::string key = "XDG_MUSIC_DIR=\"";
  std::string found;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(key, 0) != 0 || line.size() < key.size() + 1 || line.back() != '"') continue;
    std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    if (!value.empty() && value[0] == '/') found = value;
  }
  if (!found.empty()) {
    std::string folder = fs::path(found).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  return home + "/Music";
}

std::string LogFileFor(const std::string& programDir) {
  if (IsWritableFolder(programDir)) return programDir + "/log.txt";
  const std::string state = UserStateFolder();
  if (state.empty()) return {};
  return Made(state) + "/log.txt";
}

std::string DefaultMidiFolderFor(const std::string& programDir) {
  if (IsWritableFolder(programDir)) return programDir + "/midi";
  const std::string music = UserMusicFolder();
  std::error_code ignored;
  if (!music.empty() && fs::is_directory(music, ignored)) return music;
  const std::string home = Env("HOME");
  return home.empty() ? programDir + "/midi" : home;
}

std::string DefaultOutputFolderFor(const std::string& programDir) {
  if (IsWritableFolder(programDir)) return programDir + "/wav";
  const std::string music = UserMusicFolder();
  if (music.empty()) return programDir + "/wav";
  return Made(fs::path(music) / "Halvane");
}

}  // namespace base
