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
//   Measures the health as a refresh does (VELLORA_EXTENSION_ID when set, else waiting up to
//   about 5 s for the browsers' profiles to show the extension) but writes nothing: a manifest
//   that a refresh would repair shows as missing or error. Prints the six fields, each present
//   browser, the three setup steps and the extension folder. Returns 0 when every field is
//   ready and 1 otherwise. With --json, one object:
//     {"health": {six fields}, "browsers": [{"id", "name", "hasExtension", "manifest"}],
//      "steps": [{"number", "title", "isComplete", "detail", "actions": [titles]}],
//      "extensionFolder": path or null}
//   where "manifest" is "ready", "missing" or "error".
int runStatusCommand(const std::vector<std::string>& arguments, const std::string& executablePath);

// fix
//   Repairs the browser connection as "Fix Browser Connection" does (VELLORA_EXTENSION_ID, else
//   the IDs detected in the browsers' profiles), prints one line per browser it set up,
//   "<Name>: <manifest path>", then the health measured afterwards; on failure prints the
//   failure's text to standard error and returns 1.
int runFixCommand(const std::vector<std::string>& arguments, const std::string& executablePath);

}  // namespace vellora
