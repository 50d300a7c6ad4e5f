#pragma once

#include <string>
#include <variant>
#include <vector>

#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

// One manifest that a repair wrote: the browser's name and the file.
struct InstalledManifest {
  std::string browserName;
  std::string path;
  friend bool operator==(const InstalledManifest&, const InstalledManifest&) = default;
};

// The result of one browser-connection repair: the health measured afterwards and the
// manifests written, or the text to show in the failure alert.
struct NativeHostInstallOutcome {
  struct Success {
    CompanionHealth health;
    std::vector<InstalledManifest> manifests;
    friend bool operator==(const Success&, const Success&) = default;
  };
  struct Failure {
    std::string message;
    friend bool operator==(const Failure&, const Failure&) = default;
  };

  std::variant<Success, Failure> value;

  static NativeHostInstallOutcome success(CompanionHealth health,
                                          std::vector<InstalledManifest> manifests = {}) {
    return {Success{health, std::move(manifests)}};
  }
  static NativeHostInstallOutcome failure(std::string message) {
    return {Failure{std::move(message)}};
  }
  bool isSuccess() const noexcept { return std::holds_alternative<Success>(value); }

  friend bool operator==(const NativeHostInstallOutcome&,
                         const NativeHostInstallOutcome&) = default;
};

}  // namespace vellora
