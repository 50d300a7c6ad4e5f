#pragma once

#include <string>

#include "VelloraCore/Platform/Environment.h"

namespace vellora {

// Codex's own folder, where it keeps its sign-in file (auth.json), its skills
// (skills, plugins/cache) and the images it saves (generated_images): CODEX_HOME from
// `environment` when it is an absolute path, without trailing slashes, else
// homeDirectory + "/.codex". Nothing is checked on disk.
//
//   CODEX_HOME=/data/codex/  -> /data/codex
//   CODEX_HOME=codex, "" or unset, HOME /Users/a  -> /Users/a/.codex
std::string codexHomeDirectory(const Environment& environment, const std::string& homeDirectory);

}  // namespace vellora
