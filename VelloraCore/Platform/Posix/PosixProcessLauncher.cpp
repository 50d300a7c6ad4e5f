#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "VelloraCore/Platform/ProcessLauncher.h"

namespace vellora {

namespace {

// Makes `fd` close-on-exec and at least 3, so that it can never be one of the standard streams
// a child is given (dup2 onto itself would keep the close-on-exec flag).
int prepareDescriptor(int fd) {
  if (fd > STDERR_FILENO) {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
  }
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  int error = errno;
  ::close(fd);
  if (moved < 0) errno = error;
  return moved;
}

// The descriptors of one launch, closed on every path unless released.
class Descriptors {
 public:
  ~Descriptors() {
    for (int& fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  int& operator[](std::size_t index) { return fds_[index]; }
  int release(std::size_t index) { return std::exchange(fds_[index], -1); }

 private:
  // Per standard stream: the parent's end and the child's end.
  std::array<int, 6> fds_{-1, -1, -1, -1, -1, -1};
};

std::size_t parentIndex(int stream) {
  return static_cast<std::size_t>(stream) * 2;
}
std::size_t childIndex(int stream) {
  return static_cast<std::size_t>(stream) * 2 + 1;
}

// Creates the pipe for standard stream `stream` (0, 1 or 2); returns 0 or an errno value.
int makePipe(Descriptors& descriptors, int stream) {
  int ends[2];
  if (::pipe(ends) != 0) return errno;
  // Standard input: the child reads, the parent writes. Output and error: the other way round.
  int parentEnd = stream == STDIN_FILENO ? ends[1] : ends[0];
  int childEnd = stream == STDIN_FILENO ? ends[0] : ends[1];
  descriptors[parentIndex(stream)] = prepareDescriptor(parentEnd);
  descriptors[childIndex(stream)] = prepareDescriptor(childEnd);
  if (descriptors[parentIndex(stream)] < 0 || descriptors[childIndex(stream)] < 0) return errno;
#ifdef F_SETNOSIGPIPE
  if (stream == STDIN_FILENO) ::fcntl(descriptors[parentIndex(stream)], F_SETNOSIGPIPE, 1);
#endif
  return 0;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attributes() { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

// Returns 0 or an errno value.
int configure(SpawnSetup& setup, const ProcessLaunchOptions& options, Descriptors& descriptors) {
  const StreamMode modes[3] = {options.standardInput, options.standardOutput,
                               options.standardError};
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
#ifdef __APPLE__
  // Only the descriptors named below reach the child.
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
  for (int stream = 0; stream < 3; ++stream) {
    int result = 0;
    switch (modes[stream]) {
      case StreamMode::pipe:
        result = ::posix_spawn_file_actions_adddup2(setup.actions(),
                                                    descriptors[childIndex(stream)], stream);
        break;
      case StreamMode::nullDevice:
        result = ::posix_spawn_file_actions_addopen(
            setup.actions(), stream, "/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
        break;
      case StreamMode::inherit:
#ifdef __APPLE__
        result = ::posix_spawn_file_actions_addinherit_np(setup.actions(), stream);
#endif
        break;
    }
    if (result != 0) return result;
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Descriptors opened by other code without close-on-exec stay out of the child as well.
  if (int result = ::posix_spawn_file_actions_addclosefrom_np(setup.actions(), STDERR_FILENO + 1))
    return result;
#endif
  if (!options.workingDirectory.empty()) {
    if (int result = ::posix_spawn_file_actions_addchdir_np(setup.actions(),
                                                            options.workingDirectory.c_str()))
      return result;
  }
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  if (int result = ::posix_spawnattr_setsigdefault(setup.attributes(), &all)) return result;
  if (int result = ::posix_spawnattr_setsigmask(setup.attributes(), &none)) return result;
  if (options.ownProcessGroup) {
    flags |= POSIX_SPAWN_SETPGROUP;
    if (int result = ::posix_spawnattr_setpgroup(setup.attributes(), 0)) return result;
  }
  return ::posix_spawnattr_setflags(setup.attributes(), flags);
}

// What the waiter thread and the handle share; the waiter may outlive the handle.
struct ChildState {
  explicit ChildState(pid_t processID) : pid(processID) {}
  const pid_t pid;
  mutable std::mutex mutex;
  std::condition_variable ended;
  std::optional<ProcessExit> exit;
};

// A report of waitid() that means the child is gone for good (not stopped or continued).
bool reportsEnd(const siginfo_t& info) {
  return info.si_code == CLD_EXITED || info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED;
}

// Blocks until the child ends, then reaps it and records how it ended. This reaps every child,
// whether or not anyone still holds its handle.
void awaitChild(std::shared_ptr<ChildState> state) {
  // Wait without reaping first: the pid stays ours until it is reaped under the lock below, so
  // terminate() can never signal a process that has since reused it. Some systems (macOS) also
  // report a stopped child here, WEXITED notwithstanding: the blocking waitpid() below would then
  // hold the lock, and with it every terminate(), for as long as the child stays stopped.
  for (;;) {
    siginfo_t info = {};
    if (::waitid(P_PID, static_cast<id_t>(state->pid), &info, WEXITED | WNOWAIT) != 0) {
      if (errno == EINTR) continue;
      break;  // not our child any more: waitpid() below says so
    }
    if (reportsEnd(info)) break;
    // Take the stop or continue report, so that it is not given again; a child that ended
    // meanwhile is reaped right here.
    std::lock_guard lock(state->mutex);
    int status = 0;
    pid_t result = ::waitpid(state->pid, &status, WNOHANG | WUNTRACED | WCONTINUED);
    if (result == state->pid && (WIFEXITED(status) || WIFSIGNALED(status))) {
      state->exit = WIFEXITED(status)
                        ? ProcessExit{ProcessExit::Reason::exited, WEXITSTATUS(status)}
                        : ProcessExit{ProcessExit::Reason::signaled, WTERMSIG(status)};
      state->ended.notify_all();
      return;
    }
    if (result < 0 && errno != EINTR) break;
    if (result == 0) {
      // Nothing to take although a stop was reported: do not spin on the same report.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  std::lock_guard lock(state->mutex);
  int status = 0;
  pid_t result;
  do {
    result = ::waitpid(state->pid, &status, 0);
  } while (result < 0 && errno == EINTR);
  ProcessExit exit{ProcessExit::Reason::exited, -1};
  if (result == state->pid) {
    if (WIFEXITED(status)) {
      exit = {ProcessExit::Reason::exited, WEXITSTATUS(status)};
    } else if (WIFSIGNALED(status)) {
      exit = {ProcessExit::Reason::signaled, WTERMSIG(status)};
    }
  }
  state->exit = exit;
  state->ended.notify_all();
}

// Kills the process groups that were asked to end and have not, once their grace has passed.
// One thread does it, only while some group is in its grace; it is shared by the launcher and
// every handle it made, so that it outlives both as long as it has work.
class GroupReaper : public std::enable_shared_from_this<GroupReaper> {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // SIGKILL for the group `child` leads at `deadline`, unless the group is gone by then.
  void killAt(const std::shared_ptr<ChildState>& child, TimePoint deadline) noexcept {
    std::lock_guard lock(mutex_);
    if (!closing_) {
      try {
        pending_.push_back({child, deadline});
        if (!threadRunning_) {
          std::thread(&GroupReaper::run, this, shared_from_this()).detach();
          threadRunning_ = true;
        }
        changed_.notify_all();
        return;
      } catch (...) {
        // No memory or no thread: no grace.
        if (!pending_.empty() && pending_.back().child == child) pending_.pop_back();
      }
    }
    ::killpg(child->pid, SIGKILL);
  }

  // Kills every group still in its grace at once, and waits until the thread has let go.
  void close() noexcept {
    std::unique_lock lock(mutex_);
    closing_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !threadRunning_; });
    for (const Pending& entry : pending_) ::killpg(entry.child->pid, SIGKILL);
    pending_.clear();
  }

 private:
  struct Pending {
    std::shared_ptr<ChildState> child;
    TimePoint deadline;
  };

  static bool groupIsGone(const ChildState& child) {
    return ::killpg(child.pid, 0) != 0 && errno == ESRCH;
  }

  void run(std::shared_ptr<GroupReaper> self) noexcept {
    std::unique_lock lock(mutex_);
    while (!closing_ && !pending_.empty()) {
      const TimePoint now = std::chrono::steady_clock::now();
      TimePoint next = TimePoint::max();
      for (auto it = pending_.begin(); it != pending_.end();) {
        bool leaderEnded;
        {
          std::lock_guard childLock(it->child->mutex);
          leaderEnded = it->child->exit.has_value();
        }
        // The group's id is its leader's pid, which cannot be reused while the leader is
        // unreaped or any member of its group lives.
        if (leaderEnded && groupIsGone(*it->child)) {
          it = pending_.erase(it);
        } else if (now >= it->deadline) {
          ::killpg(it->child->pid, SIGKILL);
          it = pending_.erase(it);
        } else {
          next = std::min(next, it->deadline);
          ++it;
        }
      }
      if (pending_.empty()) break;
      // A leader's end is not signalled here: the group's members are looked at again at
      // short intervals, so that a group that ended early is let go of early.
      changed_.wait_until(lock, std::min(next, now + std::chrono::milliseconds(20)));
    }
    threadRunning_ = false;
    changed_.notify_all();
    // `self` keeps this object alive until here.
    (void)self;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Pending> pending_;
  bool threadRunning_ = false;
  bool closing_ = false;
};

class PosixProcess final : public Process {
 public:
  // Starts the waiter; throws std::system_error when no thread can be made.
  PosixProcess(pid_t pid, bool leadsGroup, std::shared_ptr<GroupReaper> reaper)
      : state_(std::make_shared<ChildState>(pid)),
        leadsGroup_(leadsGroup),
        reaper_(std::move(reaper)),
        waiter_(awaitChild, state_) {}

  ~PosixProcess() override {
    // A waiter that has recorded the end is about to return; otherwise it keeps waiting, alone.
    if (exitStatus()) {
      waiter_.join();
    } else {
      waiter_.detach();
    }
  }

  int processID() const noexcept override { return state_->pid; }

  bool isRunning() const noexcept override { return !exitStatus(); }

  void terminate() noexcept override {
    // Under the lock the child cannot be reaped meanwhile, so the pid is still ours. A stopped
    // child acts on the signal only once it is continued.
    std::lock_guard lock(state_->mutex);
    if (state_->exit) return;
    ::kill(state_->pid, SIGTERM);
    ::kill(state_->pid, SIGCONT);
  }

  void endProcessGroup(std::chrono::milliseconds grace) noexcept override {
    if (!leadsGroup_) {
      terminate();
      return;
    }
    // The group's id is the child's pid. While the child is unreaped the id cannot be reused;
    // afterwards it stays taken for as long as any member of the group lives.
    ::killpg(state_->pid, SIGTERM);
    ::killpg(state_->pid, SIGCONT);
    reaper_->killAt(state_, std::chrono::steady_clock::now() + grace);
  }

  std::optional<ProcessExit> exitStatus() const noexcept override {
    std::lock_guard lock(state_->mutex);
    return state_->exit;
  }

  bool waitForExit(TimePoint deadline) noexcept override {
    std::unique_lock lock(state_->mutex);
    return state_->ended.wait_until(lock, deadline, [&] { return state_->exit.has_value(); });
  }

 private:
  std::shared_ptr<ChildState> state_;
  const bool leadsGroup_;
  std::shared_ptr<GroupReaper> reaper_;
  std::thread waiter_;
};

class PosixProcessLauncher final : public ProcessLauncher {
 public:
  // Groups still in their grace are killed now rather than left behind.
  ~PosixProcessLauncher() override { reaper_->close(); }

  LaunchedProcess launch(const ProcessLaunchOptions& options) override {
    const StreamMode modes[3] = {options.standardInput, options.standardOutput,
                                 options.standardError};
    Descriptors descriptors;
    for (int stream = 0; stream < 3; ++stream) {
      if (modes[stream] != StreamMode::pipe) continue;
      if (int error = makePipe(descriptors, stream)) {
        throw ProcessLaunchError(options.executablePath, error);
      }
    }

    SpawnSetup setup;
    if (int error = configure(setup, options, descriptors)) {
      throw ProcessLaunchError(options.executablePath, error);
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(options.executablePath.c_str()));
    for (const std::string& argument : options.arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> entries;
    entries.reserve(options.environment.size());
    for (const auto& [name, value] : options.environment) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int error = ::posix_spawn(&pid, options.executablePath.c_str(), setup.actions(),
                              setup.attributes(), argv.data(), envp.data());
    if (error != 0) throw ProcessLaunchError(options.executablePath, error);

    LaunchedProcess launched;
    try {
      launched.process = std::make_unique<PosixProcess>(pid, options.ownProcessGroup, reaper_);
    } catch (const std::system_error&) {
      // Without a waiter the child could never be reaped later, so end it now.
      ::kill(pid, SIGKILL);
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
      throw ProcessLaunchError(options.executablePath, EAGAIN);
    }
    std::unique_ptr<ByteStream>* parentEnds[3] = {&launched.standardInput, &launched.standardOutput,
                                                  &launched.standardError};
    for (int stream = 0; stream < 3; ++stream) {
      if (modes[stream] != StreamMode::pipe) continue;
      *parentEnds[stream] = std::make_unique<ByteStream>(descriptors.release(parentIndex(stream)));
    }
    // The child's ends close with `descriptors`.
    return launched;
  }

 private:
  std::shared_ptr<GroupReaper> reaper_ = std::make_shared<GroupReaper>();
};

}  // namespace

std::unique_ptr<ProcessLauncher> makePosixProcessLauncher() {
  return std::make_unique<PosixProcessLauncher>();
}

}  // namespace vellora
