#include "VelloraCore/Protocol/NativeEnvelope.h"

#include <gtest/gtest.h>

#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {
namespace {

NativeEnvelope read(const std::string& text) {
  return NativeEnvelope::fromJSON(JSONValue::parse(text));
}

std::string write(const NativeEnvelope& envelope) {
  std::string out;
  envelope.appendJSON(out);
  return out;
}

const CompanionHealth kHealth{.companion = HealthState::ready,
                              .nativeHost = HealthState::ready,
                              .extension = HealthState::ready,
                              .codex = HealthState::missing,
                              .appServer = HealthState::error,
                              .auth = HealthState::starting};

TEST(NativeEnvelopeTest, everyFieldSurvivesAWriteAndRead) {
  NativeEnvelope envelope{
      .type = "chat.turn",
      .requestId = "r1",
      .sessionId = "s1",
      .prompt = "Summarise \"this\" page",
      .context = JSONValue::parse(R"({"url":"https://example.com/a","title":"é"})"),
      .commands = JSONValue::parse(R"([{"kind":"skill","name":"x"}])"),
      .model = "m",
      .reasoningEffort = "low",
      .ok = false,
      .app = "a",
      .version = "1",
      .status = kHealth,
      .delta = "d",
      .attachment = JSONValue::parse(R"({"id":"x","bytes":12})"),
      .messageId = "m1",
      .code = "c",
      .message = "line\nbreak",
      .catalog = JSONValue::parse(R"({"skills":[]})"),
  };
  EXPECT_EQ(read(write(envelope)), envelope);
}

TEST(NativeEnvelopeTest, writesOnlyPresentFields) {
  EXPECT_EQ(write({.type = "ping"}), R"({"type":"ping"})");
  EXPECT_EQ(write({.type = "pong", .requestId = "r/1", .ok = true}),
            R"({"type":"pong","requestId":"r\/1","ok":true})");
}

TEST(NativeEnvelopeTest, nullFieldsReadAsAbsentAndUnknownKeysAreIgnored) {
  NativeEnvelope envelope = read(
      R"({"type":"chat.turn","requestId":null,"context":null,"catalog":null,"status":null,
          "extra":{"deep":[1]},"prompt":"p"})");
  EXPECT_EQ(envelope, (NativeEnvelope{.type = "chat.turn", .prompt = "p"}));
  EXPECT_EQ(write(envelope), R"({"type":"chat.turn","prompt":"p"})");
}

TEST(NativeEnvelopeTest, readsHealthStatus) {
  NativeEnvelope envelope =
      read(R"({"type":"health","status":{"companion":"ready","nativeHost":"ready",
          "extension":"ready","codex":"missing","appServer":"error","auth":"starting",
          "other":"ignored"}})");
  EXPECT_EQ(envelope.status, kHealth);
  for (HealthState state : {HealthState::unknown, HealthState::ready, HealthState::missing,
                            HealthState::starting, HealthState::error}) {
    EXPECT_EQ(healthStateFromText(text(state)), state);
  }
  EXPECT_EQ(healthStateFromText("Ready"), std::nullopt);
  EXPECT_EQ(CompanionHealth::fromJSON(kHealth.toJSON()), kHealth);
}

TEST(NativeEnvelopeTest, refusesMalformedMessages) {
  const std::string fullStatus =
      R"("companion":"ready","nativeHost":"ready","extension":"ready","codex":"ready",
         "appServer":"ready")";
  struct Case {
    const char* label;
    std::string text;
    NativeEnvelopeError::Case expected;
  } cases[] = {
      {"null payload", "null", NativeEnvelopeError::Case::notAnObject},
      {"array payload", R"([{"type":"ping"}])", NativeEnvelopeError::Case::notAnObject},
      {"string payload", R"("ping")", NativeEnvelopeError::Case::notAnObject},
      {"no type", R"({"requestId":"r"})", NativeEnvelopeError::Case::missingType},
      {"null type", R"({"type":null})", NativeEnvelopeError::Case::missingType},
      {"numeric type", R"({"type":1})", NativeEnvelopeError::Case::missingType},
      {"numeric prompt", R"({"type":"chat.turn","prompt":5})",
       NativeEnvelopeError::Case::wrongFieldType},
      {"boolean requestId", R"({"type":"ping","requestId":true})",
       NativeEnvelopeError::Case::wrongFieldType},
      {"text ok", R"({"type":"pong","ok":"true"})", NativeEnvelopeError::Case::wrongFieldType},
      {"status as text", R"({"type":"health","status":"ready"})",
       NativeEnvelopeError::Case::wrongFieldType},
      {"capitalised state", R"({"type":"health","status":{)" + fullStatus + R"(,"auth":"Ready"}})",
       NativeEnvelopeError::Case::wrongFieldType},
      {"status without auth", R"({"type":"health","status":{)" + fullStatus + "}}",
       NativeEnvelopeError::Case::wrongFieldType},
      {"numeric state", R"({"type":"health","status":{)" + fullStatus + R"(,"auth":1}})",
       NativeEnvelopeError::Case::wrongFieldType},
  };
  for (const Case& c : cases) {
    try {
      read(c.text);
      ADD_FAILURE() << c.label << ": read";
    } catch (const NativeEnvelopeError& error) {
      EXPECT_EQ(error.errorCase(), c.expected) << c.label;
      EXPECT_NE(std::string(error.what()), "") << c.label;
    }
  }
}

}  // namespace
}  // namespace vellora
