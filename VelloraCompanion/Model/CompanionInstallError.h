#pragma once

#include <string>

#include "VelloraCore/Error.h"

namespace vellora {

// The companion's own failures, each with the one text the user sees in an alert.
class CompanionInstallError final : public Error {
 public:
  enum class Case {
    invalidExtensionID,  // carries the offending text
    missingBundledExtension,
    missingExtensionID,
    missingNativeHostExecutable,
    // macOS ran the application from a randomised read-only copy (App Translocation): a host
    // path from there stops working once it is quit.
    translocatedApplication,
  };

  explicit CompanionInstallError(Case errorCase);
  // invalidExtensionID with the text that is not an extension ID.
  static CompanionInstallError invalidExtensionID(std::string text);

  Case errorCase() const noexcept { return case_; }
  // The offending text of invalidExtensionID; empty for the other cases.
  const std::string& text() const noexcept { return text_; }
  const char* what() const noexcept override { return description_.c_str(); }

  // Same case and, for invalidExtensionID, equal text.
  friend bool operator==(const CompanionInstallError& a, const CompanionInstallError& b) noexcept {
    return a.case_ == b.case_ && a.text_ == b.text_;
  }

 private:
  CompanionInstallError(Case errorCase, std::string text);

  Case case_;
  std::string text_;
  std::string description_;
};

}  // namespace vellora
