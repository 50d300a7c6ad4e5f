#pragma once

#include <string>
#include <variant>

#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

// The result of one browser-connection repair: the health measured afterwards, or the text to
// show in the failure alert.
struct NativeHostInstallOutcome {
  struct Success {
    CompanionHealth health;
    friend bool operator==(const Success&, const Success&) = default;
  };
  struct Failure {
    std::string message;
    friend bool operator==(const Failure&, const Failure&) = default;
  };

  std::variant<Success, Failure> value;

  static NativeHostInstallOutcome success(CompanionHealth health) { return {Success{health}}; }
  static NativeHostInstallOutcome failure(std::string message) {
    return {Failure{std::move(message)}};
  }
  bool isSuccess() const noexcept { return std::holds_alternative<Success>(value); }

  friend bool operator==(const NativeHostInstallOutcome&,
                         const NativeHostInstallOutcome&) = default;
};

}  // namespace vellora
