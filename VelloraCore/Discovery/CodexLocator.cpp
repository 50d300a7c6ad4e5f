#include "VelloraCore/Discovery/CodexLocator.h"

#include "VelloraCore/Platform/ReadinessWait.h"

#include <unicode/utf8.h>

#include <algorithm>
#include <cmath>

#include "VelloraCore/Discovery/CodexInstallDirectories.h"
#include "VelloraCore/Discovery/CodexProcessEnvironment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Platform/ReadinessWait.h"
#include "VelloraCore/Platform/UTF8Text.h"

namespace vellora {

namespace {

using namespace std::chrono_literals;

// Output beyond this is dropped from the front: the path is printed last.
constexpr std::size_t kMaxShellOutputBytes = 64 * 1024;
// How long a timed-out shell's group has between SIGTERM and SIGKILL.
constexpr auto kShellGroupGrace = 200ms;

std::string candidateIn(const std::string& directory) {
  if (!directory.empty() && directory.back() == '/') return directory + "codex";
  return directory + "/codex";
}

bool isLineSeparator(UChar32 c) {
  return c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0x85 || c == 0x2028 ||
         c == 0x2029;
}

// The last line of `text` (UTF-8) that starts with "/" once white space is trimmed from both
// ends. Nothing when there is none or `text` is not valid UTF-8.
std::optional<std::string> lastAbsolutePathLine(const std::string& text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  std::optional<std::string> found;
  int32_t lineStart = 0;
  int32_t position = 0;
  while (position <= length) {
    int32_t lineEnd = position;
    UChar32 c = '\n';  // the end of the text ends the last line
    if (position < length) {
      U8_NEXT(bytes, position, length, c);
      if (c < 0) return std::nullopt;
      if (!isLineSeparator(c)) continue;
    } else {
      ++position;
    }
    std::string_view line = trimmingWhitespace(std::string_view(text).substr(
        static_cast<std::size_t>(lineStart), static_cast<std::size_t>(lineEnd - lineStart)));
    if (!line.empty() && line.front() == '/') found = std::string(line);
    lineStart = position;
  }
  return found;
}

}  // namespace

CodexLocator::CodexLocator(const FileSystem& fileSystem, Environment environment,
                           std::string homeDirectory, ShellCodexPathResolver shellCodexPathResolver)
    : fileSystem_(&fileSystem),
      environment_(std::move(environment)),
      homeDirectory_(std::move(homeDirectory)),
      shellCodexPathResolver_(std::move(shellCodexPathResolver)) {}

std::optional<std::string> CodexLocator::locate() const noexcept {
  try {
    auto isExecutable = [&](const std::string& path) {
      return fileSystem_->isExecutableFile(path);
    };
    // A relative path found here means the current directory, which is not the directory the
    // app-server runs in: it is made absolute now.
    auto absolute = [&](const std::string& path) -> std::optional<std::string> {
      if (path.starts_with('/')) return path;
      try {
        return FileSystem::standardizedPath(fileSystem_->currentDirectory() + "/" + path);
      } catch (const FileSystemError&) {
        return std::nullopt;
      }
    };

    if (auto override = environment_.find("VELLORA_CODEX_PATH");
        override != environment_.end() && isExecutable(override->second)) {
      if (auto found = absolute(override->second)) return found;
    }

    if (auto path = environment_.find("PATH"); path != environment_.end()) {
      for (const std::string& directory : splitSearchPath(path->second)) {
        std::string candidate = candidateIn(directory);
        if (!isExecutable(candidate)) continue;
        if (auto found = absolute(candidate)) return found;
      }
    }

    if (shellCodexPathResolver_) {
      Environment shellEnvironment = environment_;
      if (shellEnvironment["HOME"].empty()) {
        std::string home = withoutTrailingSlashes(homeDirectory_);
        shellEnvironment["HOME"] = home.empty() ? "/" : home;
      }
      std::optional<std::string> resolved;
      try {
        resolved = shellCodexPathResolver_(shellEnvironment);
      } catch (...) {
        // A failing resolver is only a step without a result.
      }
      if (resolved && isExecutable(*resolved)) return resolved;
    }

    for (const std::string& directory : codexInstallDirectories(homeDirectory_, *fileSystem_)) {
      std::string candidate = candidateIn(directory);
      if (isExecutable(candidate)) return candidate;
    }
  } catch (...) {
    // Out of memory: nothing found.
  }
  return std::nullopt;
}

std::optional<std::string> CodexLocator::resolveShellCodexPath(
    ProcessLauncher& launcher, const Environment& environment, const std::string& shellPath,
    const std::vector<std::string>& arguments, Seconds timeout, ReadinessWait* wait) noexcept {
  try {
    // At least one millisecond, as whole milliseconds.
    double milliseconds = std::isfinite(timeout.count()) ? std::trunc(timeout.count() * 1000) : 1;
    const auto deadline =
        std::chrono::steady_clock::now() +
        std::chrono::milliseconds(static_cast<long long>(std::clamp(milliseconds, 1.0, 1e12)));

    ProcessLaunchOptions options;
    options.executablePath = shellPath;
    options.arguments = arguments;
    options.environment = environment;
    // Our standard input may be Chrome's message stream: a start-up file that reads input must
    // never consume it. Standard error is never looked at, so it need not fill a pipe either.
    options.standardInput = StreamMode::nullDevice;
    options.standardOutput = StreamMode::pipe;
    options.standardError = StreamMode::nullDevice;
    // An interactive shell ignores SIGTERM, and a start-up file may have started other programs:
    // on time-out the whole group is ended.
    options.ownProcessGroup = true;
    LaunchedProcess shell;
    try {
      shell = launcher.launch(options);
    } catch (...) {
      return std::nullopt;
    }

    // Read while the shell runs, so that a talkative start-up cannot fill the pipe and stall.
    std::string output;
    bool truncated = false;
    char buffer[16384];
    for (;;) {
      auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left <= 0ms) break;
      // The output stays open past the shell's exit when it left a background job behind;
      // look at the exit between short waits so that such a job cannot hold us to the limit.
      const auto step = std::min<std::chrono::milliseconds>(left, 50ms);
      const bool ready = wait != nullptr
                             ? wait->waitReadable(shell.standardOutput->fileDescriptor(),
                                                  std::chrono::steady_clock::now() + step)
                             : shell.standardOutput->waitReadable(step);
      if (!ready) {
        if (!shell.process->isRunning()) break;
        continue;
      }
      std::size_t count = shell.standardOutput->read(buffer, sizeof buffer);
      if (count == 0) break;
      output.append(buffer, count);
      if (output.size() > 2 * kMaxShellOutputBytes) {
        output.erase(0, output.size() - kMaxShellOutputBytes);
        truncated = true;
      }
    }
    if (!shell.process->waitForExit(deadline)) {
      // The launcher reaps it whenever it goes.
      shell.process->endProcessGroup(kShellGroupGrace);
      return std::nullopt;
    }
    if (!shell.process->exitStatus()->succeeded()) return std::nullopt;
    if (truncated) {
      // The first kept line may be the tail of a longer one.
      std::size_t newline = output.find('\n');
      output.erase(0, newline == std::string::npos ? output.size() : newline + 1);
    }
    return lastAbsolutePathLine(output);
  } catch (...) {
    return std::nullopt;
  }
}

ShellCodexPathResolver CodexLocator::loginShellResolver(ProcessLauncher& launcher,
                                                        ReadinessWait* wait) {
  return [&launcher, wait](const Environment& environment) {
    return resolveShellCodexPath(
        launcher, environment, std::string(kLoginShellPath),
        std::vector<std::string>(kLoginShellArguments.begin(), kLoginShellArguments.end()),
        kLoginShellTimeout, wait);
  };
}

}  // namespace vellora
