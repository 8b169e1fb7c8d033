#include "platform/registry/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/core/error_text.h"
#include "platform/registry/registry_text.h"

namespace {

using platform::registry_detail::Key;
using platform::registry_detail::Store;
using platform::registry_detail::Value;

// ---- key paths ------------------------------------------------------------------------

constexpr char kSeparator = '\\';

const char* RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  return nullptr;
}

bool SamePath(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return platform::registry_detail::LowerAscii(x) == platform::registry_detail::LowerAscii(y);
         });
}

// Appends the parts of subKey to base; empty parts (doubled or outer separators) are
// skipped. False when a part holds a control character, which a key name cannot.
bool AppendSubKey(std::string& base, const char* subKey) {
  if (subKey == nullptr) return true;
  std::string_view rest(subKey);
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(kSeparator), rest.size());
    const std::string_view part = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (part.empty()) continue;
    for (const char c : part)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    base.push_back(kSeparator);
    base.append(part);
  }
  return true;
}

// The full path's parent ("" for a root).
std::string_view ParentPath(std::string_view path) {
  const std::size_t at = path.rfind(kSeparator);
  return at == std::string_view::npos ? std::string_view() : path.substr(0, at);
}

// ---- the handle table ------------------------------------------------------------------

struct OpenKey {
  std::string path;  // full path, the root's name first, as the key was opened
  REGSAM access;
};

class HandleTable {
 public:
  HKEY Add(std::string path, REGSAM access) {
    std::lock_guard lock(m_lock);
    m_next += 4;
    m_keys.emplace(m_next, OpenKey{std::move(path), access});
    return reinterpret_cast<HKEY>(m_next);
  }

  bool Remove(HKEY key) {
    std::lock_guard lock(m_lock);
    return m_keys.erase(reinterpret_cast<std::uintptr_t>(key)) != 0;
  }

  // The predefined roots have every right; unknown handles give nothing.
  std::optional<OpenKey> Find(HKEY key) const {
    if (const char* root = RootName(key)) return OpenKey{root, KEY_ALL_ACCESS};
    std::lock_guard lock(m_lock);
    const auto found = m_keys.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == m_keys.end()) return std::nullopt;
    return found->second;
  }

 private:
  mutable std::mutex m_lock;
  std::uintptr_t m_next = 0xFC;  // the first handle is 0x100
  std::map<std::uintptr_t, OpenKey> m_keys;
};

HandleTable& Handles() {
  static HandleTable table;
  return table;
}

bool IsRootPath(std::string_view path) { return path.find(kSeparator) == std::string_view::npos; }

// ---- the file --------------------------------------------------------------------------

std::string ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    if (const passwd* entry = ::getpwuid(::getuid())) home = entry->pw_dir;
  }
  return std::string(home != nullptr ? home : "") + "/.config";
}

std::string StoreFolder() { return ConfigHome() + "/halvane"; }

// A file descriptor closed when it goes.
class FileHandle {
 public:
  explicit FileHandle(int fd = -1) : m_fd(fd) {}
  ~FileHandle() {
    if (m_fd >= 0) ::close(m_fd);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  int Get() const { return m_fd; }
  int Release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }

 private:
  int m_fd;
};

LONG ErrorFromErrno(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case ENOMEM:
      return ERROR_OUTOFMEMORY;
    default:
      return ERROR_WRITE_FAULT;
  }
}

std::string ErrorText(int error) { return std::error_code(error, std::generic_category()).message(); }

using platform::registry_detail::kMaxStoreSize;

