#include "VelloraCore/Protocol/JSONValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string_view>
#include <vector>

namespace vellora {
namespace {

TEST(JSONValueTest, readsNestedDocumentAndWritesItBack) {
  JSONValue value = JSONValue::parse(R"({"a": 1, "b": [true, 0, null, "x"]})");
  EXPECT_EQ(
      value,
      (JSONValue(JSONValue::Object{{"a", 1.0}, {"b", JSONValue::Array{true, 0, nullptr, "x"}}})));
  EXPECT_EQ(JSONValue::parse(value.serialized()), value);
}

TEST(JSONValueTest, keepsLiteralCasesApart) {
  const JSONValue number = JSONValue::parse("1");
  const JSONValue text = JSONValue::parse(R"("1")");
  const JSONValue boolean = JSONValue::parse("true");
  EXPECT_EQ(number.kind(), JSONValue::Kind::number);
  EXPECT_EQ(text.kind(), JSONValue::Kind::string);
  EXPECT_EQ(boolean.kind(), JSONValue::Kind::boolean);
  EXPECT_NE(number, text);
  EXPECT_NE(number, boolean);
  EXPECT_NE(text, boolean);
  EXPECT_EQ(JSONValue::parse("0").boolValue(), std::nullopt);
  EXPECT_EQ(JSONValue::parse(R"("12")").numberValue(), std::nullopt);
  EXPECT_EQ(number.stringValue(), nullptr);
}

TEST(JSONValueTest, objectsCompareWithoutMemberOrder) {
  EXPECT_EQ(JSONValue::parse(R"({"a":1,"b":{"c":[1,2]}})"),
            JSONValue::parse(R"({"b":{"c":[1,2]},"a":1})"));
  EXPECT_NE(JSONValue::parse(R"({"a":1})"), JSONValue::parse(R"({"a":1,"b":2})"));
  EXPECT_NE(JSONValue::parse("[1,2]"), JSONValue::parse("[2,1]"));
}

TEST(JSONValueTest, subscriptFindsOnlyExactObjectKeys) {
  const JSONValue object = JSONValue::parse(R"({"Key": "v"})");
  ASSERT_NE(object.subscript("Key"), nullptr);
  EXPECT_EQ(*object.subscript("Key")->stringValue(), "v");
  EXPECT_EQ(object.subscript("key"), nullptr);
  for (const char* text : {"[1]", R"("Key")", "null", "3"}) {
    EXPECT_EQ(JSONValue::parse(text).subscript("Key"), nullptr) << text;
  }
}

TEST(JSONValueTest, objectLeavesOutAbsentPairs) {
  JSONValue value = JSONValue::object({{"a", JSONValue("x")}, {"b", std::nullopt}});
  ASSERT_NE(value.objectValue(), nullptr);
  EXPECT_EQ(value.objectValue()->size(), 1u);
  EXPECT_EQ(value.serialized(), R"({"a":"x"})");
}

TEST(JSONValueTest, readsEveryNumberAsDouble) {
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"3.0", 3.0},
      {"-0.5", -0.5},
      {"1e300", 1e300},
      {"18446744073709551616", 18446744073709551616.0},
      {"-9223372036854775809", -9223372036854775809.0},
      {"9007199254740993", 9007199254740992.0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JSONValue::parse(c.text).numberValue(), c.expected) << c.text;
  }
}

TEST(JSONValueTest, writesNumbersInShortestForm) {
  struct Case {
    double number;
    const char* expected;
  } cases[] = {
      {3.0, "3"},
      {-42, "-42"},
      {0.1, "0.1"},
      {1.5e-7, "1.5e-07"},
      {1e300, "1e+300"},
      {123456.75, "123456.75"},
      {9007199254740991.0, "9007199254740991"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JSONValue(c.number).serialized(), c.expected) << c.expected;
    EXPECT_EQ(JSONValue::parse(c.expected).numberValue(), c.number) << c.expected;
  }
}

