#include "VelloraCore/TurnContent/CodexCommandCatalogBuilder.h"

#include <gtest/gtest.h>
#include <unicode/locid.h>

namespace vellora {
namespace {

using Array = JSONValue::Array;

JSONValue parse(const char* text) {
  return JSONValue::parse(text);
}

std::vector<std::string> stringsOf(const Array& entries, const char* key) {
  std::vector<std::string> values;
  for (const JSONValue& entry : entries) {
    const JSONValue* member = entry.subscript(key);
    values.push_back(member && member->stringValue() ? *member->stringValue() : "<not text>");
  }
  return values;
}

// Sets ICU's default locale for one test and restores it afterwards.
class ScopedLocale {
 public:
  explicit ScopedLocale(const char* name) : saved_(icu::Locale::getDefault()) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale(name), status);
  }
  ~ScopedLocale() {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(saved_, status);
  }

 private:
  icu::Locale saved_;
};

TEST(CodexCommandCatalogBuilderTest, malformedResponsesStillGiveTheWholeCatalog) {
  const CodexCommandCatalogBuilder builder;
  const JSONValue errors[] = {
      JSONValue::object({{"method", "app/list"}, {"message", "timed out"}})};
  const JSONValue responses[] = {nullptr, "text", parse(R"({"data": {"skills": []}})"),
                                 parse(R"({"marketplaces": 3, "data": "x"})")};
  for (const JSONValue& response : responses) {
    EXPECT_EQ(
        builder.catalog(response, response, response, response,
                        Array(std::begin(errors), std::end(errors))),
        JSONValue::object(
            {{"skills", Array{}},
             {"plugins", Array{}},
             {"apps", Array{}},
             {"models", Array{}},
             {"errors", Array(std::begin(errors), std::end(errors))},
             {"slashCommands", Array{JSONValue::object(
                                   {{"name", "model"},
                                    {"title", "Switch model"},
                                    {"description", "Choose the Codex model for this tab."}})}}}))
        << response.serialized();
  }
}

TEST(CodexCommandCatalogBuilderTest, skillEntries) {
  const JSONValue response = parse(R"({"data": [
    {"cwd": "/w", "skills": [
      {"name": "review", "path": "/s/review/SKILL.md", "description": "Long",
       "shortDescription": "Short", "interface": {"displayName": "Code review",
       "shortDescription": "Reviews"}, "enabled": false},
      {"name": "plain", "path": "/s/plain/SKILL.md", "description": "Only long",
       "interface": "not an object"},
      {"name": "nameless-path"},
      {"name": "another-without-path", "description": 5},
      {"path": "/s/no-name/SKILL.md"},
      "not an object"]},
    {"skills": [{"name": "again", "path": "/s/review/SKILL.md"}]},
    {"errors": []}]})");
  EXPECT_EQ(CodexCommandCatalogBuilder().skills(response),
            (Array{JSONValue::object({{"kind", "skill"},
                                      {"name", "review"},
                                      {"title", "Code review"},
                                      {"description", "Reviews"},
                                      {"path", "/s/review/SKILL.md"},
                                      {"enabled", false}}),
                   JSONValue::object({{"kind", "skill"},
                                      {"name", "nameless-path"},
                                      {"title", "nameless-path"},
                                      {"description", ""},
                                      {"path", ""},
                                      {"enabled", true}}),
                   JSONValue::object({{"kind", "skill"},
                                      {"name", "plain"},
                                      {"title", "plain"},
                                      {"description", "Only long"},
                                      {"path", "/s/plain/SKILL.md"},
                                      {"enabled", true}})}));
}

TEST(CodexCommandCatalogBuilderTest, pluginEntries) {
  const JSONValue response = parse(R"({"marketplaces": [
    {"name": "a", "plugins": [
      {"name": "linter", "installed": true, "enabled": true,
       "interface": {"displayName": "Linter", "longDescription": "Finds lint"},
       "description": "not used"},
      {"name": "linter"}]},
    {"name": "b", "plugins": [{"name": "linter", "interface": {"shortDescription": "Short",
                                                               "longDescription": "Long"}}]},
    {"plugins": [{"name": "orphan", "description": "not used"}, {"title": "no name"}]},
    {"name": "c"}]})");
  const Array plugins = CodexCommandCatalogBuilder().plugins(response);
  EXPECT_EQ(plugins, (Array{JSONValue::object({{"kind", "plugin"},
                                               {"name", "linter"},
                                               {"title", "Linter"},
                                               {"description", "Finds lint"},
                                               {"path", "plugin://linter@a"},
                                               {"marketplaceName", "a"},
                                               {"installed", true},
                                               {"enabled", true}}),
                            JSONValue::object({{"kind", "plugin"},
                                               {"name", "linter"},
                                               {"title", "linter"},
                                               {"description", "Short"},
                                               {"path", "plugin://linter@b"},
                                               {"marketplaceName", "b"},
                                               {"installed", false},
                                               {"enabled", false}}),
                            JSONValue::object({{"kind", "plugin"},
                                               {"name", "orphan"},
                                               {"title", "orphan"},
                                               {"description", ""},
                                               {"path", "plugin://orphan@unknown"},
                                               {"marketplaceName", "unknown"},
                                               {"installed", false},
                                               {"enabled", false}})}));
}

