#include "VelloraCompanion/Model/CompanionInstallError.h"

#include <utility>

namespace vellora {

namespace {

std::string describe(CompanionInstallError::Case errorCase, const std::string& text) {
  switch (errorCase) {
    case CompanionInstallError::Case::invalidExtensionID:
      return "Invalid Chrome extension ID: " + text + ".";
    case CompanionInstallError::Case::missingBundledExtension:
      return "Vellora could not find the bundled Chrome extension. Reinstall Vellora or rebuild "
             "the extension.";
    case CompanionInstallError::Case::missingExtensionID:
      return "Vellora could not find a loaded unpacked extension in Chrome.\n\nOpen "
             "chrome://extensions, choose Load Unpacked, and select the extension folder. Make "
             "sure Developer Mode is on. Then choose Fix Browser Connection again. Codex auth is "
             "separate: Vellora uses your existing local Codex setup after Chrome can connect to "
             "the native host.";
    case CompanionInstallError::Case::missingNativeHostExecutable:
      return "Vellora could not locate the vellora-native-host helper next to the companion "
             "executable.";
    case CompanionInstallError::Case::translocatedApplication:
      return "Vellora is running from a temporary copy that macOS made because it was opened "
             "where it was downloaded, and Chrome could not start the native host from there "
             "later.\n\nMove Vellora to the Applications folder, open it from there, and choose "
             "Fix Browser Connection again.";
  }
  return {};
}

}  // namespace

CompanionInstallError::CompanionInstallError(Case errorCase)
    : CompanionInstallError(errorCase, std::string()) {}

CompanionInstallError::CompanionInstallError(Case errorCase, std::string text)
    : case_(errorCase), text_(std::move(text)), description_(describe(case_, text_)) {}

CompanionInstallError CompanionInstallError::invalidExtensionID(std::string text) {
  return CompanionInstallError(Case::invalidExtensionID, std::move(text));
}

}  // namespace vellora
