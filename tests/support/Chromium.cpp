#include "tests/support/Chromium.h"

#include <cstdlib>
#include <sstream>
#include <utility>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "tests/support/Processes.h"

namespace vellora::test {

std::string probeExtensionSource() {
  return std::string(VELLORA_SOURCE_DIR) + "/tests/fixtures/probe-extension";
}

std::string sidePanelExtensionSource() {
  return std::string(VELLORA_SOURCE_DIR) + "/apps/extension/dist";
}

std::optional<std::string> findChromium(const FileSystem& fileSystem) {
  if (fileSystem.isExecutableFile("/usr/bin/chromium")) return "/usr/bin/chromium";
  const char* path = std::getenv("PATH");
  std::istringstream directories(path ? path : "");
  for (std::string directory; std::getline(directories, directory, ':');) {
    if (directory.empty()) continue;
    const std::string candidate = directory + "/chromium";
    if (fileSystem.isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::vector<std::string> chromiumArguments(const std::string& userDataDirectory,
                                           const std::vector<std::string>& extensionFolders) {
  std::string extensions;
  for (const std::string& folder : extensionFolders) {
    if (!extensions.empty()) extensions += ",";
    extensions += folder;
  }
  return {"--headless",
          "--no-sandbox",
          "--disable-gpu",
          "--disable-quic",
          "--no-first-run",
          "--disable-background-networking",
          "--disable-component-update",
          "--disable-sync",
          "--user-data-dir=" + userDataDirectory,
          "--load-extension=" + extensions};
}

ProcessLaunchOptions chromiumLaunchOptions(const std::string& chromium, const AppPaths& paths,
                                           const std::vector<std::string>& extraArguments,
                                           Environment environment, StreamMode standardError,
                                           std::optional<std::string> userDataDirectory) {
  ProcessLaunchOptions options;
  options.executablePath = chromium;
  options.arguments = chromiumArguments(userDataDirectory.value_or(paths.chromeUserDataDirectory()),
                                        {paths.chromeExtensionDirectory()});
  options.arguments.insert(options.arguments.end(), extraArguments.begin(), extraArguments.end());
  options.environment = std::move(environment);
  options.standardOutput = StreamMode::nullDevice;
  options.standardError = standardError;
  return options;
}

std::optional<ProcessExit> writeChromiumProfile(const std::string& chromium, const AppPaths& paths,
                                                Environment environment,
                                                Process::TimePoint deadline,
                                                std::optional<std::string> userDataDirectory) {
  const LaunchedProcess browser = makePosixProcessLauncher()->launch(
      chromiumLaunchOptions(chromium, paths, {"--dump-dom", "about:blank"}, std::move(environment),
                            StreamMode::nullDevice, std::move(userDataDirectory)));
  if (!waitOrKill(*browser.process, deadline)) return std::nullopt;
  return browser.process->exitStatus();
}

}  // namespace vellora::test
