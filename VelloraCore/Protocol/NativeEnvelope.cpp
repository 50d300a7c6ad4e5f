#include "VelloraCore/Protocol/NativeEnvelope.h"

#include <string_view>
#include <tuple>
#include <utility>

namespace vellora {

NativeEnvelopeError::NativeEnvelopeError(Case c, std::string field)
    : case_(c), field_(std::move(field)) {
  switch (case_) {
    case Case::notAnObject:
      description_ = "The Native Messaging message is not a JSON object.";
      break;
    case Case::missingType:
      description_ = "The Native Messaging message has no text \"type\".";
      break;
    case Case::wrongFieldType:
      description_ = "The Native Messaging message field \"" + field_ + "\" has the wrong type.";
      break;
  }
}

namespace {

// One member of the envelope: its JSON name and where it is kept.
template <typename T>
struct Field {
  std::string_view name;
  T NativeEnvelope::*member;
};
template <typename T>
Field(std::string_view, T NativeEnvelope::*) -> Field<T>;

// Every member, in the order in which they are written (and read, so that the first wrong
// field in this order is the one an error names).
constexpr std::tuple kFields{
    Field{"type", &NativeEnvelope::type},
    Field{"requestId", &NativeEnvelope::requestId},
    Field{"sessionId", &NativeEnvelope::sessionId},
    Field{"prompt", &NativeEnvelope::prompt},
    Field{"context", &NativeEnvelope::context},
    Field{"commands", &NativeEnvelope::commands},
    Field{"model", &NativeEnvelope::model},
    Field{"reasoningEffort", &NativeEnvelope::reasoningEffort},
    Field{"ok", &NativeEnvelope::ok},
    Field{"app", &NativeEnvelope::app},
    Field{"version", &NativeEnvelope::version},
    Field{"status", &NativeEnvelope::status},
    Field{"delta", &NativeEnvelope::delta},
    Field{"attachment", &NativeEnvelope::attachment},
    Field{"messageId", &NativeEnvelope::messageId},
    Field{"code", &NativeEnvelope::code},
    Field{"message", &NativeEnvelope::message},
    Field{"catalog", &NativeEnvelope::catalog},
};

// Calls `visit` with each row of kFields, in order.
template <typename Visit>
void forEachField(Visit&& visit) {
  std::apply([&visit](const auto&... field) { (visit(field), ...); }, kFields);
}

// Reading, one overload per member type. Each takes the member out of the object; JSON null
// counts as absent.
class FieldReader {
 public:
  explicit FieldReader(JSONValue::Object& object) : object_(object) {}

  // The one member that is not optional, "type".
  void field(std::string_view name, std::string& out) {
    std::optional<JSONValue> value = take(name);
    if (!value || value->stringValue() == nullptr) {
      throw NativeEnvelopeError(NativeEnvelopeError::Case::missingType, std::string(name));
    }
    out = std::move(*value->stringValue());
  }
  void field(std::string_view name, std::optional<std::string>& out) {
    std::optional<JSONValue> value = take(name);
    if (!value) return;
    std::string* text = value->stringValue();
    if (text == nullptr) wrongType(name);
    out = std::move(*text);
  }
  void field(std::string_view name, std::optional<JSONValue>& out) { out = take(name); }
  void field(std::string_view name, std::optional<bool>& out) {
    std::optional<JSONValue> value = take(name);
    if (!value) return;
    if (!value->boolValue()) wrongType(name);
    out = *value->boolValue();
  }
  void field(std::string_view name, std::optional<CompanionHealth>& out) {
    if (std::optional<JSONValue> value = take(name)) out = CompanionHealth::fromJSON(*value);
  }

 private:
  std::optional<JSONValue> take(std::string_view name) {
    auto it = object_.find(name);
    if (it == object_.end() || it->second.isNull()) return std::nullopt;
    return std::move(it->second);
  }
  [[noreturn]] static void wrongType(std::string_view name) {
    throw NativeEnvelopeError(NativeEnvelopeError::Case::wrongFieldType, std::string(name));
  }

  JSONValue::Object& object_;
};

// Writing, one overload per member type; an absent member is left out.
class FieldWriter {
 public:
  FieldWriter(std::string& out, const JSONWriteOptions& options) : out_(out), options_(options) {}

  void field(std::string_view name, const std::string& value) {
    key(name);
    JSONValue::serializeString(out_, value, options_);
  }
  void field(std::string_view name, const std::optional<std::string>& value) {
    if (value) field(name, *value);
  }
  void field(std::string_view name, const std::optional<JSONValue>& value) {
    if (!value) return;
    key(name);
    value->serialize(out_, options_);
  }
  void field(std::string_view name, const std::optional<bool>& value) {
    if (!value) return;
    key(name);
    out_.append(*value ? "true" : "false");
  }
  void field(std::string_view name, const std::optional<CompanionHealth>& value) {
    if (!value) return;
    key(name);
    value->toJSON().serialize(out_, options_);
  }
  void close() { out_.push_back('}'); }

 private:
  void key(std::string_view name) {
    out_.push_back(first_ ? '{' : ',');
    first_ = false;
    JSONValue::serializeString(out_, name, options_);
    out_.push_back(':');
  }

  std::string& out_;
  const JSONWriteOptions& options_;
  bool first_ = true;
};

}  // namespace

NativeEnvelope NativeEnvelope::fromJSON(JSONValue&& value) {
  JSONValue::Object* object = value.objectValue();
  if (object == nullptr) throw NativeEnvelopeError(NativeEnvelopeError::Case::notAnObject, "");
  NativeEnvelope envelope;
  FieldReader reader(*object);
  forEachField([&](const auto& field) { reader.field(field.name, envelope.*field.member); });
  return envelope;
}

void NativeEnvelope::appendJSON(std::string& out, const JSONWriteOptions& options) const {
  FieldWriter writer(out, options);
  forEachField([&](const auto& field) { writer.field(field.name, this->*field.member); });
  writer.close();
}

}  // namespace vellora
