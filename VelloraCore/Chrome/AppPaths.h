#pragma once

#include <string>

namespace vellora {

class FileSystem;

// The directories and files that the host and the companion share, all under the user's home
// directory in the macOS layout (also on other platforms). Built from a home directory, it only
// computes paths; ensureApplicationDirectories is the one operation that touches the disk.
//
//   AppPaths("/Users/example").nativeHostManifestURL()
//     -> "/Users/example/Library/Application Support/Google/Chrome/NativeMessagingHosts/
//         com.vellora.companion.json"
//
// Every path is absolute and has no trailing slash.
class AppPaths {
 public:
  // `homeDirectory` is an absolute path; a trailing slash is ignored.
  explicit AppPaths(const std::string& homeDirectory);

  // HOME/Library/Application Support/Vellora
  const std::string& applicationSupportDirectory() const noexcept {
    return applicationSupportDirectory_;
  }
  // HOME/Library/Application Support/Vellora/workspace: Codex's working directory.
  const std::string& workspaceDirectory() const noexcept { return workspaceDirectory_; }
  // HOME/Library/Application Support/Vellora/Chrome Extension: the copied extension.
  const std::string& chromeExtensionDirectory() const noexcept { return chromeExtensionDirectory_; }
  // HOME/Library/Application Support/Google/Chrome/NativeMessagingHosts
  const std::string& chromeNativeHostsDirectory() const noexcept {
    return chromeNativeHostsDirectory_;
  }
  // chromeNativeHostsDirectory()/com.vellora.companion.json
  const std::string& nativeHostManifestURL() const noexcept { return nativeHostManifestURL_; }

  // Creates applicationSupportDirectory and then workspaceDirectory, with any missing parents;
  // existing directories are fine. Stops at the first failure and rethrows the file system's
  // FileSystemError unchanged, keeping whatever was already created.
  void ensureApplicationDirectories(FileSystem& fileManager) const;

  friend bool operator==(const AppPaths&, const AppPaths&) = default;

 private:
  std::string applicationSupportDirectory_;
  std::string workspaceDirectory_;
  std::string chromeExtensionDirectory_;
  std::string chromeNativeHostsDirectory_;
  std::string nativeHostManifestURL_;
};

// Chrome's user data directory, whose profiles the extension detector reads:
// HOME/Library/Application Support/Google/Chrome (no trailing slash; a trailing slash of
// `homeDirectory` is ignored).
std::string chromeUserDataDirectory(const std::string& homeDirectory);

}  // namespace vellora
