#include "VelloraCore/TurnContent/CodexCommandCatalogBuilder.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>

#include "VelloraCore/Platform/UserLocale.h"

namespace vellora {

namespace {

const JSONValue::Array kNoElements;

const JSONValue::Array& arrayMember(const JSONValue& value, std::string_view key) noexcept {
  const JSONValue* member = value.subscript(key);
  if (member == nullptr || member->arrayValue() == nullptr) return kNoElements;
  return *member->arrayValue();
}

// The member copied as it is, or the fallback when it is absent.
JSONValue copiedMember(const JSONValue& element, std::string_view key, JSONValue fallback) {
  const JSONValue* member = element.subscript(key);
  if (member == nullptr) return fallback;
  return *member;
}

const JSONValue* objectMember(const JSONValue& element, std::string_view key) noexcept {
  const JSONValue* member = element.subscript(key);
  return member != nullptr && member->objectValue() != nullptr ? member : nullptr;
}

std::optional<JSONValue> skillEntry(const JSONValue& element) {
  if (element.objectValue() == nullptr) return std::nullopt;
  const std::string* name = stringMember(&element, "name");
  if (name == nullptr) return std::nullopt;
  const JSONValue* interface = objectMember(element, "interface");
  const std::string* title = stringMember(interface, "displayName");
  const std::string* description = stringMember(interface, "shortDescription");
  if (description == nullptr) description = stringMember(&element, "shortDescription");
  if (description == nullptr) description = stringMember(&element, "description");
  return JSONValue::object({{"kind", "skill"},
                            {"name", *name},
                            {"title", title ? *title : *name},
                            {"description", description ? *description : ""},
                            {"path", copiedMember(element, "path", "")},
                            {"enabled", copiedMember(element, "enabled", true)}});
}

std::optional<JSONValue> pluginEntry(const JSONValue& element, const std::string& marketplace) {
  if (element.objectValue() == nullptr) return std::nullopt;
  const std::string* name = stringMember(&element, "name");
  if (name == nullptr) return std::nullopt;
  const JSONValue* interface = objectMember(element, "interface");
  const std::string* title = stringMember(interface, "displayName");
  const std::string* description = stringMember(interface, "shortDescription");
  if (description == nullptr) description = stringMember(interface, "longDescription");
  return JSONValue::object({{"kind", "plugin"},
                            {"name", *name},
                            {"title", title ? *title : *name},
                            {"description", description ? *description : ""},
                            {"path", "plugin://" + *name + "@" + marketplace},
                            {"marketplaceName", marketplace},
                            {"installed", copiedMember(element, "installed", false)},
                            {"enabled", copiedMember(element, "enabled", false)}});
}

std::optional<JSONValue> appEntry(const JSONValue& element) {
  if (element.objectValue() == nullptr) return std::nullopt;
  const std::string* id = stringMember(&element, "id");
  const std::string* name = stringMember(&element, "name");
  if (id == nullptr || name == nullptr) return std::nullopt;
  return JSONValue::object({{"kind", "app"},
                            {"id", *id},
                            {"name", *name},
                            {"title", *name},
                            {"description", copiedMember(element, "description", "")},
                            {"path", "app://" + *id},
                            {"enabled", copiedMember(element, "isEnabled", false)},
                            {"accessible", copiedMember(element, "isAccessible", false)},
                            {"logoUrl", copiedMember(element, "logoUrl", nullptr)},
                            {"logoUrlDark", copiedMember(element, "logoUrlDark", nullptr)}});
}

std::optional<JSONValue> modelEntry(const JSONValue& element) {
  if (element.objectValue() == nullptr) return std::nullopt;
  const std::string* id = stringMember(&element, "id");
  if (id == nullptr) id = stringMember(&element, "model");
  if (id == nullptr) return std::nullopt;
  return JSONValue::object(
      {{"kind", "model"},
       {"id", *id},
       {"model", copiedMember(element, "model", *id)},
       {"title", copiedMember(element, "displayName", *id)},
       {"description", copiedMember(element, "description", "")},
       {"hidden", copiedMember(element, "hidden", false)},
       {"isDefault", copiedMember(element, "isDefault", false)},
       {"inputModalities", copiedMember(element, "inputModalities", JSONValue::Array{})},
       {"defaultReasoningEffort", copiedMember(element, "defaultReasoningEffort", nullptr)},
       {"supportedReasoningEfforts",
        copiedMember(element, "supportedReasoningEfforts", JSONValue::Array{})}});
}

// The first text among the members, in order.
const std::string* firstText(const JSONValue& entry,
                             std::initializer_list<std::string_view> keys) noexcept {
  for (std::string_view key : keys) {
    if (const std::string* text = stringMember(&entry, key)) return text;
  }
  return nullptr;
}

void removeRepeats(JSONValue::Array& entries) {
  std::set<std::string, std::less<>> seen;
  std::erase_if(entries, [&seen](const JSONValue& entry) {
    const std::string* key = firstText(entry, {"path", "id", "name"});
    return key != nullptr && !seen.insert(*key).second;
  });
}

// A collator that ignores case but not accents, for the user's locale.
std::unique_ptr<icu::Collator> caseInsensitiveCollator() {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(userLocale(), status));
  if (U_FAILURE(status) || !collator) return nullptr;
  collator->setStrength(icu::Collator::SECONDARY);
  return collator;
}

bool lessIgnoringASCIICase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return static_cast<unsigned char>(lower(x)) < static_cast<unsigned char>(lower(y));
  });
}