TEST(JSONValueTest, refusesNumbersJSONCannotExpress) {
  for (double number : {std::nan(""), std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity()}) {
    JSONValue nested = JSONValue::object({{"a", JSONValue::Array{1, number}}});
    try {
      (void)nested.serialized();
      ADD_FAILURE() << "wrote " << number;
    } catch (const JSONError& error) {
      EXPECT_EQ(error.errorCase(), JSONError::Case::notEncodable);
    }
  }
}

TEST(JSONValueTest, escapesStringsForTheWire) {
  const std::string text = "a/b \"q\" \\ \n\t\x01 é";
  EXPECT_EQ(JSONValue(text).serialized(), R"("a\/b \"q\" \\ \n\t\u0001 é")");
  EXPECT_EQ(JSONValue(text).serialized({.escapeSlashes = false}), R"("a/b \"q\" \\ \n\t\u0001 é")");
  EXPECT_EQ(*JSONValue::parse(JSONValue(text).serialized()).stringValue(), text);
  EXPECT_EQ(*JSONValue::parse(R"("\u00e9\ud83d\ude00\/")").stringValue(), "é😀/");
  EXPECT_EQ(JSONValue::parse(R"(["\u00e9\ud83d\ude00\/\"\\\b\f\n\r\t\u0041x"])"),
            JSONValue(JSONValue::Array{"é😀/\"\\\b\f\n\r\tAx"}));

  // Long texts (measured before they are written) come out the same as short ones.
  const std::string piece = "a/b \"q\" \\ \n\r\t\b\f\x01\x1f é";
  std::string longText, escaped, escapedPlain;
  for (int i = 0; i < 10000; ++i) {
    longText += piece;
    escaped += R"(a\/b \"q\" \\ \n\r\t\b\f\u0001\u001f é)";
    escapedPlain += R"(a/b \"q\" \\ \n\r\t\b\f\u0001\u001f é)";
  }
  EXPECT_EQ(JSONValue(JSONValue::Array{longText, "x"}).serialized(), "[\"" + escaped + "\",\"x\"]");
  EXPECT_EQ(JSONValue(longText).serialized({.escapeSlashes = false}), '"' + escapedPlain + '"');
}

TEST(JSONValueTest, escapesEachByteWhereverItFallsAmongPlainOnes) {
  // Plain bytes are skipped eight at a time: every escape must be found at every offset, also
  // next to bytes above 0x7F.
  struct Case {
    std::string byte;
    std::string escaped;
    std::string escapedPlain;  // slashes left as they are
  };
  std::vector<Case> cases = {{"\"", R"(\")", R"(\")"},
                             {"\\", R"(\\)", R"(\\)"},
                             {"/", R"(\/)", "/"},
                             {"\n", R"(\n)", R"(\n)"},
                             {"\x1f", R"(\u001f)", R"(\u001f)"},
                             {std::string(1, '\0'), R"(\u0000)", R"(\u0000)"},
                             {"\x7f", "\x7f", "\x7f"},
                             {" ", " ", " "},
                             {"0", "0", "0"},
                             {"\xc3\xa9", "\xc3\xa9", "\xc3\xa9"}};
  for (const std::string& filler : {std::string("a"), std::string("\xff")}) {
    for (const Case& c : cases) {
      for (std::size_t offset = 0; offset <= 17; ++offset) {
        const std::string before(offset, filler[0]);
        const std::string after(19 - offset, filler[0]);
        const JSONValue value(before + c.byte + after);
        EXPECT_EQ(value.serialized(), '"' + before + c.escaped + after + '"')
            << "byte " << static_cast<int>(static_cast<unsigned char>(c.byte[0])) << " at "
            << offset;
        EXPECT_EQ(value.serialized({.escapeSlashes = false}),
                  '"' + before + c.escapedPlain + after + '"');
      }
    }
  }
}

