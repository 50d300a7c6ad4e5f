#pragma once

#include <string>
#include <vector>

namespace vellora {

// The companion's checks in the terminal, for machines without a desktop and for scripts. They
// measure and repair exactly as the companion does, with the host program expected beside
// `executablePath` (this program) unless VELLORA_NATIVE_HOST_PATH names it, and the platform's
// layout for the current user's home directory. Each prints results to standard output and
// problems to standard error and returns the exit status: 0 done, 1 failed, 2 bad arguments.

// status [--json]
//   Measures the health as a refresh does (waiting up to about 5 s for Chrome's profiles to
//   show the extension, and writing the host manifest when the extension is found but the
//   manifest is not current), then prints the six fields, the three setup steps and the
//   extension folder. With --json, one object:
//     {"health": {six fields}, "steps": [{"number", "title", "isComplete", "detail",
//      "actions": [titles]}], "extensionFolder": path or null}
int runStatusCommand(const std::vector<std::string>& arguments, const std::string& executablePath);

// fix
//   Repairs the browser connection as "Fix Browser Connection" does (VELLORA_EXTENSION_ID, else
//   the IDs detected in Chrome's profiles) and prints the health measured afterwards; on
//   failure prints the failure's text to standard error and returns 1.
int runFixCommand(const std::vector<std::string>& arguments, const std::string& executablePath);

}  // namespace vellora
