#include "VelloraCore/Discovery/CodexHomeDirectory.h"

#include "VelloraCore/Discovery/CodexInstallDirectories.h"

namespace vellora {

std::string codexHomeDirectory(const Environment& environment, const std::string& homeDirectory) {
  // Codex itself reads CODEX_HOME; a relative one would depend on the working directory of
  // whoever started us, which is not the child's, so only an absolute one is taken.
  const auto variable = environment.find("CODEX_HOME");
  if (variable != environment.end() && variable->second.starts_with('/')) {
    return withoutTrailingSlashes(variable->second);
  }
  return withoutTrailingSlashes(homeDirectory) + "/.codex";
}

}  // namespace vellora
