#pragma once

#include <optional>
#include <string>

#include "VelloraCore/Chrome/AppPaths.h"

namespace vellora {

class FileSystem;

// Returns the folder the user loads into Chrome.
//  - The packaged extension, `resourceDirectory`/extension with a manifest.json in it, is
//    copied to paths.chromeExtensionDirectory(), which is the result. The copy is made beside
//    the destination first and then moved into place, so an earlier copy stays whole until
//    the new one is complete.
//  - Otherwise `currentDirectory`/apps/extension/dist, when it holds manifest.json, is the
//    result and nothing is copied.
// Throws FileSystemError when the copy fails, else CompanionInstallError
// missingBundledExtension when neither folder exists.
std::string prepareExtensionFolder(FileSystem& fileSystem, const AppPaths& paths,
                                   const std::optional<std::string>& resourceDirectory,
                                   const std::string& currentDirectory);

// The folder the user would load, without copying anything: the companion's copy when it holds
// manifest.json, else the development folder under `currentDirectory`, else nothing.
std::optional<std::string> findExtensionFolder(const FileSystem& fileSystem, const AppPaths& paths,
                                               const std::string& currentDirectory) noexcept;

}  // namespace vellora