// Reads the store as it is on disk now. An absent file is an empty store. A file that
// is there but cannot be used (not a regular file, larger than kMaxStoreSize,
// unreadable) is an empty store too, with the reason in *problem: the program goes on
// with its defaults. Only the file itself is opened, and only once it is known to be
// a regular file, so a FIFO or a device in its place neither blocks nor feeds it.
LONG ReadStore(Store& store, std::string* problem = nullptr) {
  const std::string path = platform::RegistryFilePath();
  std::string unusable;
  std::string text;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    if (errno == ELOOP) {
      unusable = "it is a loop of links";
    } else if (errno != ENOENT) {
      return ErrorFromErrno(errno);
    }
  } else if (!S_ISREG(info.st_mode)) {
    unusable = "it is not a regular file";
  } else if (static_cast<std::uintmax_t>(info.st_size) > kMaxStoreSize) {
    unusable = "it is larger than 4 MiB";
  } else {
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Get() < 0) {
      unusable = ErrorText(errno);
    } else if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
      unusable = "it is not a regular file";
    } else {
      // At most one byte more than may be there, to see a file that grew.
      char chunk[16384];
      while (unusable.empty()) {
        const ssize_t n = ::read(file.Get(), chunk, sizeof chunk);
        if (n < 0) {
          if (errno != EINTR) unusable = ErrorText(errno);
          continue;
        }
        if (n == 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > kMaxStoreSize) unusable = "it is larger than 4 MiB";
      }
    }
  }
  if (!unusable.empty()) {
    platform::SetErrorText("Registry file " + path + " not used: " + unusable);
    text.clear();
  }
  if (problem != nullptr) *problem = unusable;
  store = platform::registry_detail::ParseStore(text);
  return ERROR_SUCCESS;
}

bool WriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The file that path finally names, following links (an absent file is made where
// the last link points); nothing, with error set, when the links go round or break.
std::optional<std::string> FollowLinks(const std::string& path, int& error) {
  constexpr int kMaxLinks = 40;
  std::string current = path;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
      error = n < 0 ? errno : ENAMETOOLONG;
      return std::nullopt;
    }
    target.resize(static_cast<std::size_t>(n));
    if (target.empty() || target.front() != '/') target = current.substr(0, current.rfind('/') + 1) + target;
    current = std::move(target);
  }
  error = ELOOP;
  return std::nullopt;
}

// Replaces the file with store's text: a new file beside it, flushed, then renamed
// over. A registry file that is a link keeps being one: the new text replaces the
// link's target; when that cannot be done the call fails and the link stays.
LONG WriteStore(const Store& store) {
  const std::string path = platform::RegistryFilePath();
  const std::string text = platform::registry_detail::FormatStore(store);
  if (text.size() > kMaxStoreSize) return ERROR_OUTOFMEMORY;  // it could not be read back
  int error = 0;
  const std::optional<std::string> target = FollowLinks(path, error);
  const auto fail = [&](int code) {
    if (target != path)
      platform::SetErrorText("Registry file " + path + " is a link whose target " + target.value_or("") +
                             " cannot be written (" + ErrorText(code) + "); the link is left as it is");
    return ErrorFromErrno(code);
  };
  if (!target) return fail(error);
  std::string temp = *target + ".XXXXXX";
  FileHandle file(::mkostemp(temp.data(), O_CLOEXEC));
  if (file.Get() < 0) return fail(errno);
  if (::fchmod(file.Get(), 0600) != 0 || !WriteAll(file.Get(), text) || ::fsync(file.Get()) != 0) {
    error = errno;
    ::unlink(temp.c_str());
    return fail(error);
  }
  if (::close(file.Release()) != 0 || ::rename(temp.c_str(), target->c_str()) != 0) {
    error = errno;
    ::unlink(temp.c_str());
    return fail(error);
  }
  return ERROR_SUCCESS;
}

// Threads of this process take turns; processes take turns on the lock file.
std::mutex& ChangeLock() {
  static std::mutex lock;
  return lock;
}

