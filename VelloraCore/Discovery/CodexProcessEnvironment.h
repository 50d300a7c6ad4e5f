#pragma once

#include <string>
#include <vector>

#include "VelloraCore/Platform/Environment.h"

namespace vellora {

class FileSystem;

// The whole environment a `codex` child is started with: `baseEnvironment` with HOME made
// non-empty and PATH rebuilt so that Codex finds its own tools (node first of all) next to
// itself and in the usual install places.
//
//   codexPath /opt/homebrew/bin/codex, inherited PATH /usr/bin:/bin:/Users/a/tools
//   -> PATH /opt/homebrew/bin:HOME/.codex/bin:...:/usr/bin:/bin:/usr/sbin:/sbin:/Users/a/tools
class CodexProcessEnvironment {
 public:
  // `fileSystem` lists the Node version folders and must outlive this value.
  CodexProcessEnvironment(std::string codexPath, Environment baseEnvironment,
                          std::string homeDirectory, const FileSystem& fileSystem);

  // `baseEnvironment` with HOME set to `homeDirectory` when missing or empty, and PATH set to
  // pathComponents() joined with ":". Nothing else is added, changed or removed.
  Environment values() const;

  // The folder holding `codexPath`, then the install folders `CodexLocator` searches (with the
  // Node versions listed anew), then the pieces of the inherited PATH; empty entries and
  // repeats dropped, order kept. Nothing is checked for existence.
  std::vector<std::string> pathComponents() const;

 private:
  std::string codexPath_;
  Environment baseEnvironment_;
  std::string homeDirectory_;
  const FileSystem* fileSystem_;
};

// The non-empty pieces of a PATH value, in order ("/a::/b:" -> "/a", "/b").
std::vector<std::string> splitSearchPath(const std::string& value);

}  // namespace vellora
