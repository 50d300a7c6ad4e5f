#include "VelloraCore/Chrome/AppPaths.h"

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {

namespace {

std::string appending(std::string directory, const char* component) {
  if (directory.empty() || directory.back() != '/') directory.push_back('/');
  return directory + component;
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string applicationSupport(const std::string& homeDirectory) {
  return appending(appending(withoutTrailingSlashes(homeDirectory), "Library"),
                   "Application Support");
}

}  // namespace

std::string chromeUserDataDirectory(const std::string& homeDirectory) {
  return appending(appending(applicationSupport(homeDirectory), "Google"), "Chrome");
}

AppPaths::AppPaths(const std::string& homeDirectory) {
  applicationSupportDirectory_ = appending(applicationSupport(homeDirectory), "Vellora");
  workspaceDirectory_ = appending(applicationSupportDirectory_, "workspace");
  chromeExtensionDirectory_ = appending(applicationSupportDirectory_, "Chrome Extension");
  chromeNativeHostsDirectory_ =
      appending(chromeUserDataDirectory(homeDirectory), "NativeMessagingHosts");
  nativeHostManifestURL_ = appending(chromeNativeHostsDirectory_, "com.vellora.companion.json");
}

void AppPaths::ensureApplicationDirectories(FileSystem& fileManager) const {
  fileManager.createDirectories(applicationSupportDirectory_);
  fileManager.createDirectories(workspaceDirectory_);
}

}  // namespace vellora
