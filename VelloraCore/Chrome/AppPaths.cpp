#include "VelloraCore/Chrome/AppPaths.h"

#include <optional>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {

namespace {

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string appending(std::string directory, const char* component) {
  if (directory.empty() || directory.back() != '/') directory.push_back('/');
  return directory + component;
}

// The variable's value when it is an absolute path; a relative one is ignored, as the
// freedesktop base directory rules ask.
std::optional<std::string> absoluteVariable(const Environment& environment, const char* name) {
  auto found = environment.find(name);
  if (found == environment.end() || found->second.empty() || found->second.front() != '/') {
    return std::nullopt;
  }
  return withoutTrailingSlashes(found->second);
}

}  // namespace

AppPaths::AppPaths(const std::string& dataParentDirectory,
                   const std::string& chromeUserDataDirectory)
    : applicationSupportDirectory_(appending(dataParentDirectory, "Vellora")),
      workspaceDirectory_(appending(applicationSupportDirectory_, "workspace")),
      chromeExtensionDirectory_(appending(applicationSupportDirectory_, "Chrome Extension")),
      chromeUserDataDirectory_(chromeUserDataDirectory),
      chromeNativeHostsDirectory_(appending(chromeUserDataDirectory_, "NativeMessagingHosts")),
      nativeHostManifestURL_(appending(chromeNativeHostsDirectory_, "com.vellora.companion.json")) {
}

AppPaths AppPaths::macOSLayout(const std::string& homeDirectory) {
  const std::string applicationSupport =
      appending(appending(withoutTrailingSlashes(homeDirectory), "Library"), "Application Support");
  return AppPaths(applicationSupport, appending(appending(applicationSupport, "Google"), "Chrome"));
}

AppPaths AppPaths::linuxLayout(const std::string& homeDirectory, const Environment& environment) {
  const std::string home = withoutTrailingSlashes(homeDirectory);
  const std::string dataHome = absoluteVariable(environment, "XDG_DATA_HOME")
                                   .value_or(appending(appending(home, ".local"), "share"));
  std::string chromeDirectory;
  if (auto chromeConfigHome = absoluteVariable(environment, "CHROME_CONFIG_HOME")) {
    chromeDirectory = *chromeConfigHome;
  } else {
    chromeDirectory = appending(
        absoluteVariable(environment, "XDG_CONFIG_HOME").value_or(appending(home, ".config")),
        "google-chrome");
  }
  return AppPaths(dataHome, chromeDirectory);
}

AppPaths AppPaths::platformLayout(const std::string& homeDirectory,
                                  const Environment& environment) {
#if defined(__APPLE__)
  (void)environment;
  return macOSLayout(homeDirectory);
#else
  return linuxLayout(homeDirectory, environment);
#endif
}

void AppPaths::ensureApplicationDirectories(FileSystem& fileManager) const {
  fileManager.createDirectories(applicationSupportDirectory_);
  fileManager.createDirectories(workspaceDirectory_);
}

}  // namespace vellora
