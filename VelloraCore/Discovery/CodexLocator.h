#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Platform/Environment.h"

namespace vellora {

class FileSystem;
class ProcessLauncher;
class ReadinessWait;

// Asks a shell where `codex` is: given the environment to run it in, the path it printed.
using ShellCodexPathResolver = std::function<std::optional<std::string>(const Environment&)>;

// Finds the `codex` executable. A plain value: it keeps and caches nothing, so each locate()
// repeats the whole search. The file system must outlive it.
class CodexLocator {
 public:
  // The command line of the login-shell step that both programs install.
  static constexpr std::string_view kLoginShellPath = "/bin/zsh";
  static constexpr std::array<std::string_view, 2> kLoginShellArguments = {"-lic",
                                                                           "command -v codex"};
  static constexpr Seconds kLoginShellTimeout{2.0};

  CodexLocator(const FileSystem& fileSystem, Environment environment, std::string homeDirectory,
               ShellCodexPathResolver shellCodexPathResolver);

  // The first executable candidate (after following links, a regular file the user may
  // execute), or nothing. Candidates, in order:
  //   1. VELLORA_CODEX_PATH;
  //   2. DIR/codex for each non-empty DIR of PATH;
  //   (a relative one of these two is made absolute against the current directory)
  //   3. what the shell resolver prints, run with the environment (HOME filled in from the
  //      home directory when missing or empty);
  //   4. DIR/codex for each of codexInstallDirectories().
  // Blocks for as long as the shell step takes (about 2 s at most). Never fails.
  std::optional<std::string> locate() const noexcept;

  // Runs `shellPath` with `arguments` in exactly `environment` (standard input /dev/null) and
  // returns the last line of its output that starts with "/", trimmed, or nothing: when it
  // cannot start, does not exit with status 0 within `timeout` (it then leads its own process
  // group, which is ended: SIGTERM, then SIGKILL after 0.2 s), or prints no such line or text that
  // is not UTF-8. Blocks until the shell ends or `timeout` passes; the path is not checked.
  // With `wait`, the shell's output is awaited through it, so that the host serves its other
  // work meanwhile.
  static std::optional<std::string> resolveShellCodexPath(ProcessLauncher& launcher,
                                                          const Environment& environment,
                                                          const std::string& shellPath,
                                                          const std::vector<std::string>& arguments,
                                                          Seconds timeout,
                                                          ReadinessWait* wait = nullptr) noexcept;

  // resolveShellCodexPath with the login-shell command line above. `launcher` (and `wait`)
  // must outlive the resolver.
  static ShellCodexPathResolver loginShellResolver(ProcessLauncher& launcher,
                                                   ReadinessWait* wait = nullptr);

 private:
  const FileSystem* fileSystem_;
  Environment environment_;
  std::string homeDirectory_;
  ShellCodexPathResolver shellCodexPathResolver_;
};

}  // namespace vellora
