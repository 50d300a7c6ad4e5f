#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vellora {

class FileSystem;

// Host manifests that an administrator or a system package put in a browser's system-wide
// folder. The browser reads the user's own manifest first and the system one only when the user
// has none of that name, so a system manifest counts only for a browser without a per-user one.

// The system-wide host manifest folder of the browser with table id `browserID`, or empty for a
// browser we know none for. Linux: /etc/opt/chrome/native-messaging-hosts for Google Chrome and
// its channels, /etc/chromium/native-messaging-hosts, /etc/opt/edge/native-messaging-hosts.
// macOS: /Library/Google/Chrome/NativeMessagingHosts for Google Chrome.
std::string_view systemNativeHostsDirectory(std::string_view browserID) noexcept;

// Whether `directory`/com.vellora.companion.json is a manifest for our host name, of type
// stdio, whose path is an executable file and whose origins include every ID given. False for a
// missing, unreadable or malformed file.
bool systemManifestServes(const FileSystem& fileSystem, const std::string& directory,
                          const std::vector<std::string>& extensionIDs) noexcept;

}  // namespace vellora
