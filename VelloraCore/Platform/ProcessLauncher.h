#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Error.h"
#include "VelloraCore/Platform/ByteStream.h"
#include "VelloraCore/Platform/Environment.h"

namespace vellora {

// A child that could not be started (missing executable, not executable, bad working
// directory, no resources). The description names the executable and the cause.
class ProcessLaunchError final : public Error {
 public:
  ProcessLaunchError(const std::string& executablePath, int errorNumber);
  int errorNumber() const noexcept { return errorNumber_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  int errorNumber_;
  std::string description_;
};

// What one of the child's standard streams is connected to.
enum class StreamMode {
  pipe,        // a new pipe; the parent's end comes back in LaunchedProcess
  nullDevice,  // /dev/null
  inherit,     // this process's own stream
};

// Everything a child is started with.
struct ProcessLaunchOptions {
  // Started as given (no PATH search); it is also the child's argv[0].
  std::string executablePath;
  // argv[1...]
  std::vector<std::string> arguments;
  // The child's whole environment; nothing else is inherited.
  Environment environment;
  // Empty: this process's working directory.
  std::string workingDirectory;
  StreamMode standardInput = StreamMode::nullDevice;
  StreamMode standardOutput = StreamMode::pipe;
  StreamMode standardError = StreamMode::pipe;
  // The child leads a new process group of its own, so that everything it starts can be ended
  // with it (Process::endProcessGroup).
  bool ownProcessGroup = false;
};

// How a child ended.
struct ProcessExit {
  enum class Reason { exited, signaled };
  Reason reason;
  // The exit status (0 to 255), or the number of the signal that ended the child; -1 when the
  // system could not report the status.
  int code;

  bool succeeded() const noexcept { return reason == Reason::exited && code == 0; }
  friend bool operator==(const ProcessExit&, const ProcessExit&) = default;
};

// A started child. The handle may be used from any thread. Destroying it neither waits for nor
// stops the child; the child is reaped whenever it ends, so it never lingers as a zombie.
class Process {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Process() = default;

  virtual int processID() const noexcept = 0;
  // False once the child has ended and been reaped.
  virtual bool isRunning() const noexcept = 0;
  // Asks a running child to end (SIGTERM, then SIGCONT so that a stopped child acts on it).
  // Does not wait; does nothing once it has ended.
  virtual void terminate() noexcept = 0;
  // For a child started with ownProcessGroup: asks the whole group to end now (SIGTERM, then
  // SIGCONT), and kills whatever is left of it (SIGKILL) once `grace` has passed, unless the
  // group has ended by then, so that nothing it started outlives it, whether or not it ignores
  // SIGTERM. Does not block; the launcher kills the group later even when this handle is gone,
  // and the child is reaped as always. For any other child, terminate().
  virtual void endProcessGroup(std::chrono::milliseconds grace) noexcept = 0;
  // How the child ended; nothing while it runs.
  virtual std::optional<ProcessExit> exitStatus() const noexcept = 0;
  // Blocks until the child has ended or the monotonic clock reaches `deadline`. True when it
  // has ended.
  virtual bool waitForExit(TimePoint deadline) noexcept = 0;
};

// A started child with the parent's ends of the streams that were StreamMode::pipe (the
// others are null). The caller owns each part and may drop them independently.
struct LaunchedProcess {
  std::unique_ptr<Process> process;
  std::unique_ptr<ByteStream> standardInput;
  std::unique_ptr<ByteStream> standardOutput;
  std::unique_ptr<ByteStream> standardError;
};

// How long a child's process group has to end after SIGTERM before it is killed.
inline constexpr std::chrono::milliseconds kProcessGroupGrace{2000};

// Starts child processes. Every pipe end it creates is close-on-exec, so a child holds only
// its own three streams; every child starts with the default disposition for every signal and
// no blocked signals.
class ProcessLauncher {
 public:
  // Kills at once the process groups still in their grace (Process::endProcessGroup).
  virtual ~ProcessLauncher() = default;
  // Throws ProcessLaunchError; on failure nothing is left running and no descriptor is leaked.
  virtual LaunchedProcess launch(const ProcessLaunchOptions& options) = 0;
};

std::unique_ptr<ProcessLauncher> makePosixProcessLauncher();

}  // namespace vellora
