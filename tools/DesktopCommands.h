#pragma once

#include <string>
#include <vector>

namespace vellora {

// What the programs set up on the user's desktop, from the terminal. Each returns the exit
// status: 0 done, 1 failed, 2 bad arguments.

// autostart on|off|status
//   on: writes the XDG autostart entry (vellora-companion.desktop in $XDG_CONFIG_HOME/autostart,
//   else ~/.config/autostart) naming the companion beside `executablePath` (this program);
//   off: removes it; status: prints "on <entry>" or "off <entry>".
int runAutostartCommand(const std::vector<std::string>& arguments,
                        const std::string& executablePath);

// uninstall
//   Removes what the programs wrote for this user: the per-user host manifests that name our
//   host, and the autostart entry. Prints each path it removed. The data folder (Codex's
//   workspace and the extension copy) stays, and is named.
int runUninstallCommand(const std::vector<std::string>& arguments);

}  // namespace vellora
