#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "VelloraCore/Platform/Environment.h"

namespace vellora {

class FileSystem;

// Where one browser of the table (ChromeBrowser.h) keeps its profiles and reads user-level host
// manifests, in one layout.
struct ChromeBrowserPaths {
  // ChromeBrowser::id and ::name.
  std::string id;
  std::string name;
  // The browser's user data directory; the browser is present when it exists.
  std::string userDataDirectory;
  // userDataDirectory/NativeMessagingHosts
  std::string nativeHostsDirectory;
  // nativeHostsDirectory/com.vellora.companion.json
  std::string nativeHostManifestURL;

  friend bool operator==(const ChromeBrowserPaths&, const ChromeBrowserPaths&) = default;
};

// The directories and files that the host and the companion share. Two desktop layouts exist:
// the macOS one under ~/Library/Application Support, and the Linux one under the freedesktop
// data directory and the browsers' configuration base. Besides the system's own folders it
// names every browser's user data directory; the chrome* fields are Google Chrome's. A value
// only computes paths; ensureApplicationDirectories is the one operation that touches the disk.
//
//   AppPaths::macOSLayout("/Users/example").nativeHostManifestURL()
//     -> "/Users/example/Library/Application Support/Google/Chrome/NativeMessagingHosts/
//         com.vellora.companion.json"
//   AppPaths::linuxLayout("/home/example", {}).nativeHostManifestURL()
//     -> "/home/example/.config/google-chrome/NativeMessagingHosts/com.vellora.companion.json"
//
// Every path is absolute and has no trailing slash.
class AppPaths {
 public:
  // `homeDirectory` is an absolute path; a trailing slash is ignored.
  static AppPaths macOSLayout(const std::string& homeDirectory);
  // The data directory is $XDG_DATA_HOME/Vellora when XDG_DATA_HOME is absolute, else
  // HOME/.local/share/Vellora. Each browser's user data directory lies below the configuration
  // base, which is $CHROME_CONFIG_HOME when absolute, else $XDG_CONFIG_HOME when absolute, else
  // HOME/.config (so Google Chrome's is <base>/google-chrome). Relative or empty variables are
  // ignored.
  static AppPaths linuxLayout(const std::string& homeDirectory, const Environment& environment);
  // The layout of the platform this program was built for.
  static AppPaths platformLayout(const std::string& homeDirectory, const Environment& environment);

  // macOS: HOME/Library/Application Support/Vellora
  const std::string& applicationSupportDirectory() const noexcept {
    return applicationSupportDirectory_;
  }
  // applicationSupportDirectory()/workspace: Codex's working directory.
  const std::string& workspaceDirectory() const noexcept { return workspaceDirectory_; }
  // applicationSupportDirectory()/Chrome Extension: the copied extension.
  const std::string& chromeExtensionDirectory() const noexcept { return chromeExtensionDirectory_; }
  // Google Chrome's user data directory: browser("chrome")->userDataDirectory.
  // macOS: HOME/Library/Application Support/Google/Chrome
  const std::string& chromeUserDataDirectory() const noexcept { return chromeUserDataDirectory_; }
  // chromeUserDataDirectory()/NativeMessagingHosts
  const std::string& chromeNativeHostsDirectory() const noexcept {
    return chromeNativeHostsDirectory_;
  }
  // chromeNativeHostsDirectory()/com.vellora.companion.json
  const std::string& nativeHostManifestURL() const noexcept { return nativeHostManifestURL_; }

  // The browsers of the table that this layout knows (on Linux every one but Google Chrome
  // Canary), in table order; Google Chrome first.
  const std::vector<ChromeBrowserPaths>& browsers() const noexcept { return browsers_; }
  // The browser with this id, or nullptr when the layout has none.
  const ChromeBrowserPaths* browser(std::string_view id) const noexcept;

  // Creates applicationSupportDirectory and then workspaceDirectory, with any missing parents;
  // existing directories are fine. Stops at the first failure and rethrows the file system's
  // FileSystemError unchanged, keeping whatever was already created.
  void ensureApplicationDirectories(FileSystem& fileManager) const;

  friend bool operator==(const AppPaths&, const AppPaths&) = default;

 private:
  AppPaths(const std::string& dataParentDirectory, std::vector<ChromeBrowserPaths> browsers);

  std::string applicationSupportDirectory_;
  std::string workspaceDirectory_;
  std::string chromeExtensionDirectory_;
  std::string chromeUserDataDirectory_;
  std::string chromeNativeHostsDirectory_;
  std::string nativeHostManifestURL_;
  std::vector<ChromeBrowserPaths> browsers_;
};

}  // namespace vellora
