#include "tests/support/Chromium.h"

#include <cstdlib>
#include <sstream>

#include "VelloraCore/Platform/FileSystem.h"

namespace vellora::test {

std::optional<std::string> findChromium(const FileSystem& fileSystem) {
  if (fileSystem.isExecutableFile("/usr/bin/chromium")) return "/usr/bin/chromium";
  const char* path = std::getenv("PATH");
  std::istringstream directories(path ? path : "");
  for (std::string directory; std::getline(directories, directory, ':');) {
    if (directory.empty()) continue;
    const std::string candidate = directory + "/chromium";
    if (fileSystem.isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

std::vector<std::string> chromiumArguments(const std::string& userDataDirectory,
                                           const std::vector<std::string>& extensionFolders) {
  std::string extensions;
  for (const std::string& folder : extensionFolders) {
    if (!extensions.empty()) extensions += ",";
    extensions += folder;
  }
  return {"--headless",
          "--no-sandbox",
          "--disable-gpu",
          "--disable-quic",
          "--no-first-run",
          "--disable-background-networking",
          "--disable-component-update",
          "--disable-sync",
          "--user-data-dir=" + userDataDirectory,
          "--load-extension=" + extensions};
}

}  // namespace vellora::test
