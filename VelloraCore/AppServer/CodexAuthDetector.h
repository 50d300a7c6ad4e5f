#pragma once

#include <string>

#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

class FileSystem;

// Tells whether the user has signed in to Codex or configured an API key, by looking at the
// credentials file auth.json in Codex's own folder (codexHomeDirectory()). Nothing is contacted and
// nothing is validated; the file is read anew on every call. Immutable; any thread may use it.
//
// Signed in when the file's top-level object has any of:
//   "OPENAI_API_KEY": text that is not empty once white space is trimmed from both ends
//   "tokens":         an object with at least one member
//   "auth_mode":      non-empty trimmed text, together with a "last_refresh" member (null counts)
class CodexAuthDetector {
 public:
  // `codexHomeDirectory` is Codex's folder (see codexHomeDirectory() of CodexHomeDirectory.h);
  // `fileSystem` must outlive the detector.
  CodexAuthDetector(std::string codexHomeDirectory, const FileSystem& fileSystem);

  const std::string& codexHomeDirectory() const noexcept { return codexHomeDirectory_; }
  // codexHomeDirectory() + "/auth.json"
  std::string credentialsFilePath() const;

  // False for a missing, unreadable, oversized or malformed file and for any other content.
  bool hasAuthSession() const noexcept;
  // ready when hasAuthSession(), else missing.
  HealthState healthState() const noexcept;

 private:
  std::string codexHomeDirectory_;
  const FileSystem* fileSystem_;
};

}  // namespace vellora
