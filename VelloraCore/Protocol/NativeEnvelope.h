#pragma once

#include <optional>
#include <string>

#include "VelloraCore/Error.h"
#include "VelloraCore/Protocol/HealthState.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora {

// A message whose JSON does not make an envelope: not an object, no text "type", or a field of
// the wrong type.
class NativeEnvelopeError final : public Error {
 public:
  enum class Case { notAnObject, missingType, wrongFieldType };
  NativeEnvelopeError(Case c, std::string field);
  Case errorCase() const noexcept { return case_; }
  const std::string& field() const noexcept { return field_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  Case case_;
  std::string field_;
  std::string description_;
};

// The one record of every Native Messaging message, request or reply. Only `type` is required;
// an absent field is never written, and JSON null reads as absent. Members are read and written
// in the order of one table of names in NativeEnvelope.cpp, which a new member joins.
struct NativeEnvelope {
  std::string type;
  std::optional<std::string> requestId;
  std::optional<std::string> sessionId;
  std::optional<std::string> prompt;
  std::optional<JSONValue> context;
  std::optional<JSONValue> commands;
  std::optional<std::string> model;
  std::optional<std::string> reasoningEffort;
  std::optional<bool> ok;
  std::optional<std::string> app;
  std::optional<std::string> version;
  std::optional<CompanionHealth> status;
  std::optional<std::string> delta;
  std::optional<JSONValue> attachment;
  std::optional<std::string> messageId;
  std::optional<std::string> code;
  std::optional<std::string> message;
  std::optional<JSONValue> catalog;

  friend bool operator==(const NativeEnvelope&, const NativeEnvelope&) = default;

  // Reads the envelope, moving large members (context, commands) out of `value`.
  // Throws NativeEnvelopeError.
  static NativeEnvelope fromJSON(JSONValue&& value);
  // Appends the compact JSON text. Throws JSONError for a number JSON cannot express.
  void appendJSON(std::string& out, const JSONWriteOptions& options = {}) const;
};

}  // namespace vellora
