#include "platform/instance/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

using testing_support::TempDir;

constexpr const char* kMutexName = "halvane - mutex";

// Runs body in a child process and returns its exit code (-1 when it did not exit).
template <typename Body>
int InChild(Body body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Collects the messages the listener hears.
class Heard {
 public:
  std::function<void(UINT)> Callback() {
    return [this](UINT msg) {
      std::lock_guard lock(m_lock);
      m_messages.push_back(msg);
      m_changed.notify_all();
    };
  }
  // Waits (at most 5 s) until count messages have arrived; returns them.
  std::vector<UINT> WaitFor(std::size_t count) {
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_messages.size() >= count; });
    return m_messages;
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<UINT> m_messages;
};

class InstanceTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("XDG_RUNTIME_DIR", m_runtime.Path().c_str(), 1); }
  void TearDown() override {
    StopRegisteredMessageListener();
    ::setenv("TMPDIR", m_tmp.c_str(), 1);
  }

  const std::string m_tmp = std::getenv("TMPDIR");

  TempDir m_runtime;
};

TEST_F(InstanceTest, RegisteredMessageIdIsTheSameInEveryProcess) {
  const UINT id = RegisterWindowMessageA("open halvane");
  EXPECT_GE(id, 0xC000u);
  EXPECT_LE(id, 0xFFFFu);
  EXPECT_EQ(RegisterWindowMessageA("OPEN Halvane"), id);
  EXPECT_NE(RegisterWindowMessageA("open halvane 2"), id);
  // Exit codes carry 8 bits: compare the id's low and high bytes from a child.
  EXPECT_EQ(InChild([] { return static_cast<int>(RegisterWindowMessageA("open halvane") & 0xff); }),
            static_cast<int>(id & 0xff));
  EXPECT_EQ(InChild([] { return static_cast<int>(RegisterWindowMessageA("open halvane") >> 8); }),
            static_cast<int>(id >> 8));
}

TEST_F(InstanceTest, SecondCreatorAnywhereSeesAlreadyExists) {
  const std::string lockPath = platform::InstanceLockPath(kMutexName);
  EXPECT_EQ(std::filesystem::path(lockPath).parent_path(), m_runtime.Path());
  EXPECT_EQ(std::filesystem::path(lockPath).filename().string().find(' '), std::string::npos) << lockPath;

  // Nobody holds it yet, also not a child that came and went.
  EXPECT_EQ(InChild([] {
              HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
              return mutex != nullptr && GetLastError() == 0 ? 0 : 1;
            }),
            0);

  SetLastError(77);
  HANDLE first = CreateMutexA(nullptr, TRUE, kMutexName);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);

  EXPECT_EQ(InChild([] {
              HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
              return mutex != nullptr && GetLastError() == static_cast<DWORD>(ERROR_ALREADY_EXISTS) ? 0 : 1;
            }),
            0);
  // A second handle in the same process sees it too, and another name is free.
  HANDLE second = CreateMutexA(nullptr, TRUE, kMutexName);
  EXPECT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(CreateMutexA(nullptr, TRUE, "another mutex"), nullptr);
  EXPECT_EQ(GetLastError(), 0u);

  EXPECT_EQ(ReleaseMutex(first), TRUE);
  EXPECT_EQ(ReleaseMutex(first), FALSE);   // no longer owned
  EXPECT_EQ(ReleaseMutex(second), FALSE);  // never owned
  // The name stays taken while this process lives.
  EXPECT_EQ(InChild([] {
              CreateMutexA(nullptr, TRUE, kMutexName);
              return GetLastError() == static_cast<DWORD>(ERROR_ALREADY_EXISTS) ? 0 : 1;
            }),
            0);
}

