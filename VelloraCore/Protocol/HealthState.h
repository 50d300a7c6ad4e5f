#pragma once

#include <optional>
#include <string_view>

#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

// The state of one moving part, shown to the user by its text.
enum class HealthState { unknown, ready, missing, starting, error };

// "unknown", "ready", "missing", "starting" or "error".
std::string_view text(HealthState state) noexcept;
// The state whose text is exactly `text` (case-sensitive), or nothing.
std::optional<HealthState> healthStateFromText(std::string_view text) noexcept;

// The states of the system's six parts, as the host reports them and the companion shows them.
struct CompanionHealth {
  HealthState companion;
  HealthState nativeHost;
  HealthState extension;
  HealthState codex;
  HealthState appServer;
  HealthState auth;

  friend bool operator==(const CompanionHealth&, const CompanionHealth&) = default;

  // An object with all six keys, each a state text.
  JSONValue toJSON() const;
  // Throws NativeEnvelopeError when a key is missing or a value is not a state text.
  static CompanionHealth fromJSON(const JSONValue& value);
};

}  // namespace vellora
