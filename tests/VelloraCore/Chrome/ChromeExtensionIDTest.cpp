#include "VelloraCore/Chrome/ChromeExtensionID.h"

#include <gtest/gtest.h>

namespace vellora {
namespace {

TEST(ChromeExtensionIDTest, acceptsExactly32LettersFromAToP) {
  const struct {
    std::string text;
    bool expected;
  } cases[] = {
      {"abcdefghijklmnopabcdefghijklmnop", true},
      {std::string(32, 'p'), true},
      {"", false},
      {std::string(31, 'a'), false},
      {std::string(33, 'a'), false},
      {std::string(31, 'a') + "q", false},
      {std::string(31, 'a') + "A", false},
      {std::string(31, 'a') + "0", false},
      {std::string(31, 'a') + "`", false},
      // 32 user-perceived characters, each starting with "a", but not an ID Chrome could make.
      {[] {
         std::string text;
         for (int i = 0; i < 32; ++i) text += "a\xcc\x81";
         return text;
       }(),
       false},
      {std::string(16, 'a') + "\xc3\xa1" + std::string(14, 'a'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(isChromeExtensionID(c.text), c.expected);
  }
}

}  // namespace
}  // namespace vellora
