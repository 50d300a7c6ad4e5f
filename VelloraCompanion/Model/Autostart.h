#pragma once

#include <string>

#include "VelloraCore/Platform/Environment.h"

namespace vellora {

class FileSystem;

// The companion's start at login on a freedesktop session: an XDG autostart entry,
// vellora-companion.desktop in $XDG_CONFIG_HOME/autostart (else HOME/.config/autostart). The
// entry names the companion that wrote it in both TryExec and Exec, so that a session skips it
// once that program is gone.
//
//   Autostart(fs, "/home/example", {}).path()
//     -> "/home/example/.config/autostart/vellora-companion.desktop"
class Autostart {
 public:
  // `homeDirectory` is absolute; a relative or empty XDG_CONFIG_HOME is ignored.
  Autostart(FileSystem& fileSystem, const std::string& homeDirectory,
            const Environment& environment);

  const std::string& path() const noexcept { return path_; }

  // Whether the entry exists.
  bool isEnabled() const noexcept;
  // Writes the entry for `companionPath` (an absolute path), creating the folder; an entry
  // already there is replaced. Throws FileSystemError, or std::invalid_argument for a path
  // that an entry cannot hold (relative, or with a control character).
  void enable(const std::string& companionPath);
  // Removes the entry; nothing there is fine. Throws FileSystemError.
  void disable();

  // The entry's text for `companionPath`.
  static std::string entryText(const std::string& companionPath);

  static constexpr const char* kFileName = "vellora-companion.desktop";

 private:
  FileSystem& fileSystem_;
  std::string path_;
};

}  // namespace vellora
