#pragma once

#include <string>
#include <vector>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/NativeHostInstallationState.h"

namespace vellora {

class FileSystem;

// Writes and judges the host manifest in one browser's NativeMessagingHosts directory: Google
// Chrome's (paths.nativeHostManifestURL()) or the given browser's. Holds no state of its own
// besides its collaborators; the file system must outlive it.
class NativeHostInstaller {
 public:
  NativeHostInstaller(const AppPaths& paths, FileSystem& fileManager);
  NativeHostInstaller(const ChromeBrowserPaths& browser, FileSystem& fileManager);

  // Where the manifest is written and judged.
  const std::string& manifestPath() const noexcept { return manifestPath_; }

  // Writes the manifest for the host executable at `hostPath` (an absolute path) that allows
  // the given extension IDs, replacing any earlier manifest, and returns the manifest's path.
  // The file is replaced atomically: readers see the old manifest or the new one, never part of
  // one. Throws, in this order of checks and with nothing written on failure:
  //   NativeHostInstallerError missingExtensionID  when the ID list is empty;
  //   NativeHostInstallerError hostNotExecutable   when hostPath is not an absolute path to an
  //                                                executable file;
  //   FileSystemError                              when the hosts directory cannot be created
  //                                                or the file cannot be written;
  //   JSONError                                    when the manifest cannot be encoded.
  std::string install(const std::string& hostPath,
                      const std::vector<std::string>& allowedExtensionIDs);

  // missing, invalid, stale or installed. Installed needs name "com.vellora.companion", type
  // "stdio", a path that is hostPath, or names the same file once symbolic links are resolved
  // in both, and every given ID's origin among the file's origins (extra origins, order and
  // duplicates do not matter; an empty list asks for none).
  NativeHostInstallationState installationState(
      const std::string& hostPath,
      const std::vector<std::string>& allowedExtensionIDs) const noexcept;

  // installationState(...) == installed
  bool isInstalled(const std::string& hostPath,
                   const std::vector<std::string>& allowedExtensionIDs) const noexcept;
  // Whether anything exists at the manifest's location, whatever it holds.
  bool isInstalled() const noexcept;

  // A manifest file larger than this is judged invalid without being read.
  static constexpr std::size_t kMaxManifestBytes = 1 << 20;

 private:
  std::string hostsDirectory_;
  std::string manifestPath_;
  FileSystem* fileManager_;
};

}  // namespace vellora
