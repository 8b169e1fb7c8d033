#include "app/convert_cli/job_pool.h"

#include "platform/core/unique_fd.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>

namespace convert_cli {

namespace {

constexpr int kPollMs = 100;
// How long workers told to stop may take before they are killed.
constexpr auto kStopGrace = std::chrono::seconds(30);

using Fd = platform::UniqueFd;

struct Worker {
  pid_t pid = -1;
  Fd orders;   // our end of its standard input
  Fd results;  // our end of its standard output
  FieldReader reader;
  std::optional<std::size_t> busyWith;  // the order in flight
};

// Starts one worker; nullopt when the system cannot.
std::optional<Worker> StartWorker(const std::string& program, const std::vector<char*>& argv) {
  int toChild[2], fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) return std::nullopt;
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return std::nullopt;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only calls that are safe after fork until exec. A worker does not outlive us.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(toChild[0], STDIN_FILENO);
    ::dup2(fromChild[1], STDOUT_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  if (pid < 0) {
    ::close(toChild[1]);
    ::close(fromChild[0]);
    return std::nullopt;
  }
  Worker worker;
  worker.pid = pid;
  worker.orders = Fd(toChild[1]);
  worker.results = Fd(fromChild[0]);
  return worker;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

std::string HowItEnded(int status) {
  if (WIFSIGNALED(status)) return "the worker process was ended by signal " + std::to_string(WTERMSIG(status));
  return "the worker process ended with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

int ProcessorsAvailable() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int count = CPU_COUNT(&set);
  return count > 0 ? count : 1;
}

std::vector<std::size_t> RunJobPool(const std::string& program, const std::vector<std::string>& arguments, int jobs,
                                    const std::vector<WorkOrder>& orders, const PoolHooks& hooks) {
  // A worker that has gone away makes a write fail rather than end us.
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);

  std::vector<std::string> args = arguments;
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  std::vector<Worker> workers;
  std::vector<bool> answered(orders.size(), false);
  std::size_t next = 0;
  bool stopping = false;
  std::optional<std::chrono::steady_clock::time_point> killAt;

  const auto reportInFlight = [&] {
    if (!hooks.inFlight) return;
    std::vector<std::string> files;
    for (const Worker& worker : workers)
      if (worker.busyWith) files.push_back(orders[*worker.busyWith].input);
    hooks.inFlight(files);
  };
  // Gives worker the next order, or closes its input when there is none.
  const auto feed = [&](Worker& worker) {
    if (stopping || next >= orders.size()) {
      worker.orders.Reset();
      return;
    }
    worker.busyWith = next++;
    if (!WriteAll(worker.orders.Get(), EncodeOrder(orders[*worker.busyWith]))) worker.orders.Reset();
  };

  const int wanted = std::max(1, std::min<int>(jobs, static_cast<int>(orders.size())));
  for (int i = 0; i < wanted; ++i) {
    std::optional<Worker> worker = StartWorker(program, argv);
    if (!worker) break;
    workers.push_back(std::move(*worker));
    feed(workers.back());
  }
  reportInFlight();

  while (!workers.empty()) {
    if (!stopping && hooks.stopRequested && hooks.stopRequested()) {
      stopping = true;
      killAt = std::chrono::steady_clock::now() + kStopGrace;
      for (Worker& worker : workers) {
        ::kill(worker.pid, SIGTERM);
        worker.orders.Reset();
      }
    }
    if (killAt && std::chrono::steady_clock::now() > *killAt)
      for (Worker& worker : workers) ::kill(worker.pid, SIGKILL);

    std::vector<pollfd> fds;
    for (const Worker& worker : workers) fds.push_back({worker.results.Get(), POLLIN, 0});
    if (::poll(fds.data(), fds.size(), kPollMs) < 0 && errno != EINTR) break;

    bool changed = false;
    std::vector<std::size_t> ended;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      Worker& worker = workers[i];
      if (fds[i].revents != 0) {
        char buffer[65536];
        const ssize_t got = ::read(worker.results.Get(), buffer, sizeof buffer);
        if (got > 0) {
          worker.reader.Add(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
          ended.push_back(i);
        }
      }
      while (std::optional<FileResult> result = worker.reader.NextResult()) {
        if (!worker.busyWith) continue;
        const std::size_t index = *worker.busyWith;
        worker.busyWith.reset();
        answered[index] = true;
        if (hooks.finished) hooks.finished(index, std::move(*result));
        feed(worker);
        changed = true;
      }
    }
    for (auto at = ended.rbegin(); at != ended.rend(); ++at) {
      Worker& worker = workers[*at];
      int status = 0;
      while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (worker.busyWith && !stopping) {
        // The file it had: failed, with how the worker ended; the rest go on.
        FileResult failed;
        failed.input = orders[*worker.busyWith].input;
        failed.reasons = {HowItEnded(status)};
        answered[*worker.busyWith] = true;
        if (hooks.finished) hooks.finished(*worker.busyWith, std::move(failed));
      }
      workers.erase(workers.begin() + static_cast<std::ptrdiff_t>(*at));
      changed = true;
      if (!stopping && next < orders.size()) {
        if (std::optional<Worker> replacement = StartWorker(program, argv)) {
          workers.push_back(std::move(*replacement));
          feed(workers.back());
        }
      }
    }
    if (changed) reportInFlight();
  }
  ::sigaction(SIGPIPE, &previous, nullptr);

  std::vector<std::size_t> unanswered;
  for (std::size_t i = 0; i < orders.size(); ++i)
    if (!answered[i]) unanswered.push_back(i);
  return unanswered;
}

}  // namespace convert_cli
