#pragma once

#include <string>
#include <vector>

namespace vellora {

// The client's Chrome commands, for checking a machine without the companion. Each takes the
// words after its command name, prints results to standard output and problems to standard
// error, and returns the exit status: 0 done, 1 failed or nothing found, 2 bad arguments.
// Paths are those of the platform's layout for the current user's home directory ($HOME, else
// the password database).

// install [--extension-id ID]...
//   Writes the host manifest for the host executable at `hostExecutablePath` (absolute),
//   allowing each given ID, to Google Chrome's folder and every present browser; with no ID
//   given, allowing the IDs detected in the browsers' profiles, to Google Chrome's folder and
//   the browsers that hold the extension. Prints each manifest's path, in table order.
int runInstallCommand(const std::vector<std::string>& arguments,
                      const std::string& hostExecutablePath);

// detect [--chrome-directory DIR]
//   Prints one line per detected candidate, best first, fields separated by tabs:
//     <id>  profile=<name>  path=<path or ->  name=<name or ->  rank=<rank>  browser=<id>
//   Searches every browser's user data directory of the platform's layout, or only DIR (taken
//   as Google Chrome's).
int runDetectCommand(const std::vector<std::string>& arguments);

// paths
//   Prints where the system keeps its files for the current user, one location per line as
//   the field name, a space and the path:
//     applicationSupportDirectory /home/example/.local/share/Vellora
//     workspaceDirectory /home/example/.local/share/Vellora/workspace
//     chromeExtensionDirectory /home/example/.local/share/Vellora/Chrome Extension
//     chromeNativeHostsDirectory /home/example/.config/google-chrome/NativeMessagingHosts
//     nativeHostManifestURL /home/example/.config/google-chrome/NativeMessagingHosts/
//       com.vellora.companion.json (on one line)
//   then one line per browser of the layout, in table order:
//     nativeHostManifestURL.chromium /home/example/.config/chromium/NativeMessagingHosts/
//       com.vellora.companion.json (on one line)
//   A browser's user data directory, which Vellora only reads, is its hosts directory's parent.
int runPathsCommand(const std::vector<std::string>& arguments);

}  // namespace vellora
