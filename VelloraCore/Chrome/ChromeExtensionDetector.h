#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Chrome/ChromeExtensionCandidate.h"
#include "VelloraCore/Chrome/ChromeExtensionFolders.h"

namespace vellora {

class FileSystem;

// Finds the system's own extension in the profiles of a Chrome user data directory by reading
// each profile's "Secure Preferences" and "Preferences". Reads only; nothing is cached, so
// every call lists and reads everything again. Holds no mutable state: any thread may use it.
// The file system must outlive it.
class ChromeExtensionDetector {
 public:
  // `chromeDirectory` is Chrome's user data directory; the companion and the client pass
  // AppPaths::chromeUserDataDirectory(). The extension is recognised by the folders of the
  // platform's layout, or of `folders` when given.
  ChromeExtensionDetector(std::string chromeDirectory, const FileSystem& fileManager);
  ChromeExtensionDetector(std::string chromeDirectory, const FileSystem& fileManager,
                          ChromeExtensionFolders folders);

  const std::string& chromeDirectory() const noexcept { return chromeDirectory_; }
  const ChromeExtensionFolders& folders() const noexcept { return folders_; }

  // The entries that are recognisably the system's extension, by ascending rank; entries of
  // equal rank keep their discovery order (profiles in listing order, "Secure Preferences"
  // before "Preferences"). An extension found in two files or profiles appears once for each.
  // Anything that cannot be listed, read or parsed contributes nothing; an empty result means
  // no profile holds the extension.
  std::vector<ChromeExtensionCandidate> detectVelloraExtensions() const noexcept;
  // The distinct IDs of detectVelloraExtensions(), in ascending byte order.
  std::vector<std::string> detectVelloraExtensionIDs() const noexcept;

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

  std::string chromeDirectory_;
  const FileSystem* fileManager_;
  ChromeExtensionFolders folders_;
};

}  // namespace vellora
