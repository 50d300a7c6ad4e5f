#include <gtest/gtest.h>

#include <string>

#include "vellora-native-host/ChromeReplyFit.h"

namespace vellora {
namespace {

TEST(ShortenedTextTest, cutsBetweenCharactersSoThatTheWrittenStringFits) {
  struct Case {
    std::string text;
    std::size_t limitBytes;
    std::string expected;
  };
  const Case cases[] = {
      {"abcdefgh", 8, "abc\u2026"},
      {"abcdefgh", 7, "ab\u2026"},
      // Fits whole, quotes included: unchanged, no ellipsis.
      {"abc", 5, "abc"},
      // A two-byte character is kept whole or not at all.
      {"a\u00e9\u00e9\u00e9", 8, "a\u00e9\u2026"},
      {"a\u00e9\u00e9\u00e9", 7, "a\u2026"},
      // Escapes count as written: a quote takes two bytes, a control character six.
      {"a\"bcdef", 7, "a\u2026"},
      {"\x01xyz", 8, "\u2026"},
      // Not even the ellipsis fits.
      {"abcdefgh", 4, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text + " in " + std::to_string(c.limitBytes));
    EXPECT_EQ(shortenedText(c.text, c.limitBytes), c.expected);
  }
}

TEST(FittedReplyTest, keepsAReplyThatFitsAndDropsEchoedMembersThatCannot) {
  const NativeEnvelope done{.type = "chat.done", .requestId = "r1", .sessionId = "s1"};
  EXPECT_EQ(fittedReply(done, 1000), done);

  const NativeEnvelope hugeSession{
      .type = "chat.done", .requestId = "r1", .sessionId = std::string(2000, 's')};
  EXPECT_EQ(fittedReply(hugeSession, 1000),
            (NativeEnvelope{
                .type = "error",
                .code = "reply_too_large",
                .message = "The reply to a request does not fit Chrome's 1 MiB message limit."}));

  // An error keeps its code; its message is cut when the echoed members are gone.
  const NativeEnvelope error{.type = "error",
                             .requestId = std::string(2000, 'r'),
                             .code = "chat_turn_failed",
                             .message = std::string(2000, 'm')};
  const NativeEnvelope fitted = fittedReply(error, 1000);
  EXPECT_EQ(fitted.requestId, std::nullopt);
  EXPECT_EQ(fitted.code, "chat_turn_failed");
  ASSERT_TRUE(fitted.message);
  EXPECT_EQ(*fitted.message, std::string(fitted.message->size() - 3, 'm') + "\u2026");
  std::string written;
  fitted.appendJSON(written);
  EXPECT_LE(written.size(), 1000u);
  EXPECT_GT(written.size(), 990u);
}

}  // namespace
}  // namespace vellora
