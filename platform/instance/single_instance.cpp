#include "platform/instance/single_instance.h"

#include "platform/core/unique_fd.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using FileHandle = platform::UniqueFd;

std::uint32_t HashName(const char* name) {
  std::uint32_t hash = 2166136261u;  // FNV-1a over the lower-cased name
  for (const char* c = name; *c != '\0'; ++c) {
    const char lower = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
    hash = (hash ^ static_cast<unsigned char>(lower)) * 16777619u;
  }
  return hash;
}

// A folder of this user's that nobody else can enter, write or swap: a real folder
// (not a link), owned by the user, without group or other access.
bool IsPrivateFolder(const std::string& folder) {
  struct stat info {};
  return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
         (info.st_mode & 077) == 0;
}

// folder, made with mode 0700 when missing; empty unless it is private to the user.
std::string PrivateFolder(const std::string& folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  return IsPrivateFolder(folder) ? folder : std::string();
}

// The folder for the lock and socket files: the per-user runtime folder when it is
// the user's own and closed to others, else a private folder of this user's in the
// temporary folder, else (when someone else made that one first) one in the user's
// cache folder. Empty when none is usable.
std::string InstanceFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
      runtime != nullptr && runtime[0] == '/' && IsPrivateFolder(runtime))
    return runtime;
  const char* temp = std::getenv("TMPDIR");
  const std::string inTemp = PrivateFolder(std::string(temp != nullptr && temp[0] == '/' ? temp : "/tmp") +
                                           "/halvane-" + std::to_string(::getuid()));
  if (!inTemp.empty()) return inTemp;
  std::string cache;
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/') {
    cache = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    cache = std::string(home) + "/.cache";
    ::mkdir(cache.c_str(), 0700);
  } else {
    return {};
  }
  // The folder above may be open to reading, never to writing by others.
  const std::string halvane = cache + "/halvane";
  ::mkdir(halvane.c_str(), 0700);
  struct stat info {};
  if (::lstat(halvane.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return {};
  return PrivateFolder(halvane + "/instance");
}

// "halvane - mutex" -> "halvane-mutex-<hash>": letters, digits, '.', '_' kept, other
// runs become one '-'; the hash keeps names apart that look alike after that.
std::string FileStem(const char* name) {
  std::string stem;
  for (const char* c = name; *c != '\0'; ++c) {
    const bool plain =
        (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '.' || *c == '_';
    if (plain) {
      stem.push_back(*c);
    } else if (!stem.empty() && stem.back() != '-') {
      stem.push_back('-');
    }
    if (stem.size() >= 64) break;
  }
  while (!stem.empty() && (stem.back() == '-' || stem.front() == '.')) {
    if (stem.back() == '-')
      stem.pop_back();
    else
      stem.erase(0, 1);
  }
  char hash[16];
  std::snprintf(hash, sizeof hash, "-%08x", static_cast<unsigned>(HashName(name)));
  return stem + hash;
}

std::string InstancePath(const char* name, const char* suffix) {
  if (name == nullptr) return {};
  const std::string folder = InstanceFolder();
  if (folder.empty()) return {};
  return folder + "/" + FileStem(name) + suffix;
}

// One open mutex: the lock file, held locked while this process owns the name.
struct Mutex {
  FileHandle lockFile;
  bool owned;
};

class MutexTable {
 public:
  HANDLE Add(std::unique_ptr<Mutex> mutex) {
    std::lock_guard lock(m_lock);
    const HANDLE handle = mutex.get();
    m_mutexes.emplace(handle, std::move(mutex));
    return handle;
  }

  BOOL Release(HANDLE handle) {
    std::lock_guard lock(m_lock);
    const auto found = m_mutexes.find(handle);
    if (found == m_mutexes.end() || !found->second->owned) return FALSE;
    found->second->owned = false;
    return TRUE;
  }

 private:
  std::mutex m_lock;
  std::map<HANDLE, std::unique_ptr<Mutex>> m_mutexes;
};

MutexTable& Mutexes() {
  static MutexTable table;
  return table;
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Reads exactly size bytes, waiting at most timeoutMs for each part.
bool ReadExactly(int fd, void* data, std::size_t size, int timeoutMs) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd, bytes, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The socket on which the running instance hears the messages of later instances.
class Listener {
 public:
  ~Listener() { Stop(); }

  bool Start(const std::string& path, RegisteredMessageHandler onMessage) {
    Stop();
    sockaddr_un address;
    if (!MakeAddress(path, address)) return false;
    FileHandle listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listening.Get() < 0) return false;
    ::unlink(path.c_str());  // left behind by an instance that ended without cleaning up
    if (::bind(listening.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listening.Get(), 8) != 0)
      return false;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
      ::unlink(path.c_str());
      return false;
    }
    m_wakeRead = FileHandle(pipeEnds[0]);
    m_wakeWrite = FileHandle(pipeEnds[1]);
    m_socket = std::move(listening);
    m_path = path;
    m_thread = std::thread(&Listener::Run, this, std::move(onMessage));
    return true;
  }

  void Stop() {
    if (!m_thread.joinable()) return;
    const char stop = 1;
    while (::write(m_wakeWrite.Get(), &stop, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
    ::unlink(m_path.c_str());
    m_socket.Reset();
    m_wakeRead.Reset();
    m_wakeWrite.Reset();
  }

 private:
  void Run(const RegisteredMessageHandler& onMessage) {
    for (;;) {
      pollfd waits[2] = {{m_socket.Get(), POLLIN, 0}, {m_wakeRead.Get(), POLLIN, 0}};
      if (::poll(waits, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (waits[1].revents != 0) return;
      if ((waits[0].revents & POLLIN) == 0) continue;
      FileHandle client(::accept4(m_socket.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (client.Get() < 0) continue;
      // A sender that connects and says nothing is given up on, not waited for.
      unsigned char bytes[4];
      if (!ReadExactly(client.Get(), bytes, sizeof bytes, 1000)) continue;
      const UINT msg = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<UINT>(bytes[3]) << 24;
      // Arguments may follow: their length, then NUL-terminated texts. A sender that
      // stops early, or announces more than allowed, gives no arguments.
      std::vector<std::string> args;
      unsigned char length[4];
      if (ReadExactly(client.Get(), length, sizeof length, 1000)) {
        const std::size_t size =
            length[0] | length[1] << 8 | length[2] << 16 | static_cast<std::size_t>(length[3]) << 24;
        std::string text(size <= kMaxMessageArgBytes ? size : 0, '\0');
        if (size <= kMaxMessageArgBytes && ReadExactly(client.Get(), text.data(), text.size(), 1000)) {
          for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\0', at);
            if (end == std::string::npos) break;
            args.push_back(text.substr(at, end - at));
            at = end + 1;
          }
        }
      }
      if (onMessage) onMessage(msg, std::move(args));
    }
  }

  FileHandle m_socket;
  FileHandle m_wakeRead;
  FileHandle m_wakeWrite;
  std::string m_path;
  std::thread m_thread;
};

std::mutex& ListenerLock() {
  static std::mutex lock;
  return lock;
}

// Constructed on first use, after the lock above, so it is destroyed (and its thread
// joined) first when the process exits.
Listener& TheListener() {
  static Listener listener;
  return listener;
}

}  // namespace

namespace platform {

std::string InstanceLockPath(const char* mutexName) { return InstancePath(mutexName, ".lock"); }
std::string InstanceSocketPath(const char* mutexName) { return InstancePath(mutexName, ".sock"); }

}  // namespace platform

UINT RegisterWindowMessageA(const char* name) {
  if (name == nullptr || name[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return 0xC000 + HashName(name) % 0x4000;
}

HANDLE CreateMutexA(void* /*security*/, BOOL initialOwner, const char* name) {
  const std::string path = platform::InstanceLockPath(name);
  if (path.empty()) {
    SetLastError(name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  FileHandle lockFile(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lockFile.Get() < 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  // The name exists while some open handle holds the lock: a lock held elsewhere (also
  // by an earlier handle of this process) means the mutex already exists.
  int locked;
  while ((locked = ::flock(lockFile.Get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  const bool exists = locked != 0;
  auto mutex = std::make_unique<Mutex>();
  mutex->owned = !exists && initialOwner != FALSE;
  if (exists) lockFile.Reset();
  mutex->lockFile = std::move(lockFile);
  const HANDLE handle = Mutexes().Add(std::move(mutex));
  SetLastError(exists ? ERROR_ALREADY_EXISTS : 0);
  return handle;
}

BOOL ReleaseMutex(HANDLE mutex) { return Mutexes().Release(mutex); }

BOOL BroadcastRegisteredMessage(UINT msg, const char* mutexName, const std::vector<std::string>& args) {
  std::string payload;
  for (const std::string& arg : args) {
    payload += arg;
    payload.push_back('\0');
  }
  if (payload.size() > kMaxMessageArgBytes) return FALSE;
  sockaddr_un address;
  if (!MakeAddress(platform::InstanceSocketPath(mutexName), address)) return FALSE;
  FileHandle client(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (client.Get() < 0) return FALSE;
  int connected;
  while ((connected = ::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address)) != 0 &&
         errno == EINTR) {
  }
  if (connected != 0) return FALSE;
  std::string bytes;
  for (const std::uint32_t word : {static_cast<std::uint32_t>(msg), static_cast<std::uint32_t>(payload.size())}) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((word >> shift) & 0xFF));
  }
  bytes += payload;
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(client.Get(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return FALSE;
    sent += static_cast<std::size_t>(n);
  }
  return TRUE;
}

BOOL StartRegisteredMessageListener(const char* mutexName, RegisteredMessageHandler onMessage) {
  const std::string path = platform::InstanceSocketPath(mutexName);
  std::lock_guard lock(ListenerLock());
  return TheListener().Start(path, std::move(onMessage)) ? TRUE : FALSE;
}

BOOL StartRegisteredMessageListener(const char* mutexName, std::function<void(UINT msg)> onMessage) {
  return StartRegisteredMessageListener(
      mutexName, RegisteredMessageHandler([onMessage = std::move(onMessage)](UINT msg, std::vector<std::string>) {
        if (onMessage) onMessage(msg);
      }));
}

void StopRegisteredMessageListener() {
  std::lock_guard lock(ListenerLock());
  TheListener().Stop();
}
