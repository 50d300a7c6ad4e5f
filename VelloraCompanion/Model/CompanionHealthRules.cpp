#include "VelloraCompanion/Model/CompanionHealthRules.h"

namespace vellora {

namespace {

HealthState keepReadyElse(HealthState state, HealthState otherwise) {
  return state == HealthState::ready ? state : otherwise;
}

// The companion ready; every other field as shown when it is ready, else as `otherwise` says.
// With nothing shown no field is ready, which gives `otherwise` whole.
CompanionHealth keepingReady(const std::optional<CompanionHealth>& shown,
                             const CompanionHealth& otherwise) noexcept {
  const CompanionHealth from = shown.value_or(launchHealth());
  return {HealthState::ready,
          keepReadyElse(from.nativeHost, otherwise.nativeHost),
          keepReadyElse(from.extension, otherwise.extension),
          keepReadyElse(from.codex, otherwise.codex),
          keepReadyElse(from.appServer, otherwise.appServer),
          keepReadyElse(from.auth, otherwise.auth)};
}

}  // namespace

CompanionHealth launchHealth() noexcept {
  return {HealthState::ready,   HealthState::unknown, HealthState::unknown,
          HealthState::unknown, HealthState::unknown, HealthState::unknown};
}

CompanionHealth checkingHealth(const std::optional<CompanionHealth>& shown) noexcept {
  constexpr HealthState s = HealthState::starting;
  return keepingReady(shown, {HealthState::ready, s, s, s, s, s});
}

CompanionHealth timeoutHealth(const std::optional<CompanionHealth>& shown) noexcept {
  constexpr HealthState u = HealthState::unknown;
  constexpr HealthState e = HealthState::error;
  return keepingReady(shown, {HealthState::ready, u, u, e, e, u});
}

std::optional<bool> previousExtensionState(const std::optional<CompanionHealth>& shown) noexcept {
  if (!shown) return std::nullopt;
  if (shown->extension == HealthState::ready) return true;
  if (shown->extension == HealthState::missing) return false;
  return std::nullopt;
}

}  // namespace vellora
