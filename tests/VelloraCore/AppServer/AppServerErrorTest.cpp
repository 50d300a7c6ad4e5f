#include <gtest/gtest.h>

#include "VelloraCore/AppServer/AppServerError.h"

namespace vellora {
namespace {

TEST(AppServerErrorTest, descriptionsWordForWord) {
  struct Case {
    const char* label;
    AppServerError error;
    const char* expected;
  };
  const Case cases[] = {
      {"timeout", AppServerError::timeout("thread/start"),
       "Timed out waiting for app-server response to thread/start."},
      {"end, nothing known", AppServerError::unexpectedEOF(std::nullopt, std::nullopt),
       "Codex app-server closed its output stream."},
      {"end with exit code", AppServerError::unexpectedEOF(-2, std::nullopt),
       "Codex app-server closed its output stream. Exit code: -2."},
      {"end with both", AppServerError::unexpectedEOF(1, "boom"),
       "Codex app-server closed its output stream. Exit code: 1. Stderr: boom"},
      {"end with stderr only", AppServerError::unexpectedEOF(std::nullopt, "a\nb"),
       "Codex app-server closed its output stream. Stderr: a\nb"},
      {"not running", AppServerError::notRunning(), "Codex app-server is not running."},
      {"server", AppServerError::server(JSONValue::object({{"message", "quota exceeded"}})),
       "Codex app-server returned an error: quota exceeded."},
      // A message that ends its own sentence gets no second mark.
      {"server, full stop", AppServerError::server(JSONValue::object({{"message", "Bad prompt."}})),
       "Codex app-server returned an error: Bad prompt."},
      {"server, exclamation",
       AppServerError::server(JSONValue::object({{"message", "Slow down!"}})),
       "Codex app-server returned an error: Slow down!"},
      {"server, question", AppServerError::server(JSONValue::object({{"message", "Who are you?"}})),
       "Codex app-server returned an error: Who are you?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_STREQ(c.error.what(), c.expected);
  }
}

TEST(AppServerErrorTest, serverDescriptionFindsTheMostSpecificMessage) {
  struct Case {
    const char* label;
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {"notification params.error.message",
       R"({"method": "error", "params": {"error": {"message": "rate limited"}}, "message": "x"})",
       "rate limited"},
      {"response error.message", R"({"error": {"message": "bad request"}, "message": "x"})",
       "bad request"},
      {"plain message", R"({"code": -32600, "message": "Invalid request"})", "Invalid request"},
      {"nested JSON error", R"({"message": "{\"error\": {\"message\": \"quota exceeded\"}}"})",
       "quota exceeded"},
      {"nested JSON without inner message is taken whole",
       R"({"message": "{\"error\": {\"code\": 1}}"})", R"({"error": {"code": 1}})"},
      {"nested empty inner message is taken whole",
       R"({"message": "{\"error\": {\"message\": \"\"}}"})", R"({"error": {"message": ""}})"},
      {"empty candidate passes to the next",
       R"({"params": {"error": {"message": ""}}, "error": {"message": "second"}})", "second"},
      {"a step that is not an object is skipped",
       R"({"params": [1], "error": "text", "message": "third"})", "third"},
      {"a message that is not text is skipped", R"({"error": {"message": 5}, "message": "m"})",
       "m"},
      {"no message: the value written out", R"({"code": 1, "url": "a/b"})",
       R"({"code":1,"url":"a/b"})"},
      {"not an object", R"("overloaded")", R"("overloaded")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(AppServerError::server(JSONValue::parse(c.value)).what(),
              "Codex app-server returned an error: " + std::string(c.message) + ".");
  }
}

TEST(AppServerErrorTest, equalityComparesCaseAndPayload) {
  EXPECT_EQ(AppServerError::timeout("a"), AppServerError::timeout("a"));
  EXPECT_NE(AppServerError::timeout("a"), AppServerError::timeout("b"));
  EXPECT_NE(AppServerError::unexpectedEOF(1, "x"), AppServerError::unexpectedEOF(1, std::nullopt));
  EXPECT_NE(AppServerError::unexpectedEOF(1, "x"), AppServerError::unexpectedEOF(2, "x"));
  EXPECT_EQ(AppServerError::server(JSONValue::parse(R"({"a": [1]})")),
            AppServerError::server(JSONValue::parse(R"({"a": [1]})")));
  EXPECT_NE(AppServerError::server(JSONValue(1)), AppServerError::server(JSONValue(2)));
  EXPECT_NE(AppServerError::notRunning(), AppServerError::timeout(""));
}

}  // namespace
}  // namespace vellora
