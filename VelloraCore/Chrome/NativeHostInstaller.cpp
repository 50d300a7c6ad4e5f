#include "VelloraCore/Chrome/NativeHostInstaller.h"

#include <set>

#include "VelloraCore/Chrome/NativeHostInstallerError.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {

NativeHostInstaller::NativeHostInstaller(AppPaths paths, FileSystem& fileManager)
    : paths_(std::move(paths)), fileManager_(&fileManager) {}

std::string NativeHostInstaller::install(const std::string& hostPath,
                                         const std::vector<std::string>& allowedExtensionIDs) {
  if (allowedExtensionIDs.empty()) throw NativeHostInstallerError::missingExtensionID();
  // Chrome only starts a host named by an absolute path; a relative one would also be judged
  // against the current directory here rather than where Chrome looks.
  if (hostPath.empty() || hostPath.front() != '/' || !fileManager_->isExecutableFile(hostPath)) {
    throw NativeHostInstallerError::hostNotExecutable(hostPath);
  }
  fileManager_->createDirectories(paths_.chromeNativeHostsDirectory());
  const std::string data = NativeHostManifest(hostPath, allowedExtensionIDs).encodedData();
  fileManager_->writeFileAtomically(paths_.nativeHostManifestURL(), data);
  return paths_.nativeHostManifestURL();
}

NativeHostInstallationState NativeHostInstaller::installationState(
    const std::string& hostPath,
    const std::vector<std::string>& allowedExtensionIDs) const noexcept {
  const std::string& location = paths_.nativeHostManifestURL();
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
    const bool current = manifest->name == NativeHostManifest::hostName &&
                         manifest->type == "stdio" && manifest->path == hostPath &&
                         originsAcceptable;
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
  return fileManager_->fileExists(paths_.nativeHostManifestURL());
}

}  // namespace vellora
