#include "VelloraCompanion/Model/CompanionChecks.h"

#include <algorithm>
#include <utility>

#include "VelloraCompanion/Model/CompanionInstallError.h"
#include "VelloraCore/AppServer/CodexAppServerAvailability.h"
#include "VelloraCore/AppServer/CodexAuthDetector.h"
#include "VelloraCore/Chrome/ChromeBrowser.h"
#include "VelloraCore/Chrome/ChromeExtensionDetector.h"
#include "VelloraCore/Chrome/ChromeExtensionID.h"
#include "VelloraCore/Chrome/ChromeExtensionIDRefreshSampler.h"
#include "VelloraCore/Chrome/NativeHostInstaller.h"
#include "VelloraCore/Chrome/SystemHostManifest.h"
#include "VelloraCore/Discovery/CodexHomeDirectory.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"

namespace vellora {

namespace {

// A variable that is set and not empty.
std::optional<std::string> nonEmptyVariable(const Environment& environment,
                                            const std::string& name) {
  auto found = environment.find(name);
  if (found == environment.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

}  // namespace

CompanionChecks::CompanionChecks(FileSystem& fileSystem, ProcessLauncher& launcher,
                                 Environment environment, std::string homeDirectory, AppPaths paths,
                                 std::optional<std::string> executablePath,
                                 ShellCodexPathResolver shellCodexPathResolver, Sleep sleep)
    : fileSystem_(&fileSystem),
      launcher_(&launcher),
      environment_(std::move(environment)),
      homeDirectory_(std::move(homeDirectory)),
      paths_(std::move(paths)),
      executablePath_(std::move(executablePath)),
      shellCodexPathResolver_(std::move(shellCodexPathResolver)),
      sleep_(std::move(sleep)),
      systemNativeHostsRoot_() {}

CompanionHealth CompanionChecks::measureRefresh(
    std::optional<bool> previouslyReady) const noexcept {
  const DetectedExtensions extensions = sampleExtensions(previouslyReady);
  refreshManifestIfNeeded(extensions);
  return computeHealth(extensions);
}

DetectedExtensions CompanionChecks::detectExtensions() const noexcept {
  try {
    const ChromeExtensionDetector detector =
        ChromeExtensionDetector::forBrowsers(paths_, *fileSystem_);
    const std::vector<ChromeExtensionCandidate> candidates = detector.detectVelloraExtensions();
    DetectedExtensions found{{}, detector.browsersOf(candidates)};
    for (const ChromeExtensionCandidate& candidate : candidates) found.ids.push_back(candidate.id);
    std::sort(found.ids.begin(), found.ids.end());
    found.ids.erase(std::unique(found.ids.begin(), found.ids.end()), found.ids.end());
    return found;
  } catch (...) {
    return {};
  }
}

DetectedExtensions CompanionChecks::sampleExtensions(
    std::optional<bool> previouslyReady) const noexcept {
  try {
    // The sampler decides on the IDs alone; the browsers of the sample it settles on, which is
    // always the last one taken, come along.
    DetectedExtensions last;
    const ChromeExtensionIDRefreshSampler sampler{
        previouslyReady ? kFollowUpSampleAttempts : kFirstSampleAttempts, kSampleIntervalSeconds,
        sleep_};
    sampler.detect(previouslyReady, [this, &last] {
      last = detectExtensions();
      return last.ids;
    });
    return last;
  } catch (...) {
    // Only a failing sleep or an allocation can end up here; a check never fails.
    return {};
  }
}

std::vector<ChromeBrowserPaths> CompanionChecks::presentBrowsers() const noexcept {
  try {
    std::vector<ChromeBrowserPaths> present;
    for (const ChromeBrowserPaths& browser : paths_.browsers()) {
      if (fileSystem_->isDirectory(browser.userDataDirectory)) present.push_back(browser);
    }
    return present;
  } catch (...) {
    return {};
  }
}

std::vector<ChromeBrowserPaths> CompanionChecks::manifestTargets(
    const DetectedExtensions& extensions) const noexcept {
  try {
    std::vector<std::string> chosen = extensions.browsers;
    if (chosen.empty()) {
      for (const ChromeBrowserPaths& browser : presentBrowsers()) chosen.push_back(browser.id);
    }
    std::vector<ChromeBrowserPaths> targets;
    for (const ChromeBrowserPaths& browser : paths_.browsers()) {
      if (browser.id == kGoogleChromeID ||
          std::find(chosen.begin(), chosen.end(), browser.id) != chosen.end()) {
        targets.push_back(browser);
      }
    }
    return targets;
  } catch (...) {
    return {};
  }
}

void CompanionChecks::refreshManifestIfNeeded(const DetectedExtensions& extensions) const noexcept {
  if (extensions.ids.empty()) return;
  std::string hostPath;
  try {
    hostPath = nativeHostExecutableURL();
  } catch (...) {
    return;
  }
  for (const ChromeBrowserPaths& target : manifestTargets(extensions)) {
    try {
      NativeHostInstaller installer(target, *fileSystem_);
      if (installer.installationState(hostPath, extensions.ids) ==
          NativeHostInstallationState::installed) {
        continue;
      }
      installer.install(hostPath, extensions.ids);
    } catch (...) {
      // The repair reports these failures; the silent upkeep of a refresh does not.
    }
  }
}

CompanionHealth CompanionChecks::computeHealth(
    const DetectedExtensions& extensions) const noexcept {
  return measure(extensions, kRefreshProbeTimeout);
}

CompanionHealth CompanionChecks::currentHealth() const noexcept {
  return measure(detectExtensions(), kCurrentHealthProbeTimeout);
}

CompanionHealth CompanionChecks::measure(const DetectedExtensions& extensions,
                                         Seconds probeTimeout) const noexcept {
  CompanionHealth health{};
  health.companion = HealthState::ready;
  health.nativeHost = nativeHostHealth(extensions);
  health.extension = extensions.ids.empty() ? HealthState::missing : HealthState::ready;
  const CodexLocator locator(*fileSystem_, environment_, homeDirectory_, shellCodexPathResolver_);
  health.codex = locator.locate() ? HealthState::ready : HealthState::missing;
  health.appServer =
      CodexAppServerAvailability(locator, *launcher_, *fileSystem_, environment_, homeDirectory_)
          .healthState(probeTimeout);
  health.auth = CodexAuthDetector(codexHomeDirectory(environment_, homeDirectory_), *fileSystem_)
                    .healthState();
  return health;
}

namespace {

HealthState manifestHealth(NativeHostInstallationState state) {
  switch (state) {
    case NativeHostInstallationState::missing:
      return HealthState::missing;
    case NativeHostInstallationState::installed:
      return HealthState::ready;
    case NativeHostInstallationState::stale:
    case NativeHostInstallationState::invalid:
      return HealthState::error;
  }
  return HealthState::error;
}

}  // namespace

HealthState CompanionChecks::nativeHostHealth(const DetectedExtensions& extensions) const noexcept {
  std::string hostPath;
  try {
    hostPath = nativeHostExecutableURL();
  } catch (...) {
    return HealthState::missing;
  }
  if (extensions.browsers.empty()) {
    const ChromeBrowserPaths* chrome = paths_.browser("chrome");
    if (chrome == nullptr) return HealthState::missing;
    return browserManifestHealth(*chrome, hostPath, extensions.ids);
  }
  HealthState worst = HealthState::ready;
  for (const std::string& id : extensions.browsers) {
    const ChromeBrowserPaths* browser = paths_.browser(id);
    if (browser == nullptr) continue;
    const HealthState state = browserManifestHealth(*browser, hostPath, extensions.ids);
    if (state == HealthState::error) return state;
    if (state == HealthState::missing) worst = state;
  }
  return worst;
}

std::vector<BrowserConnection> CompanionChecks::browserConnections(
    const DetectedExtensions& extensions) const noexcept {
  try {
    std::optional<std::string> hostPath;
    try {
      hostPath = nativeHostExecutableURL();
    } catch (...) {
    }
    std::vector<BrowserConnection> connections;
    for (const ChromeBrowserPaths& browser : presentBrowsers()) {
      BrowserConnection connection{browser.id, browser.name, false, HealthState::missing};
      connection.hasExtension = std::find(extensions.browsers.begin(), extensions.browsers.end(),
                                          browser.id) != extensions.browsers.end();
      if (hostPath) {
        connection.manifest = browserManifestHealth(browser, *hostPath, extensions.ids);
      }
      connections.push_back(std::move(connection));
    }
    return connections;
  } catch (...) {
    return {};
  }
}

HealthState CompanionChecks::browserManifestHealth(
    const ChromeBrowserPaths& browser, const std::string& hostPath,
    const std::vector<std::string>& extensionIDs) const {
  const HealthState state = manifestHealth(
      NativeHostInstaller(browser, *fileSystem_).installationState(hostPath, extensionIDs));
  return state == HealthState::missing ? systemManifestHealth(browser.id, extensionIDs) : state;
}

HealthState CompanionChecks::systemManifestHealth(
    const std::string& browserID, const std::vector<std::string>& extensionIDs) const noexcept {
  try {
    const std::string_view directory = systemNativeHostsDirectory(browserID);
    if (directory.empty()) return HealthState::missing;
    // Read by the browser only when the user has no manifest of that name.
    return systemManifestServes(*fileSystem_, systemNativeHostsRoot_ + std::string(directory),
                                extensionIDs)
               ? HealthState::ready
               : HealthState::missing;
  } catch (...) {
    return HealthState::missing;
  }
}

std::string CompanionChecks::nativeHostExecutableURL() const {
  if (std::optional<std::string> path =
          nonEmptyVariable(environment_, "VELLORA_NATIVE_HOST_PATH")) {
    return *path;
  }
  if (!executablePath_ || executablePath_->empty()) {
    throw CompanionInstallError(CompanionInstallError::Case::missingNativeHostExecutable);
  }
  const std::string& self = *executablePath_;
  // A translocated application runs from /private/var/folders/…/AppTranslocation/<UUID>/d/,
  // which exists only while it runs.
  if (self.find("/AppTranslocation/") != std::string::npos) {
    throw CompanionInstallError(CompanionInstallError::Case::translocatedApplication);
  }
  return self.substr(0, self.rfind('/') + 1) + "vellora-native-host";
}

DetectedExtensions CompanionChecks::resolveExtensionIDs() const {
  if (std::optional<std::string> id = nonEmptyVariable(environment_, "VELLORA_EXTENSION_ID")) {
    if (!isChromeExtensionID(*id)) throw CompanionInstallError::invalidExtensionID(*id);
    return {{*id}, {}};
  }
  DetectedExtensions found = sampleExtensions(std::nullopt);
  if (found.ids.empty()) {
    throw CompanionInstallError(CompanionInstallError::Case::missingExtensionID);
  }
  return found;
}

NativeHostInstallOutcome CompanionChecks::performNativeHostInstall() const noexcept {
  DetectedExtensions extensions;
  std::vector<InstalledManifest> installed;
  try {
    extensions = resolveExtensionIDs();
    const std::string hostPath = nativeHostExecutableURL();
    for (const ChromeBrowserPaths& target : manifestTargets(extensions)) {
      installed.push_back(
          {target.name,
           NativeHostInstaller(target, *fileSystem_).install(hostPath, extensions.ids)});
    }
  } catch (const std::exception& failure) {
    return NativeHostInstallOutcome::failure(failure.what());
  } catch (...) {
    return NativeHostInstallOutcome::failure("Vellora could not install the native host.");
  }
  return NativeHostInstallOutcome::success(computeHealth(extensions), std::move(installed));
}

}  // namespace vellora
