#include "VelloraCore/Chrome/SystemHostManifest.h"

#include <algorithm>
#include <optional>

#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

namespace {

constexpr std::size_t kMaxManifestBytes = 1 << 20;

}  // namespace

std::string_view systemNativeHostsDirectory(std::string_view browserID) noexcept {
#if defined(__APPLE__)
  if (browserID == "chrome") return "/Library/Google/Chrome/NativeMessagingHosts";
#else
  if (browserID == "chrome" || browserID == "chrome-beta" || browserID == "chrome-dev") {
    return "/etc/opt/chrome/native-messaging-hosts";
  }
  if (browserID == "chromium") return "/etc/chromium/native-messaging-hosts";
  if (browserID == "edge") return "/etc/opt/edge/native-messaging-hosts";
#endif
  return {};
}

bool systemManifestServes(const FileSystem& fileSystem, const std::string& directory,
                          const std::vector<std::string>& extensionIDs) noexcept {
  try {
    const std::string location =
        directory + "/" + std::string(NativeHostManifest::hostName) + ".json";
    if (!fileSystem.isRegularFile(location)) return false;
    const std::optional<NativeHostManifest> manifest = NativeHostManifest::fromJSON(
        JSONValue::parse(fileSystem.readFile(location, kMaxManifestBytes)));
    if (!manifest || manifest->name != NativeHostManifest::hostName || manifest->type != "stdio" ||
        !fileSystem.isExecutableFile(manifest->path)) {
      return false;
    }
    return std::all_of(extensionIDs.begin(), extensionIDs.end(), [&](const std::string& id) {
      return std::find(manifest->allowedOrigins.begin(), manifest->allowedOrigins.end(),
                       NativeHostManifest::origin(id)) != manifest->allowedOrigins.end();
    });
  } catch (...) {
    return false;
  }
}

}  // namespace vellora