TEST(CodexCommandCatalogBuilderTest, appEntries) {
  const JSONValue response = parse(R"({"data": [
    {"id": "maps", "name": "Maps", "displayName": "Map viewer", "description": null,
     "isEnabled": true, "isAccessible": true, "logoUrl": "https://l/m.png"},
    {"name": "No id"},
    {"id": 7, "name": "Numeric id"},
    {"id": "cal", "name": "Calendar"},
    {"id": "cal", "name": "Calendar again"}]})");
  EXPECT_EQ(CodexCommandCatalogBuilder().apps(response),
            (Array{JSONValue::object({{"kind", "app"},
                                      {"id", "cal"},
                                      {"name", "Calendar"},
                                      {"title", "Calendar"},
                                      {"description", ""},
                                      {"path", "app://cal"},
                                      {"enabled", false},
                                      {"accessible", false},
                                      {"logoUrl", nullptr},
                                      {"logoUrlDark", nullptr}}),
                   JSONValue::object({{"kind", "app"},
                                      {"id", "maps"},
                                      {"name", "Maps"},
                                      {"title", "Maps"},
                                      {"description", nullptr},
                                      {"path", "app://maps"},
                                      {"enabled", true},
                                      {"accessible", true},
                                      {"logoUrl", "https://l/m.png"},
                                      {"logoUrlDark", nullptr}})}));
}

TEST(CodexCommandCatalogBuilderTest, modelEntriesKeepRepeats) {
  const JSONValue response = parse(R"({"data": [
    {"id": "m-2", "model": "gpt-x", "displayName": "Zed", "hidden": true, "isDefault": true,
     "inputModalities": ["text", "image"], "defaultReasoningEffort": "medium",
     "supportedReasoningEfforts": [{"reasoningEffort": "low"}], "description": "Fast"},
    {"id": "m-2", "displayName": "Zed"},
    {"model": "only-model"},
    {"id": "beta-model", "displayName": null},
    {"displayName": "nothing"}]})");
  const Array models = CodexCommandCatalogBuilder().models(response);
  EXPECT_EQ(stringsOf(models, "id"),
            (std::vector<std::string>{"beta-model", "only-model", "m-2", "m-2"}));
  EXPECT_EQ(models[0], JSONValue::object({{"kind", "model"},
                                          {"id", "beta-model"},
                                          {"model", "beta-model"},
                                          {"title", nullptr},
                                          {"description", ""},
                                          {"hidden", false},
                                          {"isDefault", false},
                                          {"inputModalities", Array{}},
                                          {"defaultReasoningEffort", nullptr},
                                          {"supportedReasoningEfforts", Array{}}}));
  EXPECT_EQ(*models[1].subscript("model"), JSONValue("only-model"));
  EXPECT_EQ(models[2],
            JSONValue::object({{"kind", "model"},
                               {"id", "m-2"},
                               {"model", "gpt-x"},
                               {"title", "Zed"},
                               {"description", "Fast"},
                               {"hidden", true},
                               {"isDefault", true},
                               {"inputModalities", Array{"text", "image"}},
                               {"defaultReasoningEffort", "medium"},
                               {"supportedReasoningEfforts",
                                Array{JSONValue::object({{"reasoningEffort", "low"}})}}}));
}

TEST(CodexCommandCatalogBuilderTest, repeatsShareOneKeySetAcrossPathIdAndName) {
  // The second entry has no text path, so its key is its name, which the first entry's path
  // already took.
  const JSONValue response = parse(R"({"data": [{"skills": [
    {"name": "first", "path": "shared"},
    {"name": "shared", "path": 12},
    {"name": "third", "path": "shared-not"}]}]})");
  EXPECT_EQ(stringsOf(CodexCommandCatalogBuilder().skills(response), "name"),
            (std::vector<std::string>{"first", "third"}));
}

TEST(CodexCommandCatalogBuilderTest, titlesSortIgnoringCaseInEveryLocale) {
  const JSONValue response = parse(R"({"data": [
    {"id": "1", "name": "beta"}, {"id": "2", "name": "Alpha"}, {"id": "3", "name": "alpha2"},
    {"id": "4", "name": "zeta"}, {"id": "5", "name": "ALPHA"}, {"id": "6", "name": "Éclair"},
    {"id": "7", "name": "alpha"}, {"id": "8", "name": "Delta"}, {"id": "9", "name": ""}]})");
  for (const char* locale : {"en_US_POSIX", "en_US", "de_DE", "fr_FR", ""}) {
    ScopedLocale scoped(locale);
    EXPECT_EQ(stringsOf(CodexCommandCatalogBuilder().apps(response), "name"),
              (std::vector<std::string>{"", "Alpha", "ALPHA", "alpha", "alpha2", "beta", "Delta",
                                        "Éclair", "zeta"}))
        << locale;
  }
}

}  // namespace
}  // namespace vellora
