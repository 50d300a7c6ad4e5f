#include "VelloraCore/Chrome/NativeHostManifest.h"

#include <unicode/utf8.h>

namespace vellora {

namespace {

constexpr std::string_view kDescription = "Vellora native companion bridge";
constexpr std::string_view kType = "stdio";

bool isValidUTF8(std::string_view text) noexcept {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  if (static_cast<std::size_t>(length) != text.size()) return false;
  std::int32_t offset = 0;
  while (offset < length) {
    UChar32 character;
    U8_NEXT(bytes, offset, length, character);
    if (character < 0) return false;
  }
  return true;
}

}  // namespace

NativeHostManifest::NativeHostManifest(std::string hostPath,
                                       const std::vector<std::string>& allowedExtensionIDs)
    : name(hostName), description(kDescription), path(std::move(hostPath)), type(kType) {
  allowedOrigins.reserve(allowedExtensionIDs.size());
  for (const std::string& id : allowedExtensionIDs) allowedOrigins.push_back(origin(id));
}

std::string NativeHostManifest::origin(std::string_view extensionID) {
  std::string result = "chrome-extension://";
  result.append(extensionID);
  result.push_back('/');
  return result;
}

JSONValue NativeHostManifest::toJSON() const {
  JSONValue::Array origins(allowedOrigins.begin(), allowedOrigins.end());
  return JSONValue(JSONValue::Object{
      {"allowed_origins", JSONValue(std::move(origins))},
      {"description", JSONValue(description)},
      {"name", JSONValue(name)},
      {"path", JSONValue(path)},
      {"type", JSONValue(type)},
  });
}

std::optional<NativeHostManifest> NativeHostManifest::fromJSON(const JSONValue& value) noexcept {
  try {
    auto text = [&](std::string_view key) -> const std::string* {
      const JSONValue* member = value.subscript(key);
      return member == nullptr ? nullptr : member->stringValue();
    };
    const std::string* nameText = text("name");
    const std::string* descriptionText = text("description");
    const std::string* pathText = text("path");
    const std::string* typeText = text("type");
    const JSONValue* originsValue = value.subscript("allowed_origins");
    const JSONValue::Array* origins = originsValue ? originsValue->arrayValue() : nullptr;
    if (!nameText || !descriptionText || !pathText || !typeText || !origins) return std::nullopt;

    NativeHostManifest manifest;
    manifest.name = *nameText;
    manifest.description = *descriptionText;
    manifest.path = *pathText;
    manifest.type = *typeText;
    manifest.allowedOrigins.reserve(origins->size());
    for (const JSONValue& element : *origins) {
      const std::string* origin = element.stringValue();
      if (origin == nullptr) return std::nullopt;
      manifest.allowedOrigins.push_back(*origin);
    }
    return manifest;
  } catch (...) {
    // Only allocation can fail here; a manifest that cannot be held is not a manifest.
    return std::nullopt;
  }
}

std::string NativeHostManifest::encodedData() const {
  // The writer copies text bytes as they are; a path that is not UTF-8 (possible on Linux file
  // systems) would produce a file that no JSON reader, Chrome included, accepts.
  bool valid =
      isValidUTF8(name) && isValidUTF8(description) && isValidUTF8(path) && isValidUTF8(type);
  for (const std::string& origin : allowedOrigins) valid = valid && isValidUTF8(origin);
  if (!valid) {
    throw JSONError(JSONError::Case::notEncodable,
                    "The value cannot be written as JSON: text must be valid UTF-8.");
  }
  std::string data =
      toJSON().serialized(JSONWriteOptions{.escapeSlashes = false, .prettyPrinted = true});
  data.push_back('\n');
  return data;
}

}  // namespace vellora
