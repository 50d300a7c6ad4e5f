#pragma once

#include "VelloraCore/Error.h"

namespace vellora {

// The bridge's own failures; the app-server's are AppServerError.
class AppServerBridgeError final : public Error {
 public:
  enum class Case { codexNotFound, missingThreadID };
  explicit AppServerBridgeError(Case c) : case_(c) {}
  Case errorCase() const noexcept { return case_; }
  const char* what() const noexcept override;
  friend bool operator==(const AppServerBridgeError& a, const AppServerBridgeError& b) {
    return a.case_ == b.case_;
  }

 private:
  Case case_;
};

}  // namespace vellora
