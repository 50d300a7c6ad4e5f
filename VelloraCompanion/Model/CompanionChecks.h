#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCompanion/Model/NativeHostInstallOutcome.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/Clock.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

class FileSystem;
class NativeHostInstaller;
class ProcessLauncher;

// The companion's measurements and its repair, without any user interface: what the status
// worker queue runs, and what `vellora-client status` and `fix` run in the terminal. Every
// operation builds its collaborators anew and keeps nothing, so any thread may call it; the
// file system and the launcher must be usable from any thread and outlive this object.
class CompanionChecks {
 public:
  // Blocks the calling thread for the given seconds (the sampler's pause between samples).
  using Sleep = std::function<void(double seconds)>;

  // `executablePath` is the companion's (or the client's) own executable; the host program is
  // expected beside it. `paths` is the layout for `homeDirectory`.
  CompanionChecks(FileSystem& fileSystem, ProcessLauncher& launcher, Environment environment,
                  std::string homeDirectory, AppPaths paths,
                  std::optional<std::string> executablePath,
                  ShellCodexPathResolver shellCodexPathResolver, Sleep sleep);

  const AppPaths& paths() const noexcept { return paths_; }
  const std::optional<std::string>& executablePath() const noexcept { return executablePath_; }
  const Environment& environment() const noexcept { return environment_; }
  // The browser's system-wide manifest folder (chromeSystemNativeHostsDirectory); tests point
  // it elsewhere.
  void setSystemNativeHostsDirectory(std::string directory) {
    systemNativeHostsDirectory_ = std::move(directory);
  }

  // A refresh's whole measurement: sampleExtensionIDs, refreshManifestIfNeeded, computeHealth.
  // Blocks for the samples (up to about 5 s, or 12 s when previouslyReady is set) and the
  // Codex probes. Never fails.
  CompanionHealth measureRefresh(std::optional<bool> previouslyReady) const noexcept;

  // Samples Chrome's profiles for the extension: 20 extra samples when previouslyReady is
  // nothing, 48 otherwise, kSampleIntervalSeconds apart. Never fails.
  std::vector<std::string> sampleExtensionIDs(std::optional<bool> previouslyReady) const noexcept;

  // Writes the manifest for the given IDs when it is not already installed for them; does
  // nothing for an empty list or when the host program cannot be located. Never fails.
  void refreshManifestIfNeeded(const std::vector<std::string>& extensionIDs) const noexcept;

  // The six fields, measured in this order: nativeHost, extension (ready when the list is not
  // empty), codex, appServer (probe time-out 1 s), auth; companion is always ready.
  CompanionHealth computeHealth(const std::vector<std::string>& extensionIDs) const noexcept;

  // The same measurement from one detection without samples, with the 2 s probe and without
  // writing the manifest: for showing something before any check has finished.
  CompanionHealth currentHealth() const noexcept;

  // missing when the host program cannot be located; else the installer's judgement:
  // installed -> ready, stale or invalid -> error, missing -> systemManifestHealth.
  HealthState nativeHostHealth(const std::vector<std::string>& extensionIDs,
                               const NativeHostInstaller& installer) const noexcept;
  // For a browser without a per-user manifest: ready when its system-wide manifest starts an
  // executable host for the extension IDs (systemManifestServes), else missing.
  HealthState systemManifestHealth(const std::vector<std::string>& extensionIDs) const noexcept;

  // VELLORA_NATIVE_HOST_PATH when set and not empty (unchecked), else "vellora-native-host"
  // beside the executable. Throws CompanionInstallError missingNativeHostExecutable when there
  // is no executable path.
  std::string nativeHostExecutableURL() const;

  // VELLORA_EXTENSION_ID when set and not empty (throws CompanionInstallError
  // invalidExtensionID when it is not an extension ID), else the IDs found by sampling
  // (20 samples, no previous state). Throws CompanionInstallError missingExtensionID when none
  // is found. Blocks for up to about 5 s.
  std::vector<std::string> resolveExtensionIDs() const;

  // The repair: resolve the IDs, locate the host, install the manifest, measure the health.
  // A failure of the first three steps becomes a failure outcome with its description.
  NativeHostInstallOutcome performNativeHostInstall() const noexcept;

  static constexpr int kFirstSampleAttempts = 20;
  static constexpr int kFollowUpSampleAttempts = 48;
  static constexpr double kSampleIntervalSeconds = 0.25;
  static constexpr Seconds kRefreshProbeTimeout{1.0};
  static constexpr Seconds kCurrentHealthProbeTimeout{2.0};

 private:
  CompanionHealth measure(const std::vector<std::string>& extensionIDs,
                          Seconds probeTimeout) const noexcept;

  FileSystem* fileSystem_;
  ProcessLauncher* launcher_;
  Environment environment_;
  std::string homeDirectory_;
  AppPaths paths_;
  std::optional<std::string> executablePath_;
  ShellCodexPathResolver shellCodexPathResolver_;
  Sleep sleep_;
  std::string systemNativeHostsDirectory_;
};

}  // namespace vellora
