#include "VelloraCore/Chrome/NativeHostInstaller.h"

#include <set>

#include "VelloraCore/Chrome/NativeHostInstallerError.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {

NativeHostInstaller::NativeHostInstaller(const AppPaths& paths, FileSystem& fileManager)
    : hostsDirectory_(paths.chromeNativeHostsDirectory()),
      manifestPath_(paths.nativeHostManifestURL()),
      fileManager_(&fileManager) {}

NativeHostInstaller::NativeHostInstaller(const ChromeBrowserPaths& browser, FileSystem& fileManager)
    : hostsDirectory_(browser.nativeHostsDirectory),
      manifestPath_(browser.nativeHostManifestURL),
      fileManager_(&fileManager) {}

std::string NativeHostInstaller::install(const std::string& hostPath,
                                         const std::vector<std::string>& allowedExtensionIDs) {
  if (allowedExtensionIDs.empty()) throw NativeHostInstallerError::missingExtensionID();
  // Chrome only starts a host named by an absolute path; a relative one would also be judged
  // against the current directory here rather than where Chrome looks.
  if (hostPath.empty() || hostPath.front() != '/' || !fileManager_->isExecutableFile(hostPath)) {
    throw NativeHostInstallerError::hostNotExecutable(hostPath);
  }
  fileManager_->createDirectories(hostsDirectory_);
  const std::string data = NativeHostManifest(hostPath, allowedExtensionIDs).encodedData();
  fileManager_->writeFileAtomically(manifestPath_, data);
  return manifestPath_;
}

NativeHostInstallationState NativeHostInstaller::installationState(
    const std::string& hostPath,
    const std::vector<std::string>& allowedExtensionIDs) const noexcept {
  const std::string& location = manifestPath_;
  if (!fileManager_->fileExists(location)) return NativeHostInstallationState::missing;
  try {
    std::optional<NativeHostManifest> manifest = NativeHostManifest::fromJSON(
        JSONValue::parse(fileManager_->readFile(location, kMaxManifestBytes)));
    if (!manifest) return NativeHostInstallationState::invalid;

    const std::set<std::string, std::less<>> origins(manifest->allowedOrigins.begin(),
                                                     manifest->allowedOrigins.end());
    bool originsAcceptable = true;
    for (const std::string& id : allowedExtensionIDs) {
      if (!origins.contains(NativeHostManifest::origin(id))) originsAcceptable = false;
    }
    // A manifest written with the resolved host path still starts the host that a link
    // (such as the one beside the terminal client) names, and the other way round. Chrome
    // reads a relative path against nothing of ours, so only absolute ones are resolved.
    const bool sameHost = manifest->path == hostPath ||
                          (manifest->path.starts_with('/') && hostPath.starts_with('/') &&
                           fileManager_->resolvingSymlinks(manifest->path) ==
                               fileManager_->resolvingSymlinks(hostPath));
    const bool current = manifest->name == NativeHostManifest::hostName &&
                         manifest->type == "stdio" && sameHost && originsAcceptable;
    return current ? NativeHostInstallationState::installed : NativeHostInstallationState::stale;
  } catch (...) {
    // Unreadable, too large or not JSON.
    return NativeHostInstallationState::invalid;
  }
}

bool NativeHostInstaller::isInstalled(
    const std::string& hostPath,
    const std::vector<std::string>& allowedExtensionIDs) const noexcept {
  return installationState(hostPath, allowedExtensionIDs) == NativeHostInstallationState::installed;
}

bool NativeHostInstaller::isInstalled() const noexcept {
  return fileManager_->fileExists(manifestPath_);
}

}  // namespace vellora
