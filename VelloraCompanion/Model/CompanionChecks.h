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
class ProcessLauncher;

// The extension as a detection found it (or as VELLORA_EXTENSION_ID gives it, in no browser).
struct DetectedExtensions {
  // The distinct IDs, ascending.
  std::vector<std::string> ids;
  // The browsers whose profiles hold it (ChromeBrowser::id), in table order.
  std::vector<std::string> browsers;
  friend bool operator==(const DetectedExtensions&, const DetectedExtensions&) = default;
};

// One present browser's side of the connection, as `vellora-client status` reports it.
struct BrowserConnection {
  std::string id;
  std::string name;
  bool hasExtension = false;
  // The manifest in the browser's folder: ready, missing or error (stale or invalid).
  HealthState manifest = HealthState::missing;
  friend bool operator==(const BrowserConnection&, const BrowserConnection&) = default;
};

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
  // The browsers' system-wide manifest folders are looked for under `root` (empty: the real
  // ones); tests point it at a scratch folder.
  void setSystemNativeHostsRoot(std::string root) { systemNativeHostsRoot_ = std::move(root); }

  // A refresh's whole measurement: sampleExtensions, refreshManifestIfNeeded, computeHealth.
  // Blocks for the samples (up to about 5 s, or 12 s when previouslyReady is set) and the
  // Codex probes. Never fails.
  CompanionHealth measureRefresh(std::optional<bool> previouslyReady) const noexcept;

  // One detection across every browser of the layout, without samples. Never fails.
  DetectedExtensions detectExtensions() const noexcept;
  // Samples every browser's profiles for the extension: 20 extra samples when previouslyReady
  // is nothing, 48 otherwise, kSampleIntervalSeconds apart. Never fails.
  DetectedExtensions sampleExtensions(std::optional<bool> previouslyReady) const noexcept;

  // The browsers of the layout whose user data directory exists, in table order.
  std::vector<ChromeBrowserPaths> presentBrowsers() const noexcept;
  // Where the manifest for `extensions` goes: Google Chrome's folder and every browser that
  // holds the extension, in table order; when no browser holds it (an ID from the
  // environment), Google Chrome's folder and every present browser.
  std::vector<ChromeBrowserPaths> manifestTargets(
      const DetectedExtensions& extensions) const noexcept;

  // Writes the manifest for the IDs in every target where it is not already installed for
  // them; does nothing for an empty list or when the host program cannot be located. Never
  // fails: a target that cannot be written is left as it is.
  void refreshManifestIfNeeded(const DetectedExtensions& extensions) const noexcept;

  // The six fields, measured in this order: nativeHost, extension (ready when the list is not
  // empty), codex, appServer (probe time-out 1 s), auth; companion is always ready.
  CompanionHealth computeHealth(const DetectedExtensions& extensions) const noexcept;

  // The same measurement from one detection without samples, with the 2 s probe and without
  // writing the manifest: for showing something before any check has finished.
  CompanionHealth currentHealth() const noexcept;

  // missing when the host program cannot be located; else the judgement of the manifest in
  // every browser that holds the extension (in Google Chrome's folder when none does), each
  // installed -> ready, missing -> missing, stale or invalid -> error, and together the worst
  // of them (error before missing before ready).
  HealthState nativeHostHealth(const DetectedExtensions& extensions) const noexcept;

  // Each present browser: whether it holds the extension and how its manifest stands.
  std::vector<BrowserConnection> browserConnections(
      const DetectedExtensions& extensions) const noexcept;
  // For a browser without a per-user manifest: ready when its system-wide manifest folder
  // (systemNativeHostsDirectory) starts an executable host for the extension IDs
  // (systemManifestServes), else missing.
  // The per-user manifest's judgement in `browser` (installed -> ready, stale or invalid ->
  // error), and systemManifestHealth where the user has none.
  HealthState browserManifestHealth(const ChromeBrowserPaths& browser, const std::string& hostPath,
                                    const std::vector<std::string>& extensionIDs) const;
  HealthState systemManifestHealth(const std::string& browserID,
                                   const std::vector<std::string>& extensionIDs) const noexcept;

  // VELLORA_NATIVE_HOST_PATH when set and not empty (unchecked), else "vellora-native-host"
  // beside the executable. Throws CompanionInstallError missingNativeHostExecutable when there
  // is no executable path.
  std::string nativeHostExecutableURL() const;

  // VELLORA_EXTENSION_ID when set and not empty, in no browser (throws CompanionInstallError
  // invalidExtensionID when it is not an extension ID), else the extension found by sampling
  // (20 samples, no previous state). Throws CompanionInstallError missingExtensionID when none
  // is found. Blocks for up to about 5 s.
  DetectedExtensions resolveExtensionIDs() const;

  // The repair: resolve the IDs, locate the host, install the manifest in every target (the
  // first failure ends the repair), measure the health. A failure of the first three steps
  // becomes a failure outcome with its description.
  NativeHostInstallOutcome performNativeHostInstall() const noexcept;

  static constexpr int kFirstSampleAttempts = 20;
  static constexpr int kFollowUpSampleAttempts = 48;
  static constexpr double kSampleIntervalSeconds = 0.25;
  static constexpr Seconds kRefreshProbeTimeout{1.0};
  static constexpr Seconds kCurrentHealthProbeTimeout{2.0};

 private:
  CompanionHealth measure(const DetectedExtensions& extensions,
                          Seconds probeTimeout) const noexcept;

  FileSystem* fileSystem_;
  ProcessLauncher* launcher_;
  Environment environment_;
  std::string homeDirectory_;
  AppPaths paths_;
  std::optional<std::string> executablePath_;
  ShellCodexPathResolver shellCodexPathResolver_;
  Sleep sleep_;
  std::string systemNativeHostsRoot_;
};

}  // namespace vellora
