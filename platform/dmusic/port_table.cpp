#include "platform/dmusic/port_table.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>

#include "platform/core/code_page.h"
#include "platform/core/kernel.h"
#include "platform/dmusic/dmusic.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";
// The description must leave room for its terminator in DMUS_PORTCAPS.
constexpr std::size_t kMaxDescription = 127;

bool IsSoundFontName(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return false;
  std::string ext(name.substr(dot + 1));
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == "sf2" || ext == "sf3" || ext == "dls";
}

// The real path of a regular file, or empty when it is missing, dangling or no file.
std::string RealFile(const fs::path& path) {
  std::error_code error;
  const fs::path real = fs::canonical(path, error);
  if (error || !fs::is_regular_file(real, error) || error) return {};
  return real.string();
}

std::u16string ToWide(const std::string& text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  std::u16string wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0)),
                      u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// "FluidSynth: " and the SoundFont's name, cut (never inside a surrogate pair)
// so that the whole stays within kMaxDescription units.
std::u16string Describe(const std::string& realPath, bool isDefault) {
  const std::u16string prefix = u"FluidSynth: ";
  const std::u16string suffix = isDefault ? u" (default)" : u"";
  std::u16string name = ToWide(fs::path(realPath).stem().string());
  const std::size_t room = kMaxDescription - prefix.size() - suffix.size();
  if (name.size() > room) {
    std::size_t keep = room;
    if (name[keep - 1] >= 0xD800 && name[keep - 1] <= 0xDBFF) --keep;
    name.resize(keep);
  }
  return prefix + name + suffix;
}

PortInfo MakePort(const std::string& realPath, bool isDefault) {
  return PortInfo{realPath,
                  GuidFromName(realPath),
                  Describe(realPath, isDefault),
                  SoundFontPortFlags(),
                  DMUS_PC_OUTPUTCLASS,
                  DMUS_PORT_USER_MODE_SYNTH};
}

std::mutex g_tableLock;
std::optional<std::vector<PortInfo>> g_systemTable;
std::optional<std::vector<PortInfo>> g_testTable;

}  // namespace

DWORD SoundFontPortFlags() {
  return DMUS_PC_DLS | DMUS_PC_DLS2 | DMUS_PC_SOFTWARESYNTH | DMUS_PC_AUDIOPATH | DMUS_PC_DIRECTSOUND;
}

std::vector<std::string> SoundFontSearchFolders() {
  std::vector<std::string> folders;
  if (const char* list = std::getenv("HALVANE_SOUNDFONTS"); list != nullptr) {
    std::string_view rest(list);
    while (!rest.empty()) {
      const auto colon = rest.find(':');
      const std::string_view folder = rest.substr(0, colon);
      if (!folder.empty()) folders.emplace_back(folder);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  if (const std::string program = ProgramPath(); !program.empty())
    folders.push_back((fs::path(program).parent_path() / "soundfonts").string());
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    folders.push_back(std::string(home) + "/.local/share/soundfonts");
    folders.push_back(std::string(home) + "/.local/share/sounds/sf2");
  }
  folders.push_back("/usr/share/soundfonts");
  folders.push_back("/usr/share/sounds/sf2");
  folders.push_back("/usr/share/sounds/sf3");
  return folders;
}

std::vector<PortInfo> ScanSoundFontPorts(const std::vector<std::string>& folders, const std::string& defaultFont) {
  std::vector<PortInfo> ports;
  std::set<std::string> seen;
  if (!defaultFont.empty()) {
    if (std::string real = RealFile(defaultFont); !real.empty()) {
      seen.insert(real);
      ports.push_back(MakePort(real, true));
    }
  }
  for (const std::string& folder : folders) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) continue;
    std::vector<fs::path> names;
    for (; it != fs::directory_iterator(); it.increment(error)) {
      if (error) break;
      if (IsSoundFontName(it->path().filename().string())) names.push_back(it->path());
    }
    std::sort(names.begin(), names.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    for (const fs::path& name : names) {
      std::string real = RealFile(name);
      if (real.empty() || !seen.insert(real).second) continue;
      ports.push_back(MakePort(real, false));
    }
  }
  return ports;
}

std::vector<PortInfo> ListSoundFontPorts() {
  std::lock_guard lock(g_tableLock);
  if (g_testTable) return *g_testTable;
  if (!g_systemTable) g_systemTable = ScanSoundFontPorts(SoundFontSearchFolders(), kDefaultSoundFont);
  return *g_systemTable;
}

bool PutSoundFontPortFirst(const std::string& path) {
  const std::string real = RealFile(path);
  if (real.empty()) return false;
  std::lock_guard lock(g_tableLock);
  if (!g_systemTable) g_systemTable = ScanSoundFontPorts(SoundFontSearchFolders(), kDefaultSoundFont);
  std::erase_if(*g_systemTable, [&](const PortInfo& port) { return port.path == real; });
  g_systemTable->insert(g_systemTable->begin(), MakePort(real, false));
  return true;
}

void SetPortTableForTesting(std::optional<std::vector<PortInfo>> table) {
  std::lock_guard lock(g_tableLock);
  g_testTable = std::move(table);
}

std::optional<std::string> SoundFontPathForPort(const GUID& guid) {
  const std::vector<PortInfo> ports = ListSoundFontPorts();
  if (ports.empty()) return std::nullopt;
  if (guid == GUID_NULL) return ports.front().path;
  for (const PortInfo& port : ports)
    if (port.guid == guid) return port.path;
  return std::nullopt;
}

}  // namespace platform
