#include <gtest/gtest.h>

#include <cstdint>

#include "VelloraCore/Protocol/NativeMessageCodec.h"
#include "tests/support/HostProcess.h"

namespace vellora {
namespace {

std::string header(std::uint32_t length) {
  return std::string(reinterpret_cast<const char*>(&length), 4);
}

std::string frame(std::string_view payload) {
  return header(static_cast<std::uint32_t>(payload.size())) + std::string(payload);
}

TEST(NativeHostTest, answersPingsAndUnknownTypesThenExitsCleanly) {
  test::HostProcess host;
  struct Case {
    NativeEnvelope request;
    NativeEnvelope reply;
  } cases[] = {
      {{.type = "ping", .requestId = "r1"},
       {.type = "pong",
        .requestId = "r1",
        .ok = true,
        .app = "vellora-companion",
        .version = "0.1.0"}},
      {{.type = "ping", .prompt = "ignored"},
       {.type = "pong", .ok = true, .app = "vellora-companion", .version = "0.1.0"}},
      {{.type = "Ping", .requestId = "r2"},
       {.type = "error",
        .requestId = "r2",
        .code = "unsupported_message",
        .message = "Unsupported Native Messaging request type: Ping"}},
      {{.type = ""},
       {.type = "error",
        .code = "unsupported_message",
        .message = "Unsupported Native Messaging request type: "}},
  };
  for (const Case& c : cases) {
    host.send(c.request);
    EXPECT_EQ(host.readReply(), c.reply) << c.request.type;
  }
  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

TEST(NativeHostTest, replyToARequestWithNullIdHasNoRequestIdKey) {
  test::HostProcess host;
  host.sendBytes(frame(R"({"type":"ping","requestId":null})"));
  EXPECT_EQ(host.readRawFrame(),
            frame(R"({"type":"pong","ok":true,"app":"vellora-companion","version":"0.1.0"})"));
  EXPECT_EQ(host.waitForExit(), 0);
}

// JavaScript cuts text inside an emoji ("😀".slice(0, 1)) and sends the half as a lone
// surrogate escape: it reads as U+FFFD, in a value and in a key, and the host serves on.
TEST(NativeHostTest, aLoneSurrogateEscapeReadsAsTheReplacementCharacter) {
  test::HostProcess host;
  const std::string replacement = "\xEF\xBF\xBD";  // U+FFFD
  const struct {
    std::string request;
    std::string echoedRequestId;
  } cases[] = {
      {R"({"type":"ping","requestId":"cut \ud83d"})", "cut " + replacement},
      {R"({"type":"ping","requestId":"\ude00 low first"})", replacement + " low first"},
      {R"({"type":"ping","requestId":"\ud83d\ud83d\ude00"})", replacement + "\xF0\x9F\x98\x80"},
      {R"({"type":"ping","requestId":"a pair \ud83d\ude00 stays"})",
       "a pair \xF0\x9F\x98\x80 stays"},
      {R"({"type":"ping","requestId":"key","\udfff":1})", "key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    host.sendBytes(frame(c.request));
    std::optional<NativeEnvelope> reply = host.readReply();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->type, "pong");
    EXPECT_EQ(reply->requestId, c.echoedRequestId);
  }
  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

TEST(NativeHostTest, aBadFrameGetsOneErrorAndExitStatusOne) {
  struct Case {
    const char* label;
    std::string bytes;
    std::string message;
  } cases[] = {
      {"payload not JSON", frame("{nope") + frame(R"({"type":"ping"})"), ""},
      {"truncated header", "\x05\x00", "Native Messaging frame header is truncated."},
      {"huge announced length", header(0xFFFFFFFF) + "0123456789",
       "Native Messaging frame payload is truncated."},
      {"invalid UTF-8", frame("{\"type\":\"ping\",\"prompt\":\"\xC3\x28\"}"), ""},
      {"null payload", frame("null"), ""},
      {"array payload", frame(R"([{"type":"ping"}])"), ""},
      {"no type", frame(R"({"requestId":"r1"})"), ""},
      {"type not text", frame(R"({"type":7})"), ""},
      {"numeric prompt", frame(R"({"type":"chat.turn","prompt":3})"), ""},
      {"capitalised state",
       frame(R"({"type":"health","status":{"companion":"Ready","nativeHost":"ready",
              "extension":"ready","codex":"ready","appServer":"ready","auth":"ready"}})"),
       ""},
      {"deep nesting", frame(std::string(100000, '[') + std::string(100000, ']')), ""},
  };
  for (const Case& c : cases) {
    test::HostProcess host;
    host.sendBytes(c.bytes);
    host.closeInput();
    std::optional<NativeEnvelope> reply = host.readReply();
    ASSERT_TRUE(reply) << c.label;
    EXPECT_EQ(reply->type, "error") << c.label;
    EXPECT_EQ(reply->code, "native_host_error") << c.label;
    EXPECT_EQ(reply->requestId, std::nullopt) << c.label;
    EXPECT_EQ(reply->ok, std::nullopt) << c.label;
    ASSERT_TRUE(reply->message) << c.label;
    if (!c.message.empty()) {
      EXPECT_EQ(*reply->message, c.message) << c.label;
    }
    EXPECT_EQ(host.readReply(), std::nullopt) << c.label << ": nothing after the error";
    EXPECT_EQ(host.waitForExit(), 1) << c.label;
    EXPECT_EQ(host.standardErrorText(), "") << c.label;
  }
}

TEST(NativeHostTest, endOfInputBeforeAnyRequestExitsWithZero) {
  test::HostProcess host;
  EXPECT_EQ(host.waitForExit(), 0);
}

}  // namespace
}  // namespace vellora