// The escaper copies runs and escapes in whole words and works in blocks of 4096 bytes: escapes
// near the ends of runs and blocks, runs of every length up to a few words, and escapes of each
// length must come out as a byte-by-byte escaper writes them.
TEST(JSONValueTest, escapesLongTextsAsAByteByByteWriterDoes) {
  const auto byteByByte = [](const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == '\\' || c == '/') {
        out += '\\';
        out += c;
      } else if (c == '\n') {
        out += "\\n";
      } else if (byte < 0x20) {
        char form[8];
        std::snprintf(form, sizeof form, "\\u%04x", byte);
        out += form;
      } else {
        out += c;
      }
    }
    return out + '"';
  };
  const std::string escapes[] = {"/", "\x01", "\n", "\""};
  for (const std::string& escape : escapes) {
    for (std::size_t gap = 1; gap <= 40; gap += 3) {
      std::string text;
      for (std::size_t i = 0; text.size() < 3 * 4096 + 50; ++i) {
        text.append(gap + i % 7, static_cast<char>('a' + i % 26));
        text += escape;
      }
      SCOPED_TRACE("escape " + std::to_string(static_cast<unsigned char>(escape[0])) + ", gap " +
                   std::to_string(gap));
      EXPECT_EQ(JSONValue(text).serialized(), byteByByte(text));
      // The same text cut so that it ends just before, at and after an escape.
      for (std::size_t cut = text.size() - 20; cut < text.size(); ++cut) {
        EXPECT_EQ(JSONValue(text.substr(0, cut)).serialized(), byteByByte(text.substr(0, cut)));
      }
    }
  }
}

TEST(JSONValueTest, spillsLongValuesInBoundedPiecesThatJoinToTheWholeText) {
  std::string text;
  while (text.size() < 3 * JSONValue::kSpillBytes + 12345) text += "a/b \"q\" \\ \n caf\xC3\xA9 ";
  JSONValue::Array many;
  for (int i = 0; i < 20000; ++i) many.push_back(JSONValue::object({{"i", i}, {"s", "x/y"}}));
  const JSONValue value =
      JSONValue::object({{"a", 1}, {"many", many}, {"text", text}, {"z", true}});
  for (const JSONWriteOptions options :
       {JSONWriteOptions{}, JSONWriteOptions{.escapeSlashes = false}}) {
    std::vector<std::size_t> pieces;
    std::string joined;
    std::string out = "prefix:";
    value.serialize(out, options, [&](std::string& full) {
      pieces.push_back(full.size());
      joined += full;
      full.clear();
    });
    joined += out;
    EXPECT_EQ(joined, "prefix:" + value.serialized(options));
    EXPECT_GE(pieces.size(), 3u);
    for (std::size_t piece : pieces) {
      EXPECT_GE(piece, JSONValue::kSpillBytes);
      EXPECT_LT(piece, 2 * JSONValue::kSpillBytes);
    }
  }
}

TEST(JSONValueTest, prettyPrintsWithSortedKeys) {
  JSONValue value = JSONValue::parse(R"({"b":"x/y","a":["1","2"],"c":{}})");
  EXPECT_EQ(value.serialized({.escapeSlashes = false, .prettyPrinted = true}),
            "{\n  \"a\" : [\n    \"1\",\n    \"2\"\n  ],\n  \"b\" : \"x/y\",\n  \"c\" : {}\n}");
}

