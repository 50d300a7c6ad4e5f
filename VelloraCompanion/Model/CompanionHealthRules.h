#pragma once

#include <optional>

#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

// The fixed healths and the health transitions of a check.

// companion ready, everything else unknown: what the menu shows before any check.
CompanionHealth launchHealth() noexcept;

// What to show while a check runs. From nothing: companion ready, the rest starting. From a
// health: companion ready, each other field kept when ready and starting otherwise.
CompanionHealth checkingHealth(const std::optional<CompanionHealth>& shown) noexcept;

// What to show when a check timed out. From nothing: companion ready, codex and appServer
// error, the rest unknown. From a health: companion ready; each field kept when ready, else
// codex and appServer become error and nativeHost, extension and auth unknown.
CompanionHealth timeoutHealth(const std::optional<CompanionHealth>& shown) noexcept;

// The extension state a refresh starts from: true when ready, false when missing, nothing
// when there is no health or the extension is unknown, starting or error.
std::optional<bool> previousExtensionState(const std::optional<CompanionHealth>& shown) noexcept;

}  // namespace vellora
