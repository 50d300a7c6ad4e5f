#include "tools/DesktopCommands.h"

#include <iostream>
#include <optional>

#include "VelloraCompanion/Model/Autostart.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/HomeDirectory.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr std::size_t kManifestLimit = 1 << 20;

// The companion that belongs to this client: beside it when installed, else where the build
// tree puts it.
std::optional<std::string> companionBeside(const FileSystem& fileSystem,
                                           const std::string& executablePath) {
  const std::string directory = executablePath.substr(0, executablePath.rfind('/') + 1);
  for (const std::string& candidate :
       {directory + "VelloraCompanion", directory + "../VelloraCompanion/Qt/VelloraCompanion"}) {
    if (fileSystem.isExecutableFile(candidate)) return fileSystem.resolvingSymlinks(candidate);
  }
  return std::nullopt;
}

// The per-user host manifests the programs write for this user: one in each browser's folder.
std::vector<std::string> perUserManifests(const AppPaths& paths) {
  std::vector<std::string> manifests;
  for (const ChromeBrowserPaths& browser : paths.browsers()) {
    manifests.push_back(browser.nativeHostManifestURL);
  }
  return manifests;
}

// Whether the file at `path` is a host manifest for our host's name (a file of another
// program that happens to lie there stays).
bool namesOurHost(const FileSystem& fileSystem, const std::string& path) {
  try {
    const std::optional<NativeHostManifest> manifest =
        NativeHostManifest::fromJSON(JSONValue::parse(fileSystem.readFile(path, kManifestLimit)));
    return manifest && manifest->name == NativeHostManifest::hostName;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

int runAutostartCommand(const std::vector<std::string>& arguments,
                        const std::string& executablePath) {
  if (arguments.size() != 1 ||
      (arguments[0] != "on" && arguments[0] != "off" && arguments[0] != "status")) {
    std::cerr << "usage: autostart on|off|status\n";
    return kUsage;
  }
  const Environment environment = currentProcessEnvironment();
  const std::string home = currentHomeDirectory(environment);
  if (home.empty()) {
    std::cerr << "Could not find the home directory.\n";
    return kFailed;
  }
  auto fileSystem = makePosixFileSystem();
  Autostart autostart(*fileSystem, home, environment);
  try {
    if (arguments[0] == "on") {
      const std::optional<std::string> companion = companionBeside(*fileSystem, executablePath);
      if (!companion) {
        std::cerr << "The companion VelloraCompanion was not found beside " << executablePath
                  << ".\n";
        return kFailed;
      }
      autostart.enable(*companion);
    } else if (arguments[0] == "off") {
      autostart.disable();
    }
  } catch (const std::exception& failure) {
    std::cerr << failure.what() << "\n";
    return kFailed;
  }
  std::cout << (autostart.isEnabled() ? "on " : "off ") << autostart.path() << "\n";
  return 0;
}

int runUninstallCommand(const std::vector<std::string>& arguments) {
  if (!arguments.empty()) {
    std::cerr << "usage: uninstall\n";
    return kUsage;
  }
  const Environment environment = currentProcessEnvironment();
  const std::string home = currentHomeDirectory(environment);
  if (home.empty()) {
    std::cerr << "Could not find the home directory.\n";
    return kFailed;
  }
  auto fileSystem = makePosixFileSystem();
  const AppPaths paths = AppPaths::platformLayout(home, environment);
  int status = 0;
  auto remove = [&](const std::string& path) {
    try {
      fileSystem->removeTree(path);
      std::cout << "removed " << path << "\n";
    } catch (const std::exception& failure) {
      std::cerr << failure.what() << "\n";
      status = kFailed;
    }
  };
  for (const std::string& manifest : perUserManifests(paths)) {
    if (fileSystem->fileExists(manifest) && namesOurHost(*fileSystem, manifest)) remove(manifest);
  }
  Autostart autostart(*fileSystem, home, environment);
  if (autostart.isEnabled()) remove(autostart.path());
  std::cout << "kept " << paths.applicationSupportDirectory()
            << " (Codex's workspace and the extension copy)\n";
  return status;
}

}  // namespace vellora
