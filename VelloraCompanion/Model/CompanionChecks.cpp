#include "VelloraCompanion/Model/CompanionChecks.h"

#include <utility>

#include "VelloraCompanion/Model/CompanionInstallError.h"
#include "VelloraCore/AppServer/CodexAppServerAvailability.h"
#include "VelloraCore/AppServer/CodexAuthDetector.h"
#include "VelloraCore/Chrome/ChromeExtensionDetector.h"
#include "VelloraCore/Chrome/ChromeExtensionID.h"
#include "VelloraCore/Chrome/ChromeExtensionIDRefreshSampler.h"
#include "VelloraCore/Chrome/NativeHostInstaller.h"
#include "VelloraCore/Chrome/SystemHostManifest.h"
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
      systemNativeHostsDirectory_(chromeSystemNativeHostsDirectory()) {}

CompanionHealth CompanionChecks::measureRefresh(
    std::optional<bool> previouslyReady) const noexcept {
  const std::vector<std::string> ids = sampleExtensionIDs(previouslyReady);
  refreshManifestIfNeeded(ids);
  return computeHealth(ids);
}

std::vector<std::string> CompanionChecks::sampleExtensionIDs(
    std::optional<bool> previouslyReady) const noexcept {
  try {
    const ChromeExtensionDetector detector(paths_.chromeUserDataDirectory(), *fileSystem_);
    const ChromeExtensionIDRefreshSampler sampler{
        previouslyReady ? kFollowUpSampleAttempts : kFirstSampleAttempts, kSampleIntervalSeconds,
        sleep_};
    return sampler.detect(previouslyReady,
                          [&detector] { return detector.detectVelloraExtensionIDs(); });
  } catch (...) {
    // Only a failing sleep or an allocation can end up here; a check never fails.
    return {};
  }
}

void CompanionChecks::refreshManifestIfNeeded(
    const std::vector<std::string>& extensionIDs) const noexcept {
  if (extensionIDs.empty()) return;
  try {
    const std::string hostPath = nativeHostExecutableURL();
    if (NativeHostInstaller(paths_, *fileSystem_).installationState(hostPath, extensionIDs) ==
        NativeHostInstallationState::installed) {
      return;
    }
    NativeHostInstaller(paths_, *fileSystem_).install(hostPath, extensionIDs);
  } catch (...) {
    // The repair reports these failures; the silent upkeep of a refresh does not.
  }
}

CompanionHealth CompanionChecks::computeHealth(
    const std::vector<std::string>& extensionIDs) const noexcept {
  return measure(extensionIDs, kRefreshProbeTimeout);
}

CompanionHealth CompanionChecks::currentHealth() const noexcept {
  const ChromeExtensionDetector detector(paths_.chromeUserDataDirectory(), *fileSystem_);
  return measure(detector.detectVelloraExtensionIDs(), kCurrentHealthProbeTimeout);
}

CompanionHealth CompanionChecks::measure(const std::vector<std::string>& extensionIDs,
                                         Seconds probeTimeout) const noexcept {
  CompanionHealth health{};
  health.companion = HealthState::ready;
  health.nativeHost = nativeHostHealth(extensionIDs, NativeHostInstaller(paths_, *fileSystem_));
  health.extension = extensionIDs.empty() ? HealthState::missing : HealthState::ready;
  const CodexLocator locator(*fileSystem_, environment_, homeDirectory_, shellCodexPathResolver_);
  health.codex = locator.locate() ? HealthState::ready : HealthState::missing;
  health.appServer =
      CodexAppServerAvailability(locator, *launcher_, *fileSystem_, environment_, homeDirectory_)
          .healthState(probeTimeout);
  health.auth = CodexAuthDetector::forHomeDirectory(homeDirectory_, *fileSystem_).healthState();
  return health;
}

HealthState CompanionChecks::nativeHostHealth(const std::vector<std::string>& extensionIDs,
                                              const NativeHostInstaller& installer) const noexcept {
  std::string hostPath;
  try {
    hostPath = nativeHostExecutableURL();
  } catch (...) {
    return HealthState::missing;
  }
  switch (installer.installationState(hostPath, extensionIDs)) {
    case NativeHostInstallationState::missing:
      return systemManifestHealth(extensionIDs);
    case NativeHostInstallationState::installed:
      return HealthState::ready;
    case NativeHostInstallationState::stale:
    case NativeHostInstallationState::invalid:
      return HealthState::error;
  }
  return HealthState::error;
}

HealthState CompanionChecks::systemManifestHealth(
    const std::vector<std::string>& extensionIDs) const noexcept {
  // Read by the browser only when the user has no manifest of that name.
  return systemManifestServes(*fileSystem_, systemNativeHostsDirectory_, extensionIDs)
             ? HealthState::ready
             : HealthState::missing;
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
  return self.substr(0, self.rfind('/') + 1) + "vellora-native-host";
}

std::vector<std::string> CompanionChecks::resolveExtensionIDs() const {
  if (std::optional<std::string> id = nonEmptyVariable(environment_, "VELLORA_EXTENSION_ID")) {
    if (!isChromeExtensionID(*id)) throw CompanionInstallError::invalidExtensionID(*id);
    return {*id};
  }
  std::vector<std::string> ids = sampleExtensionIDs(std::nullopt);
  if (ids.empty()) throw CompanionInstallError(CompanionInstallError::Case::missingExtensionID);
  return ids;
}

NativeHostInstallOutcome CompanionChecks::performNativeHostInstall() const noexcept {
  std::vector<std::string> ids;
  try {
    ids = resolveExtensionIDs();
    const std::string hostPath = nativeHostExecutableURL();
    NativeHostInstaller(paths_, *fileSystem_).install(hostPath, ids);
  } catch (const std::exception& failure) {
    return NativeHostInstallOutcome::failure(failure.what());
  } catch (...) {
    return NativeHostInstallOutcome::failure("Vellora could not install the native host.");
  }
  return NativeHostInstallOutcome::success(computeHealth(ids));
}

}  // namespace vellora
