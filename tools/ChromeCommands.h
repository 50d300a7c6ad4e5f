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
//   allowing each given ID, or, with none given, the IDs detected in Chrome's profiles. Prints
//   the manifest's path.
int runInstallCommand(const std::vector<std::string>& arguments,
                      const std::string& hostExecutablePath);

// detect [--chrome-directory DIR]
//   Prints one line per detected candidate, best first, fields separated by tabs:
//     <id>  profile=<name>  path=<path or ->  name=<name or ->  rank=<rank>
//   DIR defaults to Google Chrome's user data directory of the platform's layout.
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
//   Chrome's user data directory, which Vellora only reads, is the hosts directory's parent.
int runPathsCommand(const std::vector<std::string>& arguments);

}  // namespace vellora
