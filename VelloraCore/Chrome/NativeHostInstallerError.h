#pragma once

#include <string>

#include "VelloraCore/Error.h"

namespace vellora {

// Why NativeHostInstaller::install refused to write the manifest.
class NativeHostInstallerError final : public Error {
 public:
  enum class Case { hostNotExecutable, missingExtensionID };

  // "Native host helper is not executable at PATH."
  static NativeHostInstallerError hostNotExecutable(std::string path);
  // "Missing Chrome extension ID."
  static NativeHostInstallerError missingExtensionID();

  Case errorCase() const noexcept { return case_; }
  // The executable's path for hostNotExecutable; empty otherwise.
  const std::string& path() const noexcept { return path_; }
  const char* what() const noexcept override { return description_.c_str(); }

  friend bool operator==(const NativeHostInstallerError& a,
                         const NativeHostInstallerError& b) noexcept {
    return a.case_ == b.case_ && a.path_ == b.path_;
  }

 private:
  NativeHostInstallerError(Case c, std::string path);

  Case case_;
  std::string path_;
  std::string description_;
};

}  // namespace vellora
