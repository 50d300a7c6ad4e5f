#include "VelloraCore/Chrome/NativeHostInstallerError.h"

namespace vellora {

namespace {

std::string describe(NativeHostInstallerError::Case c, const std::string& path) {
  switch (c) {
    case NativeHostInstallerError::Case::hostNotExecutable:
      return "Native host helper is not executable at " + path + ".";
    case NativeHostInstallerError::Case::missingExtensionID:
      return "Missing Chrome extension ID.";
  }
  return {};
}

}  // namespace

NativeHostInstallerError::NativeHostInstallerError(Case c, std::string path)
    : case_(c), path_(std::move(path)), description_(describe(case_, path_)) {}

NativeHostInstallerError NativeHostInstallerError::hostNotExecutable(std::string path) {
  return NativeHostInstallerError(Case::hostNotExecutable, std::move(path));
}

NativeHostInstallerError NativeHostInstallerError::missingExtensionID() {
  return NativeHostInstallerError(Case::missingExtensionID, {});
}

}  // namespace vellora
