#include "VelloraCore/Chrome/ChromeProfileFile.h"

#include <simdjson.h>

#include <map>
#include <optional>

#include "VelloraCore/Chrome/ChromeExtensionID.h"
#include "VelloraCore/Protocol/JSONValue.h"

namespace vellora::ChromeProfileFile {

namespace {

namespace dom = simdjson::dom;

// A Preferences file is mostly settings of no interest here, often some megabytes of them, and
// is read again for every sample of a detection. The DOM parser validates the whole document
// at full speed and lets us look at one object of it without building a JSONValue of the rest.
// It refuses some valid numbers (integers beyond 64 bits), so whenever it refuses a document,
// the system's own reader decides, more slowly, whether the text is JSON after all.

// Member `key` of an object; with duplicate keys the last one, as JSONValue reads them.
std::optional<dom::element> member(dom::element value, std::string_view key) {
  dom::object object;
  if (value.get_object().get(object) != simdjson::SUCCESS) return std::nullopt;
  std::optional<dom::element> found;
  for (dom::key_value_pair field : object) {
    if (field.key == key) found = field.value;
  }
  return found;
}

std::optional<std::string> stringMember(dom::element value, std::string_view key) {
  std::optional<dom::element> found = member(value, key);
  std::string_view text;
  if (!found || found->get_string().get(text) != simdjson::SUCCESS) return std::nullopt;
  return std::string(text);
}

// False when the DOM parser refused the text.
bool readWithDOM(std::string_view contents, const std::string& profileName,
                 std::vector<ChromeExtensionCandidate>& candidates) {
  // A parser per file: its buffers grow with the document, so keeping one alive between
  // detections would hold several times the largest profile file for nothing.
  dom::parser parser;
  dom::element root;
  if (parser.parse(contents.data(), contents.size()).get(root) != simdjson::SUCCESS) return false;
  std::optional<dom::element> extensions = member(root, "extensions");
  std::optional<dom::element> settings =
      extensions ? member(*extensions, "settings") : std::nullopt;
  dom::object entries;
  if (!settings || settings->get_object().get(entries) != simdjson::SUCCESS) return true;

  std::map<std::string_view, dom::element> byID;
  for (dom::key_value_pair field : entries) {
    if (isChromeExtensionID(field.key)) byID.insert_or_assign(field.key, field.value);
  }
  for (const auto& [id, value] : byID) {
    if (!value.is_object()) continue;
    std::optional<dom::element> manifest = member(value, "manifest");
    candidates.push_back(ChromeExtensionCandidate{
        .id = std::string(id),
        .profileName = profileName,
        .path = stringMember(value, "path"),
        .name = manifest ? stringMember(*manifest, "name") : std::nullopt,
    });
  }
  return true;
}

std::optional<std::string> stringMember(const JSONValue& value, std::string_view key) {
  const JSONValue* found = value.subscript(key);
  const std::string* text = found ? found->stringValue() : nullptr;
  return text ? std::optional<std::string>(*text) : std::nullopt;
}

void readWithJSONValue(std::string_view contents, const std::string& profileName,
                       std::vector<ChromeExtensionCandidate>& candidates) {
  const JSONValue root = JSONValue::parse(contents);
  const JSONValue* extensions = root.subscript("extensions");
  const JSONValue* settings = extensions ? extensions->subscript("settings") : nullptr;
  const JSONValue::Object* entries = settings ? settings->objectValue() : nullptr;
  if (entries == nullptr) return;
  for (const auto& [id, value] : *entries) {
    if (!isChromeExtensionID(id) || value.objectValue() == nullptr) continue;
    const JSONValue* manifest = value.subscript("manifest");
    candidates.push_back(ChromeExtensionCandidate{
        .id = id,
        .profileName = profileName,
        .path = stringMember(value, "path"),
        .name = manifest ? stringMember(*manifest, "name") : std::nullopt,
    });
  }
}

}  // namespace

std::vector<ChromeExtensionCandidate> extensionCandidates(std::string_view contents,
                                                          const std::string& profileName) noexcept {
  std::vector<ChromeExtensionCandidate> candidates;
  try {
    if (!readWithDOM(contents, profileName, candidates)) {
      readWithJSONValue(contents, profileName, candidates);
    }
    return candidates;
  } catch (...) {
    // Not JSON, or no memory: the file gives nothing.
    return {};
  }
}

}  // namespace vellora::ChromeProfileFile
