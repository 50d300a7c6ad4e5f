#include "VelloraCore/Chrome/AppPaths.h"

#include <optional>

#include "VelloraCore/Chrome/ChromeBrowser.h"
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

// Every browser of the table that has a directory in this layout, below `base`.
std::vector<ChromeBrowserPaths> browsersBelow(const std::string& base,
                                              std::string_view ChromeBrowser::*directory) {
  std::vector<ChromeBrowserPaths> browsers;
  for (const ChromeBrowser& browser : chromeBrowsers()) {
    const std::string_view relative = browser.*directory;
    if (relative.empty()) continue;
    ChromeBrowserPaths paths;
    paths.id = browser.id;
    paths.name = browser.name;
    paths.userDataDirectory = appending(base, std::string(relative).c_str());
    paths.nativeHostsDirectory = appending(paths.userDataDirectory, "NativeMessagingHosts");
    paths.nativeHostManifestURL =
        appending(paths.nativeHostsDirectory, "com.vellora.companion.json");
    browsers.push_back(std::move(paths));
  }
  return browsers;
}

}  // namespace

AppPaths::AppPaths(const std::string& dataParentDirectory, std::vector<ChromeBrowserPaths> browsers)
    : applicationSupportDirectory_(appending(dataParentDirectory, "Vellora")),
      workspaceDirectory_(appending(applicationSupportDirectory_, "workspace")),
      chromeExtensionDirectory_(appending(applicationSupportDirectory_, "Chrome Extension")),
      chromeUserDataDirectory_(browsers.front().userDataDirectory),
      chromeNativeHostsDirectory_(browsers.front().nativeHostsDirectory),
      nativeHostManifestURL_(browsers.front().nativeHostManifestURL),
      browsers_(std::move(browsers)) {}

AppPaths AppPaths::macOSLayout(const std::string& homeDirectory) {
  const std::string applicationSupport =
      appending(appending(withoutTrailingSlashes(homeDirectory), "Library"), "Application Support");
  return AppPaths(applicationSupport,
                  browsersBelow(applicationSupport, &ChromeBrowser::macOSDirectory));
}

AppPaths AppPaths::linuxLayout(const std::string& homeDirectory, const Environment& environment) {
  const std::string home = withoutTrailingSlashes(homeDirectory);
  const std::string dataHome = absoluteVariable(environment, "XDG_DATA_HOME")
                                   .value_or(appending(appending(home, ".local"), "share"));
  // Chromium's own rule: CHROME_CONFIG_HOME stands in for ~/.config, it is not itself a
  // browser's folder.
  const std::string configBase = absoluteVariable(environment, "CHROME_CONFIG_HOME")
                                     .value_or(absoluteVariable(environment, "XDG_CONFIG_HOME")
                                                   .value_or(appending(home, ".config")));
  return AppPaths(dataHome, browsersBelow(configBase, &ChromeBrowser::linuxDirectory));
}

const ChromeBrowserPaths* AppPaths::browser(std::string_view id) const noexcept {
  for (const ChromeBrowserPaths& browser : browsers_) {
    if (browser.id == id) return &browser;
  }
  return nullptr;
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
