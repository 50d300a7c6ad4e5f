#include "VelloraCore/Chrome/NativeHostInstallationState.h"

namespace vellora {

std::string_view text(NativeHostInstallationState state) noexcept {
  switch (state) {
    case NativeHostInstallationState::missing:
      return "missing";
    case NativeHostInstallationState::installed:
      return "installed";
    case NativeHostInstallationState::stale:
      return "stale";
    case NativeHostInstallationState::invalid:
      return "invalid";
  }
  return "invalid";
}

}  // namespace vellora
