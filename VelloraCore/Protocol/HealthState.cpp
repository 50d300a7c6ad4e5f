#include "VelloraCore/Protocol/HealthState.h"

#include <array>
#include <utility>

#include "VelloraCore/Protocol/NativeEnvelope.h"

namespace vellora {

std::string_view text(HealthState state) noexcept {
  switch (state) {
    case HealthState::unknown:
      return "unknown";
    case HealthState::ready:
      return "ready";
    case HealthState::missing:
      return "missing";
    case HealthState::starting:
      return "starting";
    case HealthState::error:
      return "error";
  }
  return "unknown";
}

std::optional<HealthState> healthStateFromText(std::string_view word) noexcept {
  for (HealthState state : {HealthState::unknown, HealthState::ready, HealthState::missing,
                            HealthState::starting, HealthState::error}) {
    if (text(state) == word) return state;
  }
  return std::nullopt;
}

namespace {

using Field = HealthState CompanionHealth::*;
constexpr std::array<std::pair<const char*, Field>, 6> kFields{{
    {"companion", &CompanionHealth::companion},
    {"nativeHost", &CompanionHealth::nativeHost},
    {"extension", &CompanionHealth::extension},
    {"codex", &CompanionHealth::codex},
    {"appServer", &CompanionHealth::appServer},
    {"auth", &CompanionHealth::auth},
}};

}  // namespace

JSONValue CompanionHealth::toJSON() const {
  JSONValue::Object members;
  for (const auto& [key, field] : kFields) members.emplace(key, std::string(text(this->*field)));
  return JSONValue(std::move(members));
}

CompanionHealth CompanionHealth::fromJSON(const JSONValue& value) {
  if (value.objectValue() == nullptr) {
    throw NativeEnvelopeError(NativeEnvelopeError::Case::wrongFieldType, "status");
  }
  CompanionHealth health{};
  for (const auto& [key, field] : kFields) {
    const JSONValue* member = value.subscript(key);
    const std::string* word = member ? member->stringValue() : nullptr;
    std::optional<HealthState> state = word ? healthStateFromText(*word) : std::nullopt;
    if (!state) {
      throw NativeEnvelopeError(NativeEnvelopeError::Case::wrongFieldType,
                                std::string("status.") + key);
    }
    health.*field = *state;
  }
  return health;
}

}  // namespace vellora
