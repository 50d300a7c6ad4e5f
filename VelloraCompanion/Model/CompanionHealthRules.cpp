#include "VelloraCompanion/Model/CompanionHealthRules.h"

namespace vellora {

namespace {

HealthState keepReadyElse(HealthState state, HealthState otherwise) {
  return state == HealthState::ready ? state : otherwise;
}

}  // namespace

CompanionHealth launchHealth() noexcept {
  return {HealthState::ready,   HealthState::unknown, HealthState::unknown,
          HealthState::unknown, HealthState::unknown, HealthState::unknown};
}

CompanionHealth checkingHealth(const std::optional<CompanionHealth>& shown) noexcept {
  const CompanionHealth from = shown.value_or(
      CompanionHealth{HealthState::ready, HealthState::starting, HealthState::starting,
                      HealthState::starting, HealthState::starting, HealthState::starting});
  constexpr HealthState s = HealthState::starting;
  return {HealthState::ready,
          keepReadyElse(from.nativeHost, s),
          keepReadyElse(from.extension, s),
          keepReadyElse(from.codex, s),
          keepReadyElse(from.appServer, s),
          keepReadyElse(from.auth, s)};
}

CompanionHealth timeoutHealth(const std::optional<CompanionHealth>& shown) noexcept {
  // With nothing shown every field is "not ready", which gives the fixed time-out health.
  const CompanionHealth from = shown.value_or(launchHealth());
  constexpr HealthState u = HealthState::unknown;
  constexpr HealthState e = HealthState::error;
  return {HealthState::ready,
          keepReadyElse(from.nativeHost, u),
          keepReadyElse(from.extension, u),
          keepReadyElse(from.codex, e),
          keepReadyElse(from.appServer, e),
          keepReadyElse(from.auth, u)};
}

std::optional<bool> previousExtensionState(const std::optional<CompanionHealth>& shown) noexcept {
  if (!shown) return std::nullopt;
  if (shown->extension == HealthState::ready) return true;
  if (shown->extension == HealthState::missing) return false;
  return std::nullopt;
}

}  // namespace vellora
