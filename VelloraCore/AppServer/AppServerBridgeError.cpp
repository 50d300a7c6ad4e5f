#include "VelloraCore/AppServer/AppServerBridgeError.h"

namespace vellora {

const char* AppServerBridgeError::what() const noexcept {
  switch (case_) {
    case Case::codexNotFound:
      return "`codex` was not found in PATH or common install locations.";
    case Case::missingThreadID:
      return "Codex app-server did not return a thread ID.";
  }
  return "Codex app-server bridge failed.";
}

}  // namespace vellora
