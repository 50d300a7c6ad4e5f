#include "VelloraCore/AppServer/CodexAppServerAvailability.h"

#include <algorithm>
#include <chrono>

#include "VelloraCore/AppServer/CodexAppServerCommand.h"
#include "VelloraCore/Discovery/CodexProcessEnvironment.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Platform/ReadinessWait.h"

namespace vellora {

CodexAppServerAvailability::CodexAppServerAvailability(const CodexLocator& locator,
                                                       ProcessLauncher& launcher,
                                                       const FileSystem& fileSystem,
                                                       Environment environment,
                                                       std::string homeDirectory)
    : locator_(locator),
      launcher_(launcher),
      fileSystem_(fileSystem),
      environment_(std::move(environment)),
      homeDirectory_(std::move(homeDirectory)) {}

HealthState CodexAppServerAvailability::healthState(Seconds timeout) const noexcept {
  std::optional<std::string> codex = locator_.locate();
  if (!codex) return HealthState::missing;
  return probe(*codex, timeout, launcher_, fileSystem_, environment_, homeDirectory_)
             ? HealthState::ready
             : HealthState::error;
}

bool CodexAppServerAvailability::probe(const std::string& codexPath, Seconds timeout,
                                       ProcessLauncher& launcher, const FileSystem& fileSystem,
                                       const Environment& environment,
                                       const std::string& homeDirectory, ReadinessWait* wait,
                                       const Clock* clock) noexcept {
  try {
    ProcessLaunchOptions options;
    options.executablePath = codexPath;
    options.arguments.assign(CodexAppServerCommand::kHelpArguments.begin(),
                             CodexAppServerCommand::kHelpArguments.end());
    options.environment =
        CodexProcessEnvironment(codexPath, environment, homeDirectory, fileSystem).values();
    options.standardInput = StreamMode::nullDevice;
    // Nobody reads the usage text; /dev/null also means a chatty child cannot stall on a pipe.
    // Awaited through `wait`, the output is a pipe whose end tells that the child has ended.
    options.standardOutput = wait != nullptr ? StreamMode::pipe : StreamMode::nullDevice;
    options.standardError = StreamMode::nullDevice;
    // A `codex` that is a wrapper script leaves its own children behind unless the whole group
    // is ended on time-out.
    options.ownProcessGroup = true;
    LaunchedProcess child = launcher.launch(options);

    const auto limit = std::max(std::chrono::milliseconds(1),
                                std::chrono::duration_cast<std::chrono::milliseconds>(timeout));
    const Clock::TimePoint deadline =
        (clock != nullptr ? clock->now() : std::chrono::steady_clock::now()) + limit;
    bool groupEnded = false;
    if (wait != nullptr && child.standardOutput) {
      // Drained as it comes, until it ends (the child and whatever it started are gone) or the
      // deadline passes.
      char buffer[4096];
      bool ended = false;
      while (!ended && wait->waitReadable(child.standardOutput->fileDescriptor(), deadline)) {
        ended = child.standardOutput->read(buffer, sizeof buffer) == 0;
      }
      // Still open at the deadline: something the child started holds it. The child's own
      // status decides the answer, but nothing of its group may stay behind.
      if (!ended) {
        child.process->endProcessGroup(kProcessGroupGrace);
        groupEnded = true;
      }
    }
    if (!child.process->waitForExit(deadline)) {
      if (!groupEnded) child.process->endProcessGroup(kProcessGroupGrace);
      return false;
    }
    std::optional<ProcessExit> exit = child.process->exitStatus();
    return exit && exit->succeeded();
  } catch (...) {
    return false;
  }
}

}  // namespace vellora
