#include "VelloraCompanion/Model/ExtensionFolder.h"

#include "VelloraCompanion/Model/CompanionInstallError.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/RandomUUID.h"

namespace vellora {

namespace {

std::optional<std::string> folderWithManifest(const FileSystem& fileSystem,
                                              const std::string& folder) {
  if (!fileSystem.isRegularFile(folder + "/manifest.json")) return std::nullopt;
  return folder;
}

std::optional<std::string> developmentFolder(const FileSystem& fileSystem,
                                             const std::string& currentDirectory) {
  if (currentDirectory.empty()) return std::nullopt;
  return folderWithManifest(fileSystem, currentDirectory + "/apps/extension/dist");
}

// Removes `path`, swallowing a failure: used only to clean up after another failure or after
// the new copy is already in place.
void removeQuietly(FileSystem& fileSystem, const std::string& path) noexcept {
  try {
    fileSystem.removeTree(path);
  } catch (...) {
  }
}

// Copies `source` to `destination` without ever leaving `destination` partly copied: the copy is
// made in a sibling folder and moved into place, and an earlier copy is moved aside only once
// the new one is whole.
void replaceWithCopy(FileSystem& fileSystem, const std::string& source,
                     const std::string& destination) {
  const std::string suffix = newRandomUUIDText();
  const std::string incoming = destination + ".incoming-" + suffix;
  const std::string previous = destination + ".previous-" + suffix;
  try {
    fileSystem.copyTree(source, incoming);
  } catch (...) {
    removeQuietly(fileSystem, incoming);
    throw;
  }
  const bool hadPrevious = fileSystem.fileExists(destination);
  try {
    if (hadPrevious) fileSystem.moveItem(destination, previous);
  } catch (...) {
    removeQuietly(fileSystem, incoming);
    throw;
  }
  try {
    fileSystem.moveItem(incoming, destination);
  } catch (...) {
    if (hadPrevious) {
      try {
        fileSystem.moveItem(previous, destination);
      } catch (...) {
      }
    }
    removeQuietly(fileSystem, incoming);
    throw;
  }
  if (hadPrevious) removeQuietly(fileSystem, previous);
}

}  // namespace

std::string prepareExtensionFolder(FileSystem& fileSystem, const AppPaths& paths,
                                   const std::optional<std::string>& resourceDirectory,
                                   const std::string& currentDirectory) {
  std::optional<std::string> packaged;
  if (resourceDirectory && !resourceDirectory->empty()) {
    packaged = folderWithManifest(fileSystem, *resourceDirectory + "/extension");
  }
  if (packaged) {
    const std::string& destination = paths.chromeExtensionDirectory();
    // The data directory holds the extension folder.
    fileSystem.createDirectories(paths.applicationSupportDirectory());
    replaceWithCopy(fileSystem, *packaged, destination);
    return destination;
  }
  if (std::optional<std::string> development = developmentFolder(fileSystem, currentDirectory)) {
    return *development;
  }
  throw CompanionInstallError(CompanionInstallError::Case::missingBundledExtension);
}

std::optional<std::string> findExtensionFolder(const FileSystem& fileSystem, const AppPaths& paths,
                                               const std::string& currentDirectory) noexcept {
  try {
    if (auto copied = folderWithManifest(fileSystem, paths.chromeExtensionDirectory())) {
      return copied;
    }
    return developmentFolder(fileSystem, currentDirectory);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace vellora
