#include "tools/ChromeCommands.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <optional>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/ChromeBrowser.h"
#include "VelloraCore/Chrome/ChromeExtensionDetector.h"
#include "VelloraCore/Chrome/ChromeExtensionID.h"
#include "VelloraCore/Chrome/NativeHostInstaller.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/HomeDirectory.h"

namespace vellora {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

// The locations of the platform's layout for the current user.
std::optional<AppPaths> currentAppPaths() {
  const Environment environment = currentProcessEnvironment();
  std::string home = currentHomeDirectory(environment);
  if (home.empty()) return std::nullopt;
  return AppPaths::platformLayout(home, environment);
}

// Reads "--name value" or "--name=value" at arguments[index], advancing past what it used.
std::optional<std::string> optionValue(const std::vector<std::string>& arguments,
                                       std::size_t& index, const std::string& name) {
  const std::string& word = arguments[index];
  if (word == name) {
    if (index + 1 >= arguments.size()) return std::nullopt;
    index += 2;
    return arguments[index - 1];
  }
  if (word.starts_with(name + "=")) {
    index += 1;
    return word.substr(name.size() + 1);
  }
  return std::nullopt;
}

}  // namespace

int runInstallCommand(const std::vector<std::string>& arguments,
                      const std::string& hostExecutablePath) {
  std::vector<std::string> ids;
  for (std::size_t index = 0; index < arguments.size();) {
    std::optional<std::string> id = optionValue(arguments, index, "--extension-id");
    if (!id) {
      std::cerr << "usage: install [--extension-id ID]...\n";
      return kUsage;
    }
    if (!isChromeExtensionID(*id)) {
      std::cerr << "Invalid Chrome extension ID: " << *id << ".\n";
      return kUsage;
    }
    ids.push_back(*id);
  }
  const std::optional<AppPaths> paths = currentAppPaths();
  if (!paths) {
    std::cerr << "Could not find the home directory.\n";
    return kFailed;
  }
  auto fileSystem = makePosixFileSystem();
  // Given IDs go to every present browser; detected ones to the browsers that hold them.
  // Google Chrome's folder gets the manifest in either case.
  std::vector<std::string> browsers;
  if (ids.empty()) {
    const ChromeExtensionDetector detector =
        ChromeExtensionDetector::forBrowsers(*paths, *fileSystem);
    const std::vector<ChromeExtensionCandidate> candidates = detector.detectVelloraExtensions();
    ids = detector.detectVelloraExtensionIDs();
    browsers = detector.browsersOf(candidates);
  } else {
    for (const ChromeBrowserPaths& browser : paths->browsers()) {
      if (fileSystem->isDirectory(browser.userDataDirectory)) browsers.push_back(browser.id);
    }
  }
  try {
    for (const ChromeBrowserPaths& browser : paths->browsers()) {
      if (browser.id != kGoogleChromeID &&
          std::find(browsers.begin(), browsers.end(), browser.id) == browsers.end()) {
        continue;
      }
      std::cout << NativeHostInstaller(browser, *fileSystem).install(hostExecutablePath, ids)
                << "\n";
    }
    return 0;
  } catch (const Error& error) {
    std::cerr << error.what() << "\n";
    return kFailed;
  }
}

int runDetectCommand(const std::vector<std::string>& arguments) {
  std::optional<std::string> directory;
  for (std::size_t index = 0; index < arguments.size();) {
    directory = optionValue(arguments, index, "--chrome-directory");
    if (!directory) {
      std::cerr << "usage: detect [--chrome-directory DIR]\n";
      return kUsage;
    }
  }
  auto fileSystem = makePosixFileSystem();
  std::optional<ChromeExtensionDetector> detector;
  if (directory) {
    detector.emplace(*directory, *fileSystem);
  } else {
    const std::optional<AppPaths> paths = currentAppPaths();
    if (!paths) {
      std::cerr << "Could not find the home directory.\n";
      return kFailed;
    }
    detector.emplace(ChromeExtensionDetector::forBrowsers(*paths, *fileSystem));
  }
  const std::vector<ChromeExtensionCandidate> candidates = detector->detectVelloraExtensions();
  if (candidates.empty()) {
    std::cerr << "No Vellora extension found in the profiles at";
    for (const ChromeUserDataDirectory& searched : detector->directories()) {
      std::cerr << (&searched == &detector->directories().front() ? " " : ", ") << searched.path;
    }
    std::cerr << ".\n";
    return kFailed;
  }
  for (const ChromeExtensionCandidate& candidate : candidates) {
    std::cout << candidate.id << "\tprofile=" << candidate.profileName
              << "\tpath=" << candidate.path.value_or("-")
              << "\tname=" << candidate.name.value_or("-") << "\trank="
              << ChromeExtensionDetector::rank(candidate, detector->folders()).value_or(-1)
              << "\tbrowser=" << candidate.browser << "\n";
  }
  return 0;
}

int runPathsCommand(const std::vector<std::string>& arguments) {
  if (!arguments.empty()) {
    std::cerr << "usage: paths\n";
    return kUsage;
  }
  const std::optional<AppPaths> paths = currentAppPaths();
  if (!paths) {
    std::cerr << "Could not find the home directory.\n";
    return kFailed;
  }
  std::cout << "applicationSupportDirectory " << paths->applicationSupportDirectory() << "\n"
            << "workspaceDirectory " << paths->workspaceDirectory() << "\n"
            << "chromeExtensionDirectory " << paths->chromeExtensionDirectory() << "\n"
            << "chromeNativeHostsDirectory " << paths->chromeNativeHostsDirectory() << "\n"
            << "nativeHostManifestURL " << paths->nativeHostManifestURL() << "\n";
  for (const ChromeBrowserPaths& browser : paths->browsers()) {
    std::cout << "nativeHostManifestURL." << browser.id << " " << browser.nativeHostManifestURL
              << "\n";
  }
  return 0;
}

}  // namespace vellora
