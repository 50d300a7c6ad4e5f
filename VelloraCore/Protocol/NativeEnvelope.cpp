#include "VelloraCore/Protocol/NativeEnvelope.h"

#include <charconv>

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

// Takes the member out of the object; JSON null counts as absent.
std::optional<JSONValue> take(JSONValue::Object& object, std::string_view key) {
  auto it = object.find(key);
  if (it == object.end() || it->second.isNull()) return std::nullopt;
  return std::move(it->second);
}

std::optional<std::string> takeString(JSONValue::Object& object, const char* key) {
  std::optional<JSONValue> value = take(object, key);
  if (!value) return std::nullopt;
  std::string* text = value->stringValue();
  if (text == nullptr) throw NativeEnvelopeError(NativeEnvelopeError::Case::wrongFieldType, key);
  return std::move(*text);
}

class FieldWriter {
 public:
  FieldWriter(std::string& out, const JSONWriteOptions& options) : out_(out), options_(options) {}

  void key(std::string_view name) {
    out_.push_back(first_ ? '{' : ',');
    first_ = false;
    JSONValue::serializeString(out_, name, options_);
    out_.push_back(':');
  }
  void field(std::string_view name, const std::optional<std::string>& value) {
    if (!value) return;
    key(name);
    JSONValue::serializeString(out_, *value, options_);
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
  std::string& out_;
  const JSONWriteOptions& options_;
  bool first_ = true;
};

}  // namespace

NativeEnvelope NativeEnvelope::fromJSON(JSONValue&& value) {
  JSONValue::Object* object = value.objectValue();
  if (object == nullptr) throw NativeEnvelopeError(NativeEnvelopeError::Case::notAnObject, "");
  std::optional<JSONValue> type = take(*object, "type");
  if (!type || type->stringValue() == nullptr) {
    throw NativeEnvelopeError(NativeEnvelopeError::Case::missingType, "type");
  }
  NativeEnvelope envelope;
  envelope.type = std::move(*type->stringValue());
  envelope.requestId = takeString(*object, "requestId");
  envelope.sessionId = takeString(*object, "sessionId");
  envelope.prompt = takeString(*object, "prompt");
  envelope.context = take(*object, "context");
  envelope.commands = take(*object, "commands");
  envelope.model = takeString(*object, "model");
  envelope.reasoningEffort = takeString(*object, "reasoningEffort");
  if (std::optional<JSONValue> ok = take(*object, "ok")) {
    if (!ok->boolValue())
      throw NativeEnvelopeError(NativeEnvelopeError::Case::wrongFieldType, "ok");
    envelope.ok = *ok->boolValue();
  }
  envelope.app = takeString(*object, "app");
  envelope.version = takeString(*object, "version");
  if (std::optional<JSONValue> status = take(*object, "status")) {
    envelope.status = CompanionHealth::fromJSON(*status);
  }
  envelope.delta = takeString(*object, "delta");
  envelope.attachment = take(*object, "attachment");
  envelope.messageId = takeString(*object, "messageId");
  envelope.code = takeString(*object, "code");
  envelope.message = takeString(*object, "message");
  envelope.catalog = take(*object, "catalog");
  return envelope;
}

void NativeEnvelope::appendJSON(std::string& out, const JSONWriteOptions& options) const {
  FieldWriter writer(out, options);
  writer.key("type");
  JSONValue::serializeString(out, type, options);
  writer.field("requestId", requestId);
  writer.field("sessionId", sessionId);
  writer.field("prompt", prompt);
  writer.field("context", context);
  writer.field("commands", commands);
  writer.field("model", model);
  writer.field("reasoningEffort", reasoningEffort);
  writer.field("ok", ok);
  writer.field("app", app);
  writer.field("version", version);
  writer.field("status", status);
  writer.field("delta", delta);
  writer.field("attachment", attachment);
  writer.field("messageId", messageId);
  writer.field("code", code);
  writer.field("message", message);
  writer.field("catalog", catalog);
  writer.close();
}

}  // namespace vellora