TEST_F(InstanceTest, BroadcastFromAnotherProcessReachesTheListener) {
  const UINT msg = RegisterWindowMessageA("open halvane");
  EXPECT_EQ(BroadcastRegisteredMessage(msg, kMutexName), FALSE);  // nobody listens yet

  ASSERT_NE(CreateMutexA(nullptr, TRUE, kMutexName), nullptr);
  Heard heard;
  ASSERT_EQ(StartRegisteredMessageListener(kMutexName, heard.Callback()), TRUE);

  EXPECT_EQ(InChild([] {
              // As a second instance does it: find the mutex taken, then signal.
              CreateMutexA(nullptr, TRUE, kMutexName);
              if (GetLastError() != static_cast<DWORD>(ERROR_ALREADY_EXISTS)) return 2;
              return BroadcastRegisteredMessage(RegisterWindowMessageA("open halvane"), kMutexName) == TRUE ? 0 : 1;
            }),
            0);
  EXPECT_EQ(heard.WaitFor(1), std::vector<UINT>{msg});

  // A sender that connects and says nothing does not stop later messages.
  const std::string socketPath = platform::InstanceSocketPath(kMutexName);
  const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::connect(silent, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(BroadcastRegisteredMessage(0xC123, kMutexName), TRUE);
  EXPECT_EQ(heard.WaitFor(2), (std::vector<UINT>{msg, 0xC123}));
  ::close(silent);

  StopRegisteredMessageListener();
  EXPECT_FALSE(std::filesystem::exists(socketPath));
  EXPECT_EQ(BroadcastRegisteredMessage(msg, kMutexName), FALSE);
}

TEST_F(InstanceTest, CrashedInstanceDoesNotBlockTheNextFirstInstance) {
  // A child becomes the running instance and dies without any clean-up.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CreateMutexA(nullptr, TRUE, kMutexName);
    if (GetLastError() != 0 || StartRegisteredMessageListener(kMutexName, [](UINT) {}) != TRUE) ::_exit(1);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the child failed to become the instance";
  const std::string socketPath = platform::InstanceSocketPath(kMutexName);
  ASSERT_TRUE(std::filesystem::exists(socketPath));  // left behind
  EXPECT_EQ(BroadcastRegisteredMessage(1, kMutexName), FALSE);

  HANDLE mutex = CreateMutexA(nullptr, TRUE, kMutexName);
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  Heard heard;
  ASSERT_EQ(StartRegisteredMessageListener(kMutexName, heard.Callback()), TRUE);
  EXPECT_EQ(BroadcastRegisteredMessage(0xC001, kMutexName), TRUE);
  EXPECT_EQ(heard.WaitFor(1), std::vector<UINT>{0xC001});
}

TEST_F(InstanceTest, WithoutRuntimeFolderAPrivateTemporaryFolderIsUsed) {
  TempDir temp;
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("TMPDIR", temp.Path().c_str(), 1);
  const std::filesystem::path lockPath = platform::InstanceLockPath(kMutexName);
  EXPECT_EQ(lockPath.parent_path(), temp.Path() / ("halvane-" + std::to_string(::getuid())));
  ASSERT_NE(CreateMutexA(nullptr, TRUE, kMutexName), nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  struct stat info {};
  ASSERT_EQ(::stat(lockPath.parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  // A folder of that name that others can write (made first by someone else) is not
  // trusted: a private folder in the user's cache folder is used instead, and the
  // single instance still holds.
  TempDir other;
  ::setenv("TMPDIR", other.Path().c_str(), 1);
  const std::filesystem::path open = other.Path() / ("halvane-" + std::to_string(::getuid()));
  std::filesystem::create_directory(open);
  ::chmod(open.c_str(), 0777);
  const std::filesystem::path cache = std::filesystem::path(std::getenv("HOME")) / ".cache/halvane/instance";
  EXPECT_EQ(std::filesystem::path(platform::InstanceLockPath(kMutexName)).parent_path(), cache);
  HANDLE first = CreateMutexA(nullptr, TRUE, "halvane - cached");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  EXPECT_EQ(InChild([] {
              return CreateMutexA(nullptr, TRUE, "halvane - cached") != nullptr &&
                             GetLastError() == static_cast<DWORD>(ERROR_ALREADY_EXISTS)
                         ? 0
                         : 1;
            }),
            0);
  EXPECT_EQ(ReleaseMutex(first), TRUE);
  ASSERT_EQ(::stat(cache.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(std::filesystem::is_empty(open));
}

// A runtime folder others can enter or write is not used; the user's own is.
TEST_F(InstanceTest, ARuntimeFolderOpenToOthersIsNotUsed) {
  TempDir temp;
  ::setenv("TMPDIR", temp.Path().c_str(), 1);
  for (const mode_t mode : {0777, 0750, 01777}) {
    ::chmod(m_runtime.Path().c_str(), mode);
    EXPECT_EQ(std::filesystem::path(platform::InstanceLockPath(kMutexName)).parent_path(),
              temp.Path() / ("halvane-" + std::to_string(::getuid())))
        << std::oct << mode;
  }
  ::chmod(m_runtime.Path().c_str(), 0700);
  EXPECT_EQ(std::filesystem::path(platform::InstanceLockPath(kMutexName)).parent_path(), m_runtime.Path());
}

}  // namespace
