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

// An envelope with every field set.
NativeEnvelope everyField() {
  return NativeEnvelope{
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
}

TEST(NativeEnvelopeTest, everyFieldSurvivesAWriteAndRead) {
  const NativeEnvelope envelope = everyField();
  EXPECT_EQ(read(write(envelope)), envelope);
}

TEST(NativeEnvelopeTest, writesEveryFieldUnderItsNameInOneFixedOrder) {
  EXPECT_EQ(write(everyField()),
            R"({"type":"chat.turn","requestId":"r1","sessionId":"s1",)"
            R"("prompt":"Summarise \"this\" page",)"
            R"("context":{"title":"é","url":"https:\/\/example.com\/a"},)"
            R"("commands":[{"kind":"skill","name":"x"}],"model":"m","reasoningEffort":"low",)"
            R"("ok":false,"app":"a","version":"1",)"
            R"("status":{"appServer":"error","auth":"starting","codex":"missing",)"
            R"("companion":"ready","extension":"ready","nativeHost":"ready"},)"
            R"("delta":"d","attachment":{"bytes":12,"id":"x"},"messageId":"m1","code":"c",)"
            R"("message":"line\nbreak","catalog":{"skills":[]}})");
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
  // The error names the first wrong field in the envelope's own order, whatever the text's.
  struct Case {
    const char* label;
    std::string text;
    NativeEnvelopeError::Case expected;
    const char* field;
  } cases[] = {
      {"null payload", "null", NativeEnvelopeError::Case::notAnObject, ""},
      {"array payload", R"([{"type":"ping"}])", NativeEnvelopeError::Case::notAnObject, ""},
      {"string payload", R"("ping")", NativeEnvelopeError::Case::notAnObject, ""},
      {"no type", R"({"requestId":"r"})", NativeEnvelopeError::Case::missingType, "type"},
      {"null type", R"({"type":null})", NativeEnvelopeError::Case::missingType, "type"},
      {"numeric type", R"({"type":1})", NativeEnvelopeError::Case::missingType, "type"},
      {"numeric type and prompt", R"({"prompt":5,"type":1})",
       NativeEnvelopeError::Case::missingType, "type"},
      {"numeric prompt", R"({"type":"chat.turn","prompt":5})",
       NativeEnvelopeError::Case::wrongFieldType, "prompt"},
      {"boolean requestId", R"({"type":"ping","requestId":true})",
       NativeEnvelopeError::Case::wrongFieldType, "requestId"},
      {"text ok", R"({"type":"pong","ok":"true"})", NativeEnvelopeError::Case::wrongFieldType,
       "ok"},
      {"text ok before numeric prompt", R"({"type":"pong","ok":"true","prompt":5})",
       NativeEnvelopeError::Case::wrongFieldType, "prompt"},
      {"numeric message after numeric code", R"({"type":"error","message":1,"code":2})",
       NativeEnvelopeError::Case::wrongFieldType, "code"},
      {"status as text", R"({"type":"health","status":"ready"})",
       NativeEnvelopeError::Case::wrongFieldType, "status"},
      {"capitalised state", R"({"type":"health","status":{)" + fullStatus + R"(,"auth":"Ready"}})",
       NativeEnvelopeError::Case::wrongFieldType, "status.auth"},
      {"status without auth", R"({"type":"health","status":{)" + fullStatus + "}}",
       NativeEnvelopeError::Case::wrongFieldType, "status.auth"},
      {"numeric state", R"({"type":"health","status":{)" + fullStatus + R"(,"auth":1}})",
       NativeEnvelopeError::Case::wrongFieldType, "status.auth"},
  };
  for (const Case& c : cases) {
    try {
      read(c.text);
      ADD_FAILURE() << c.label << ": read";
    } catch (const NativeEnvelopeError& error) {
      EXPECT_EQ(error.errorCase(), c.expected) << c.label;
      EXPECT_EQ(error.field(), c.field) << c.label;
      EXPECT_NE(std::string(error.what()), "") << c.label;
    }
  }
}

}  // namespace
}  // namespace vellora