void sortByTitle(JSONValue::Array& entries) {
  static const std::string kEmpty;
  std::vector<std::pair<const std::string*, JSONValue*>> keyed;
  keyed.reserve(entries.size());
  for (JSONValue& entry : entries) {
    const std::string* key = firstText(entry, {"title", "name", "id"});
    keyed.emplace_back(key ? key : &kEmpty, &entry);
  }
  std::unique_ptr<icu::Collator> collator = caseInsensitiveCollator();
  std::stable_sort(keyed.begin(), keyed.end(), [&collator](const auto& a, const auto& b) {
    if (collator) {
      UErrorCode status = U_ZERO_ERROR;
      const UCollationResult order = collator->compareUTF8(*a.first, *b.first, status);
      if (U_SUCCESS(status)) return order == UCOL_LESS;
    }
    return lessIgnoringASCIICase(*a.first, *b.first);
  });
  JSONValue::Array sorted;
  sorted.reserve(entries.size());
  for (auto& [key, entry] : keyed) sorted.push_back(std::move(*entry));
  entries = std::move(sorted);
}

// Drops repeats when asked, then sorts.
JSONValue::Array finishedList(JSONValue::Array entries, bool dropRepeats) {
  if (dropRepeats) removeRepeats(entries);
  sortByTitle(entries);
  return entries;
}

}  // namespace

JSONValue CodexCommandCatalogBuilder::catalog(const JSONValue& skillsResponse,
                                              const JSONValue& pluginResponse,
                                              const JSONValue& appsResponse,
                                              const JSONValue& modelsResponse,
                                              JSONValue::Array errors) const {
  JSONValue::Array slashCommands{
      JSONValue::object({{"name", "model"},
                         {"title", "Switch model"},
                         {"description", "Choose the Codex model for this tab."}})};
  return JSONValue::object({{"skills", skills(skillsResponse)},
                            {"plugins", plugins(pluginResponse)},
                            {"apps", apps(appsResponse)},
                            {"models", models(modelsResponse)},
                            {"errors", std::move(errors)},
                            {"slashCommands", std::move(slashCommands)}});
}

JSONValue::Array CodexCommandCatalogBuilder::skills(const JSONValue& response) const {
  JSONValue::Array entries;
  for (const JSONValue& group : arrayMember(response, "data")) {
    for (const JSONValue& element : arrayMember(group, "skills")) {
      if (std::optional<JSONValue> entry = skillEntry(element))
        entries.push_back(std::move(*entry));
    }
  }
  return finishedList(std::move(entries), true);
}

JSONValue::Array CodexCommandCatalogBuilder::plugins(const JSONValue& response) const {
  JSONValue::Array entries;
  for (const JSONValue& marketplace : arrayMember(response, "marketplaces")) {
    const std::string* marketplaceName = stringMember(&marketplace, "name");
    const std::string name = marketplaceName ? *marketplaceName : "unknown";
    for (const JSONValue& element : arrayMember(marketplace, "plugins")) {
      if (std::optional<JSONValue> entry = pluginEntry(element, name)) {
        entries.push_back(std::move(*entry));
      }
    }
  }
  return finishedList(std::move(entries), true);
}

JSONValue::Array CodexCommandCatalogBuilder::apps(const JSONValue& response) const {
  JSONValue::Array entries;
  for (const JSONValue& element : arrayMember(response, "data")) {
    if (std::optional<JSONValue> entry = appEntry(element)) entries.push_back(std::move(*entry));
  }
  return finishedList(std::move(entries), true);
}

JSONValue::Array CodexCommandCatalogBuilder::models(const JSONValue& response) const {
  JSONValue::Array entries;
  for (const JSONValue& element : arrayMember(response, "data")) {
    if (std::optional<JSONValue> entry = modelEntry(element)) entries.push_back(std::move(*entry));
  }
  // Models keep repeats: two entries with one id may differ in everything else.
  return finishedList(std::move(entries), false);
}

}  // namespace vellora