// Runs change on the current store under the lock and writes the result back when
// change succeeds and reports that it changed something.
template <typename Change>
LONG ChangeStore(Change change) {
  std::lock_guard inProcess(ChangeLock());
  const std::string folder = StoreFolder();
  if (::mkdir(ConfigHome().c_str(), 0700) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
  FileHandle lockFile(::open((folder + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (lockFile.Get() < 0) return ErrorFromErrno(errno);
  while (::flock(lockFile.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ErrorFromErrno(errno);
  }
  Store store;
  std::string problem;
  if (const LONG read = ReadStore(store, &problem); read != ERROR_SUCCESS) return read;
  bool changed = false;
  const LONG result = change(store, changed);
  if (result != ERROR_SUCCESS || !changed) return result;
  if (!problem.empty()) {
    // The file that could not be used is kept aside, whatever it is, before a fresh
    // one takes its place.
    const std::string path = platform::RegistryFilePath();
    const std::string aside = path + ".bad";
    if (::rename(path.c_str(), aside.c_str()) != 0) {
      const int error = errno;
      platform::SetErrorText("Registry file " + path + " not used (" + problem +
                             ") and not set aside: " + ErrorText(error));
      return ErrorFromErrno(error);
    }
    platform::SetErrorText("Registry file " + path + " not used (" + problem + "); kept as " + aside);
  }
  return WriteStore(store);  // the lock goes with lockFile
}

Key* FindKey(Store& store, std::string_view path) {
  for (Key& key : store.keys)
    if (SamePath(key.path, path)) return &key;
  return nullptr;
}

// A root always exists; other keys exist when the store holds them.
bool KeyExists(Store& store, std::string_view path) { return IsRootPath(path) || FindKey(store, path) != nullptr; }

// The key at path, made (with its missing parents) when absent. Roots are made on
// demand too, so that values can sit on them.
Key& MakeKey(Store& store, const std::string& path, const char* className, bool& created) {
  if (Key* key = FindKey(store, path)) return *key;
  if (!IsRootPath(path)) {
    bool parentCreated = false;
    MakeKey(store, std::string(ParentPath(path)), className, parentCreated);
  }
  created = true;
  store.keys.push_back(Key{path, className != nullptr ? className : "", "", {}});
  return store.keys.back();
}

bool IsDirectChild(std::string_view parent, std::string_view path) {
  return path.size() > parent.size() + 1 && path[parent.size()] == kSeparator &&
         SamePath(path.substr(0, parent.size()), parent) &&
         path.find(kSeparator, parent.size() + 1) == std::string_view::npos;
}

bool IsBelow(std::string_view parent, std::string_view path) {
  return path.size() > parent.size() + 1 && path[parent.size()] == kSeparator &&
         SamePath(path.substr(0, parent.size()), parent);
}

// Resolves an open handle and its rights; ERROR_SUCCESS or the failure to return.
LONG OpenHandle(HKEY key, REGSAM needed, OpenKey& open) {
  const std::optional<OpenKey> found = Handles().Find(key);
  if (!found) return ERROR_INVALID_HANDLE;
  if ((found->access & needed) != needed) return ERROR_ACCESS_DENIED;
  open = *found;
  return ERROR_SUCCESS;
}

std::string ValueName(const char* name) { return name != nullptr ? name : ""; }

// The stored bytes of a value written with RegSetValueExA.
std::string StoredData(DWORD type, const BYTE* data, DWORD size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::string(bytes, size);
  // Text: the bytes up to the first NUL, then NUL filler up to the size given (at
  // least one NUL, so the text always reads back terminated).
  const std::size_t length = std::find(bytes, bytes + size, '\0') - bytes;
  std::string stored(bytes, length);
  stored.resize(std::max<std::size_t>(size, length + 1), '\0');
  return stored;
}

}  // namespace

namespace platform {

std::string RegistryFilePath() { return StoreFolder() + "/registry.ini"; }

std::string RegistryTrustProblem() {
  const uid_t user = ::geteuid();
  const std::string folder = StoreFolder();
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    const int error = errno;
    return error == ENOENT ? std::string()
                           : "the settings folder " + folder + " cannot be checked: " + ErrorText(error);
  }
  if (!S_ISDIR(info.st_mode)) return "the settings folder " + folder + " is not a folder";
  if (info.st_uid != user) return "the settings folder " + folder + " belongs to another user";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "the settings folder " + folder + " can be written by others";
  const std::string file = RegistryFilePath();
  if (::stat(file.c_str(), &info) != 0) return {};
  if (info.st_uid != user && info.st_uid != 0) return "the settings file " + file + " belongs to another user";
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "the settings file " + file + " can be written by others";
  return {};
}

}  // namespace platform

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD /*reserved*/, const char* className, DWORD /*options*/,
                     REGSAM access, void* /*security*/, HKEY* result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey parent;
  if (const LONG opened = OpenHandle(root, 0, parent); opened != ERROR_SUCCESS) return opened;
  std::string path = parent.path;
  if (!AppendSubKey(path, subKey)) return ERROR_INVALID_PARAMETER;

  Store store;
  if (const LONG read = ReadStore(store); read != ERROR_SUCCESS) return read;
  if (!KeyExists(store, parent.path)) return ERROR_KEY_DELETED;
  bool created = false;
  if (!KeyExists(store, path)) {
    if ((parent.access & KEY_CREATE_SUB_KEY) == 0) return ERROR_ACCESS_DENIED;
    const LONG made = ChangeStore([&](Store& current, bool& changed) {
      if (!KeyExists(current, parent.path)) return ERROR_KEY_DELETED;
      MakeKey(current, path, className, created);
      changed = created;
      return ERROR_SUCCESS;
    });
    if (made != ERROR_SUCCESS) return made;
  }
  *result = Handles().Add(std::move(path), access);
  if (disposition != nullptr) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD /*options*/, REGSAM access, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey parent;
  if (const LONG opened = OpenHandle(root, 0, parent); opened != ERROR_SUCCESS) return opened;
  std::string path = parent.path;
  if (!AppendSubKey(path, subKey)) return ERROR_FILE_NOT_FOUND;
  Store store;
  if (const LONG read = ReadStore(store); read != ERROR_SUCCESS) return read;
  if (!KeyExists(store, path)) return ERROR_FILE_NOT_FOUND;
  *result = Handles().Add(std::move(path), access);
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (RootName(key) != nullptr) return ERROR_SUCCESS;
  return Handles().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* /*reserved*/, DWORD* type, BYTE* data, DWORD* size) {
  if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (const LONG opened = OpenHandle(key, KEY_QUERY_VALUE, open); opened != ERROR_SUCCESS) return opened;
  Store store;
  if (const LONG read = ReadStore(store); read != ERROR_SUCCESS) return read;
  Key* stored = FindKey(store, open.path);
  if (stored == nullptr) return IsRootPath(open.path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
  const Value* value = stored->FindValue(ValueName(name));
  if (value == nullptr) return ERROR_FILE_NOT_FOUND;

  if (type != nullptr) *type = value->type;
  const DWORD needed = static_cast<DWORD>(value->data.size());
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return ERROR_MORE_DATA;
    }
    std::memcpy(data, value->data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD /*reserved*/, DWORD type, const BYTE* data, DWORD size) {
  if (data == nullptr && size != 0) return ERROR_INVALID_PARAMETER;
  if (size > kMaxStoreSize) return ERROR_INVALID_PARAMETER;  // no file could hold it
  OpenKey open;
  if (const LONG opened = OpenHandle(key, KEY_SET_VALUE, open); opened != ERROR_SUCCESS) return opened;
  Value value{ValueName(name), type, StoredData(type, data, size)};
  return ChangeStore([&](Store& store, bool& changed) {
    bool created = false;
    if (!KeyExists(store, open.path)) return ERROR_KEY_DELETED;
    MakeKey(store, open.path, "", created).SetValue(std::move(value));  // a root's section appears on its first value
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY key, const char* name) {
  OpenKey open;
  if (const LONG opened = OpenHandle(key, KEY_SET_VALUE, open); opened != ERROR_SUCCESS) return opened;
  const std::string valueName = ValueName(name);
  return ChangeStore([&](Store& store, bool& changed) {
    Key* target = FindKey(store, open.path);
    if (target == nullptr) return IsRootPath(open.path) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    if (!target->EraseValue(valueName)) return ERROR_FILE_NOT_FOUND;
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
  if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (const LONG opened = OpenHandle(key, 0, open); opened != ERROR_SUCCESS) return opened;
  std::string path = open.path;
  if (!AppendSubKey(path, subKey)) return ERROR_FILE_NOT_FOUND;
  if (IsRootPath(path)) return ERROR_ACCESS_DENIED;  // a root cannot go
  return ChangeStore([&](Store& store, bool& changed) {
    const auto found =
        std::find_if(store.keys.begin(), store.keys.end(), [&](const Key& k) { return SamePath(k.path, path); });
    if (found == store.keys.end()) return ERROR_FILE_NOT_FOUND;
    const bool hasChildren =
        std::any_of(store.keys.begin(), store.keys.end(), [&](const Key& k) { return IsBelow(path, k.path); });
    if (hasChildren) return ERROR_ACCESS_DENIED;
    store.keys.erase(found);
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteTreeA(HKEY key, const char* subKey) {
  OpenKey open;
  if (const LONG opened = OpenHandle(key, 0, open); opened != ERROR_SUCCESS) return opened;
  std::string path = open.path;
  if (!AppendSubKey(path, subKey)) return ERROR_FILE_NOT_FOUND;
  const bool keepKey = subKey == nullptr || path == open.path || IsRootPath(path);
  return ChangeStore([&](Store& store, bool& changed) {
    Key* target = FindKey(store, path);
    if (target == nullptr && !IsRootPath(path)) return ERROR_FILE_NOT_FOUND;
    if (target != nullptr && keepKey) changed = target->ClearValues() || changed;
    const auto end = std::remove_if(store.keys.begin(), store.keys.end(), [&](const Key& k) {
      return IsBelow(path, k.path) || (!keepKey && SamePath(k.path, path));
    });
    changed = changed || end != store.keys.end();
    store.keys.erase(end, store.keys.end());
    return ERROR_SUCCESS;
  });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* /*reserved*/, char* className,
                   DWORD* classSize, void* /*lastWriteTime*/) {
  if (name == nullptr || nameSize == nullptr) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (const LONG opened = OpenHandle(key, KEY_ENUMERATE_SUB_KEYS, open); opened != ERROR_SUCCESS) return opened;
  Store store;
  if (const LONG read = ReadStore(store); read != ERROR_SUCCESS) return read;
  if (!KeyExists(store, open.path)) return ERROR_KEY_DELETED;

  DWORD seen = 0;
  for (const Key& child : store.keys) {
    if (!IsDirectChild(open.path, child.path)) continue;
    if (seen++ != index) continue;
    const std::string_view leaf = std::string_view(child.path).substr(open.path.size() + 1);
    if (*nameSize <= leaf.size()) {
      *nameSize = static_cast<DWORD>(leaf.size() + 1);
      return ERROR_MORE_DATA;
    }
    if (className != nullptr && classSize != nullptr && *classSize <= child.className.size()) {
      *classSize = static_cast<DWORD>(child.className.size() + 1);
      return ERROR_MORE_DATA;
    }
    std::memcpy(name, leaf.data(), leaf.size());
    name[leaf.size()] = '\0';
    *nameSize = static_cast<DWORD>(leaf.size());
    if (className != nullptr && classSize != nullptr) {
      std::memcpy(className, child.className.data(), child.className.size());
      className[child.className.size()] = '\0';
      *classSize = static_cast<DWORD>(child.className.size());
    }
    return ERROR_SUCCESS;
  }
  return ERROR_NO_MORE_ITEMS;
}
