#include "VelloraCore/Protocol/JSONValue.h"

#include <utility>

namespace vellora {

JSONError::JSONError(Case c, std::string description)
    : case_(c), description_(std::move(description)) {}

JSONValue JSONValue::object(
    std::initializer_list<std::pair<std::string, std::optional<JSONValue>>> pairs) {
  Object members;
  for (const auto& [key, value] : pairs) {
    if (value) members.insert_or_assign(key, *value);
  }
  return JSONValue(std::move(members));
}

std::optional<double> JSONValue::numberValue() const noexcept {
  if (const double* n = std::get_if<double>(&storage_)) return *n;
  return std::nullopt;
}

std::optional<bool> JSONValue::boolValue() const noexcept {
  if (const bool* b = std::get_if<bool>(&storage_)) return *b;
  return std::nullopt;
}

const JSONValue* JSONValue::subscript(std::string_view key) const noexcept {
  const Object* members = objectValue();
  if (members == nullptr) return nullptr;
  auto it = members->find(key);
  return it == members->end() ? nullptr : &it->second;
}

JSONValue* JSONValue::subscript(std::string_view key) noexcept {
  return const_cast<JSONValue*>(std::as_const(*this).subscript(key));
}

// Comparing strings, numbers and containers of them never throws; the standard containers'
// operator== is just not declared noexcept.
// NOLINTNEXTLINE(bugprone-exception-escape)
bool operator==(const JSONValue& a, const JSONValue& b) noexcept {
  return a.storage_ == b.storage_;
}

const std::string* stringMember(const JSONValue* object, std::string_view key) noexcept {
  const JSONValue* member = object != nullptr ? object->subscript(key) : nullptr;
  return member != nullptr ? member->stringValue() : nullptr;
}

}  // namespace vellora