TEST(JSONValueTest, writesTheMemberAtAPathAsGivenText) {
  struct Row {
    const char* label;
    const char* json;
    std::vector<std::string_view> path;
    const char* expected;
  };
  const Row rows[] = {
      {"nested member",
       R"({"a":{"b":"long","c":[1]},"d":1})",
       {"a", "b"},
       R"({"a":{"b":0,"c":[1]},"d":1})"},
      {"top-level member", R"({"a":{"b":"long"},"d":1})", {"a"}, R"({"a":0,"d":1})"},
      {"only on the path from the top",
       R"({"b":1,"x":{"b":2,"a":{"b":2}},"a":{"b":3}})",
       {"a", "b"},
       R"({"a":{"b":0},"b":1,"x":{"a":{"b":2},"b":2}})"},
      {"key matched before escaping", R"({"a/b":{"c":1}})", {"a/b", "c"}, R"({"a\/b":{"c":0}})"},
      {"missing key", R"({"a":{"c":1}})", {"a", "b"}, R"({"a":{"c":1}})"},
      {"not an object on the way", R"({"a":"b"})", {"a", "b"}, R"({"a":"b"})"},
      {"array on the way", R"({"a":[{"b":1}]})", {"a", "b"}, R"({"a":[{"b":1}]})"},
      {"array at the top", R"([{"a":1,"b":1}])", {"a", "b"}, R"([{"a":1,"b":1}])"},
      {"empty path", R"({"a":1})", {}, R"({"a":1})"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    std::string out = "prefix:";
    JSONValue::parse(row.json).serialize(out, {}, row.path, "0");
    EXPECT_EQ(out, std::string("prefix:") + row.expected);
  }
  // The given text goes in as it is, also in the pretty form.
  std::string pretty;
  const std::string_view path[] = {"a", "b"};
  JSONValue::parse(R"({"a":{"b":1,"c":"x/y"}})")
      .serialize(pretty, {.escapeSlashes = false, .prettyPrinted = true}, path, R"(["/"])");
  EXPECT_EQ(pretty, "{\n  \"a\" : {\n    \"b\" : [\"/\"],\n    \"c\" : \"x/y\"\n  }\n}");
}

TEST(JSONValueTest, duplicateKeysKeepTheLastValue) {
  EXPECT_EQ(JSONValue::parse(R"({"a":1,"a":{"b":2},"c":3,"a":"last"})"),
            JSONValue::parse(R"({"c":3,"a":"last"})"));
}

TEST(JSONValueTest, refusesInvalidText) {
  const char* cases[] = {
      "",
      "   ",
      "{",
      "[1,]",
      "{\"a\":}",
      "nul",
      "'x'",
      "[1] 2",
      "{} {}",
      "01",
      "1.",
      "\"\x01\"",
      "\"\xff\"",
      "\"\xc3\"",
      "NaN",
      "Infinity",
      "{\"a\" 1}",
      "[\"a\"\"b\"]",
      // Strings inside containers are decoded by our own reader.
      R"(["\x"])",
      R"(["\u12G4"])",
      R"(["\ud800\u12G4"])",
      R"(["\ud800\u"])",
      R"({"\ud800\x":1})",
      // A string document is decoded by our own reader too, and nothing may follow it.
      R"("\x")",
      R"("\ud800" x)",
      R"("ab"c"d")",
      R"("ab" "cd")",
      R"("\ud800"1)",
      R"({"k":"\u00"})",
      "[\"\xc3\x28\"]",
      "[\"\x01\"]",
  };
  for (const char* text : cases) {
    EXPECT_THROW(JSONValue::parse(text), JSONError) << "input: " << text;
  }
}

// JavaScript makes lone surrogates whenever it cuts text inside an emoji ("😀".slice(0, 1)).
TEST(JSONValueTest, readsALoneSurrogateAsTheReplacementCharacter) {
  struct Row {
    const char* escaped;
    std::string text;
  };
  const Row rows[] = {
      {R"(\ud83d\ude00)", "😀"},
      {R"(\uD83D\uDE00)", "😀"},
      {R"(\udbff\udfff)", "\U0010FFFF"},
      {R"(\ud83d)", "\uFFFD"},
      {R"(\ude00)", "\uFFFD"},
      {R"(a\ud800b)", "a\uFFFDb"},
      {R"(\ud800\u0041)", "\uFFFDA"},
      {R"(\ud800\n)", "\uFFFD\n"},
      {R"(\ud800\ud800)", "\uFFFD\uFFFD"},
      {R"(\ude00\ud83d)", "\uFFFD\uFFFD"},
      {R"(\ud800\ud83d\ude00)", "\uFFFD😀"},
      {R"(\ude00\ud83d\ude00\ud83d)", "\uFFFD😀\uFFFD"},
      {R"(\ud800\\ude00)", "\uFFFD\\ude00"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.escaped);
    const std::string quoted = std::string("\"") + row.escaped + "\"";
    // A string document, a string inside containers, and an object key.
    EXPECT_EQ(JSONValue::parse(quoted), JSONValue(row.text));
    EXPECT_EQ(JSONValue::parse("[1," + quoted + "]"), JSONValue(JSONValue::Array{1, row.text}));
    EXPECT_EQ(JSONValue::parse("{\"a\":{" + quoted + ":" + quoted + "},\"b\":2}"),
              JSONValue::object({{"a", JSONValue::object({{row.text, row.text}})}, {"b", 2}}));
    // White space around a string document.
    EXPECT_EQ(JSONValue::parse(" \n" + quoted + "\t\r\n "), JSONValue(row.text));
  }
}

TEST(JSONValueTest, limitsNestingDepthWithoutOverflowingTheStack) {
  const std::string deepArrays = std::string(100000, '[') + std::string(100000, ']');
  const std::string deepObjects = [] {
    std::string text;
    for (int i = 0; i < 100000; ++i) text += "{\"a\":";
    return text + "1" + std::string(100000, '}');
  }();
  for (const std::string* text : {&deepArrays, &deepObjects}) {
    try {
      JSONValue::parse(*text);
      ADD_FAILURE() << "read a document nested 100000 levels deep";
    } catch (const JSONError& error) {
      EXPECT_EQ(error.errorCase(), JSONError::Case::tooDeep);
    }
  }
  const std::size_t limit = JSONValue::kMaxDepth;
  const std::string atLimit = std::string(limit, '[') + std::string(limit, ']');
  JSONValue value = JSONValue::parse(atLimit);
  EXPECT_EQ(JSONValue::parse(value.serialized()), value);
  const std::string pastLimit = "[" + atLimit + "]";
  EXPECT_THROW(JSONValue::parse(pastLimit), JSONError);
}

TEST(JSONValueTest, parsesPaddedTextInPlace) {
  std::string text = R"({"a":"b"})";
  const std::size_t size = text.size();
  text.resize(size + JSONValue::kParsePadding, ' ');
  EXPECT_EQ(JSONValue::parse(std::string_view(text.data(), size), text.size()),
            JSONValue::object({{"a", JSONValue("b")}}));
}

// A message that is mostly one string (a screenshot's data URL) keeps that string in the buffer
// it was read into: the value read is the same as parse() reads, wherever the string lies and
// whatever escapes it holds.
TEST(JSONValueTest, readsAMessageThatIsMostlyOneStringIntoItsOwnBuffer) {
  const std::string filler(200, 'x');
  const std::string escapes =
      filler + R"(\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00\ud800\ude00a\u0041)" + filler;
  const std::string cases[] = {
      R"({"a":")" + filler + R"(","b":1})",
      R"([1,")" + filler + R"(",true])",
      R"({"a":[{"b":[null,{"c":")" + escapes + R"("}]}],"d":"e"})",
      // The same key again: the last value wins, whether or not the long string is in it.
      R"({"a":")" + filler + R"(","a":2})",
      R"({"a":2,"a":")" + filler + R"("})",
      R"({"a":{"b":")" + filler + R"("},"a":{"b":"short"}})",
      R"({"a":{"b":")" + filler + R"("},"c":{"a":1},"a":[]})",
      // No string long enough: read as parse() does.
      R"({"a":")" + filler.substr(0, 60) + R"(","b":")" + filler.substr(0, 60) + R"("})",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(JSONValue::parseOwned(text), JSONValue::parse(text));
  }

  std::string buffer = R"({"type":"chat.turn","dataUrl":")" + escapes + R"("})";
  buffer.reserve(buffer.size() + JSONValue::kParsePadding);
  const char* storage = buffer.data();
  const JSONValue expected = JSONValue::parse(buffer);
  const JSONValue read = JSONValue::parseOwned(std::move(buffer));
  EXPECT_EQ(read, expected);
  EXPECT_EQ(read.subscript("dataUrl")->stringValue()->data(), storage);

  for (const std::string& broken :
       {R"({"a":")" + filler + R"(\x"})", R"({"a":")" + filler + R"("} 1)",
        R"({"a":")" + filler + R"(")",
        // A long string replaced by the same key again is still read, and refused.
        R"({"a":")" + filler + R"(\U","a":1})", R"({"a":{"b":")" + filler + R"(\u12"},"a":1})"}) {
    EXPECT_THROW(JSONValue::parseOwned(broken), JSONError) << broken;
  }
}

}  // namespace
}  // namespace vellora
