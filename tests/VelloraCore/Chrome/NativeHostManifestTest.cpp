#include "VelloraCore/Chrome/NativeHostManifest.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

const std::string kA(32, 'a');
const std::string kB(32, 'b');

TEST(NativeHostManifestTest, encodesTheFileChromeReads) {
  const NativeHostManifest manifest("/Applications/Vellora.app/Contents/MacOS/vellora-native-host",
                                    {kB, kA, kB});
  EXPECT_EQ(manifest.encodedData(),
            "{\n"
            "  \"allowed_origins\" : [\n"
            "    \"chrome-extension://bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb/\",\n"
            "    \"chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa/\",\n"
            "    \"chrome-extension://bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb/\"\n"
            "  ],\n"
            "  \"description\" : \"Vellora native companion bridge\",\n"
            "  \"name\" : \"com.vellora.companion\",\n"
            "  \"path\" : \"/Applications/Vellora.app/Contents/MacOS/vellora-native-host\",\n"
            "  \"type\" : \"stdio\"\n"
            "}\n");
  EXPECT_EQ(
      NativeHostManifest("/h", {}).encodedData(),
      "{\n  \"allowed_origins\" : [],\n  \"description\" : \"Vellora native companion bridge\",\n"
      "  \"name\" : \"com.vellora.companion\",\n  \"path\" : \"/h\",\n  \"type\" : \"stdio\"\n}\n");
}

TEST(NativeHostManifestTest, readsBackWhatItWrites) {
  const NativeHostManifest manifest("/Users/a b/\"quoted\"/host\\é", {kA, kB});
  EXPECT_EQ(NativeHostManifest::fromJSON(JSONValue::parse(manifest.encodedData())), manifest);
}

TEST(NativeHostManifestTest, readingNeedsAllFiveKeysWithTheirTypes) {
  const JSONValue complete = NativeHostManifest("/h", {kA}).toJSON();
  struct Case {
    const char* label;
    const char* key;
    std::optional<JSONValue> value;  // none: the key is removed
  };
  const Case cases[] = {
      {"no name", "name", std::nullopt},
      {"no description", "description", std::nullopt},
      {"no path", "path", std::nullopt},
      {"no type", "type", std::nullopt},
      {"no origins", "allowed_origins", std::nullopt},
      {"numeric name", "name", JSONValue(1)},
      {"null path", "path", JSONValue()},
      {"origins as text", "allowed_origins", JSONValue("chrome-extension://x/")},
      {"an origin that is a number", "allowed_origins", JSONValue(JSONValue::Array{"a", 2})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    JSONValue edited = complete;
    if (c.value) {
      (*edited.objectValue())[c.key] = *c.value;
    } else {
      edited.objectValue()->erase(c.key);
    }
    EXPECT_EQ(NativeHostManifest::fromJSON(edited), std::nullopt);
  }
  EXPECT_EQ(NativeHostManifest::fromJSON(JSONValue(JSONValue::Array{})), std::nullopt);

  JSONValue extra = complete;
  (*extra.objectValue())["comment"] = "ignored";
  EXPECT_EQ(NativeHostManifest::fromJSON(extra), NativeHostManifest("/h", {kA}));
}

TEST(NativeHostManifestTest, refusesToEncodeTextThatIsNotUTF8) {
  try {
    (void)NativeHostManifest("/opt/host\xff", {kA}).encodedData();
    FAIL() << "encoded a path that is not UTF-8";
  } catch (const JSONError& error) {
    EXPECT_EQ(error.errorCase(), JSONError::Case::notEncodable);
  }
}

}  // namespace
}  // namespace vellora
