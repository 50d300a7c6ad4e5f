#pragma once

#include <string>
#include <vector>

namespace vellora {

class FileSystem;

// The directories where `codex` is commonly installed, in search order, each listed once
// (HOME is `homeDirectory` without a trailing slash):
//
//   HOME/.codex/bin  HOME/.local/bin  HOME/.nvm/current/bin
//   HOME/.nvm/versions/node/<version>/bin  for each installed version, newest first
//   HOME/.nvm/versions/node/v20.20.0/bin  /opt/homebrew/bin  /usr/local/bin
//   /usr/bin  /bin  /usr/sbin  /sbin
//
// The Node versions are the directories (not files, not hidden entries) inside
// HOME/.nvm/versions/node in descending natural order (v22.1.0, v20.20.0, v9.0.0); a missing
// or unreadable folder contributes none. Nothing else is checked on disk.
std::vector<std::string> codexInstallDirectories(const std::string& homeDirectory,
                                                 const FileSystem& fileSystem) noexcept;

// Drops empty entries and every repeat of an earlier entry; the rest keep their order.
void removeEmptyAndDuplicateEntries(std::vector<std::string>& entries);

// `path` without trailing slashes ("/Users/a/" -> "/Users/a", "/" -> "").
std::string withoutTrailingSlashes(std::string path);

}  // namespace vellora
