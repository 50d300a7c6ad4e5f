#include "VelloraCore/TurnContent/Base64.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(Base64Test, encodesWithPaddingAndRoundTripsEveryByte) {
  EXPECT_EQ(base64Encoded(""), "");
  EXPECT_EQ(base64Encoded("a"), "YQ==");
  EXPECT_EQ(base64Encoded("ab"), "YWI=");
  EXPECT_EQ(base64Encoded("abc"), "YWJj");
  EXPECT_EQ(base64Encoded("\xFB\xFF"), "+/8=");
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (std::size_t length = 0; length <= 5; ++length) {
    const std::string slice = bytes.substr(0, 256 - length);
    EXPECT_EQ(base64Encoded(slice).size(), base64EncodedLength(slice.size()));
    EXPECT_EQ(base64Decoded(base64Encoded(slice)), slice) << length;
  }
}

TEST(Base64Test, decodingIsStrict) {
  struct Row {
    const char* text;
    std::optional<std::string> expected;
  };
  const Row rows[] = {
      {"", std::string()},           {"YQ==", std::string("a")},
      {"YWI=", std::string("ab")},   {"+/8=", std::string("\xFB\xFF")},
      {"YQ", std::nullopt},                                   // padding missing
      {"YQ=", std::nullopt},                                  // length not a multiple of four
      {"YW I=", std::nullopt},                                // white space
      {"YWI=\n", std::nullopt},                               // line break
      {"YQ==YQ==", std::nullopt},                             // padding in the middle
      {"Y===", std::nullopt},                                 // too much padding
      {"====", std::nullopt},        {"YW-_", std::nullopt},  // URL-safe alphabet
      {"YWJ\xC3\xA9", std::nullopt},                          // non-ASCII
  };
  for (const Row& row : rows) {
    EXPECT_EQ(base64Decoded(row.text), row.expected) << row.text;
  }
}

}  // namespace
}  // namespace vellora
