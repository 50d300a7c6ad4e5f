#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Chrome/ChromeExtensionCandidate.h"
#include "VelloraCore/Chrome/ChromeExtensionFolders.h"

namespace vellora {

class AppPaths;
class FileSystem;

// One browser's user data directory, to be searched for profiles.
struct ChromeUserDataDirectory {
  // ChromeBrowser::id, recorded in every candidate found there.
  std::string browser;
  std::string path;
  friend bool operator==(const ChromeUserDataDirectory&, const ChromeUserDataDirectory&) = default;
};

// Finds the system's own extension in the profiles of browsers' user data directories by
// reading each profile's "Secure Preferences" and "Preferences". Reads only; nothing is cached,
// so every call lists and reads everything again. A directory that does not exist (a browser
// that is not present) contributes nothing. Holds no mutable state: any thread may use it. The
// file system must outlive it.
class ChromeExtensionDetector {
 public:
  // Every browser of the layout, in table order; the folders of the platform's layout.
  static ChromeExtensionDetector forBrowsers(const AppPaths& paths, const FileSystem& fileManager);

  // One directory, taken as Google Chrome's. The extension is recognised by the folders of the
  // platform's layout, or of `folders` when given.
  ChromeExtensionDetector(std::string chromeDirectory, const FileSystem& fileManager);
  ChromeExtensionDetector(std::string chromeDirectory, const FileSystem& fileManager,
                          ChromeExtensionFolders folders);
  // The directories in the order they are searched.
  ChromeExtensionDetector(std::vector<ChromeUserDataDirectory> directories,
                          const FileSystem& fileManager, ChromeExtensionFolders folders);

  // The first directory searched.
  const std::string& chromeDirectory() const noexcept { return directories_.front().path; }
  const std::vector<ChromeUserDataDirectory>& directories() const noexcept { return directories_; }
  const ChromeExtensionFolders& folders() const noexcept { return folders_; }

  // The entries that are recognisably the system's extension, by ascending rank; entries of
  // equal rank keep their discovery order (directories in the given order, profiles in listing
  // order, "Secure Preferences" before "Preferences"), so a tie goes to the earlier browser. An
  // extension found in two files, profiles or browsers appears once for each. Anything that
  // cannot be listed, read or parsed contributes nothing; an empty result means no profile
  // holds the extension.
  std::vector<ChromeExtensionCandidate> detectVelloraExtensions() const noexcept;
  // The distinct IDs of detectVelloraExtensions(), in ascending byte order.
  std::vector<std::string> detectVelloraExtensionIDs() const noexcept;
  // The distinct browsers of `candidates`, in the order of directories().
  std::vector<std::string> browsersOf(
      const std::vector<ChromeExtensionCandidate>& candidates) const noexcept;

  // The rank of a candidate that is the system's extension (0 is best), or nothing for one that
  // is not. On the Unicode-lower-cased path, "ends with P or contains P/" for the folders P of
  // `folders` (ChromeExtensionFolders.h), tried in this order:
  //   folders.bundled                                              -> 0
  //   folders.copied                                               -> 1
  //   folders.built                                                -> 2
  //   any other path and a name equal to "Vellora" ignoring case   -> 3
  //   no path and a name equal to "Vellora" ignoring case          -> 2
  static std::optional<int> rank(
      const ChromeExtensionCandidate& candidate,
      const ChromeExtensionFolders& folders = ChromeExtensionFolders::platformLayout()) noexcept;

  // A profile file larger than this contributes nothing.
  static constexpr std::size_t kMaxProfileFileBytes = std::size_t{64} << 20;
  // An extension's manifest.json larger than this gives no name.
  static constexpr std::size_t kMaxExtensionManifestBytes = std::size_t{1} << 20;

 private:
  std::vector<ChromeExtensionCandidate> candidatesOfFile(const std::string& filePath,
                                                         const std::string& profileName) const;

  std::vector<ChromeUserDataDirectory> directories_;
  const FileSystem* fileManager_;
  ChromeExtensionFolders folders_;
};

}  // namespace vellora
