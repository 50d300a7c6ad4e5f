#pragma once

#include <string>

#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

class FileSystem;
class ProcessLauncher;
class ReadinessWait;

// Tells whether the installed `codex` can run its app-server, without starting the long-running
// one: `codex app-server --help` must exit with status 0 within the time-out. Holds no mutable
// state; every collaborator must outlive it.
class CodexAppServerAvailability {
 public:
  CodexAppServerAvailability(const CodexLocator& locator, ProcessLauncher& launcher,
                             const FileSystem& fileSystem, Environment environment,
                             std::string homeDirectory);

  // missing when no `codex` is found, else ready or error by the probe. Never fails; blocks
  // for up to the time-out.
  HealthState healthState(Seconds timeout) const noexcept;

  // Runs the probe on one executable: true exactly when it exits with status 0 in time. The
  // wait is the time-out in whole milliseconds, truncated and at least 1; a child still
  // running then has its process group ended (SIGTERM, SIGKILL after kProcessGroupGrace)
  // without being waited for. Its standard input is /dev/null (the
  // host's is Chrome's message stream) and its output is discarded. With `wait` (and `clock`
  // for its deadline), the end of the probe's output is awaited through it, so that the host
  // serves its other work meanwhile.
  static bool probe(const std::string& codexPath, Seconds timeout, ProcessLauncher& launcher,
                    const FileSystem& fileSystem, const Environment& environment,
                    const std::string& homeDirectory, ReadinessWait* wait = nullptr,
                    const Clock* clock = nullptr) noexcept;

 private:
  const CodexLocator& locator_;
  ProcessLauncher& launcher_;
  const FileSystem& fileSystem_;
  Environment environment_;
  std::string homeDirectory_;
};

}  // namespace vellora
