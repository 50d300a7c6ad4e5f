#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/TurnContent/Base64.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/FakeCodexScenario.h"
#include "tests/support/HostProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace test::fakeCodex;

// One Native Messaging frame: the payload's length in native byte order, then the payload.
std::string frame(std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(payload.size());
  return std::string(reinterpret_cast<const char*>(&length), 4) + std::string(payload);
}

NativeEnvelope chatTurn(std::optional<std::string> requestId, std::optional<std::string> sessionId,
                        std::string prompt = "Hi") {
  return {.type = "chat.turn",
          .requestId = std::move(requestId),
          .sessionId = std::move(sessionId),
          .prompt = std::move(prompt)};
}

NativeEnvelope chatDelta(const std::string& requestId, const std::string& sessionId,
                         const std::string& text) {
  return {.type = "chat.delta", .requestId = requestId, .sessionId = sessionId, .delta = text};
}

NativeEnvelope chatDone(const std::string& requestId, const std::string& sessionId) {
  return {.type = "chat.done", .requestId = requestId, .sessionId = sessionId};
}

NativeEnvelope chatTurnFailed(const std::string& requestId, const std::string& message) {
  return {.type = "error", .requestId = requestId, .code = "chat_turn_failed", .message = message};
}

const NativeEnvelope kPong = {
    .type = "pong", .requestId = "p1", .ok = true, .app = "vellora-companion", .version = "0.1.0"};

// The real host over real pipes, with a temporary HOME and the stand-in for `codex app-server`
// named by VELLORA_CODEX_PATH.
class ChatTurnTest : public ::testing::Test {
 protected:
  Environment hostEnvironment(bool withCodex = true) const {
    Environment environment = {{"HOME", home_.path()},
                               {"PATH", "/usr/bin:/bin"},
                               {"LANG", "C"},
                               {test::kFakeCodexScenarioVariable, scenario_.path()}};
    if (withCodex) environment["VELLORA_CODEX_PATH"] = test::kFakeCodexPath;
    return environment;
  }

  // The host exits with status 0 at the end of its input and never writes to standard error.
  static void expectCleanExit(test::HostProcess& host) {
    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_EQ(host.standardErrorText(), "");
  }

  test::TemporaryDirectory home_;
  test::FakeCodexScenario scenario_{home_.path()};
};

TEST_F(ChatTurnTest, turns_streamTheirDeltasThenDoneForEachSession) {
  scenario_.write(
      {{"thread/start#1", JSONValue::Array{threadStarted("thread-A")}},
       {"thread/start#2", JSONValue::Array{threadStarted("thread-B")}},
       {"turn/start", JSONValue::Array{turnStarted(), delta("Hel", "turn-1", "$params.threadId"),
                                       delta("lo", "turn-1", "$params.threadId"),
                                       delta(" you", "turn-1", "$params.threadId"),
                                       turnCompleted("turn-1", "completed", "$params.threadId")}}});
  test::HostProcess host(hostEnvironment());

  struct Case {
    std::optional<std::string> requestId;
    std::string sessionId;
    // requestId and sessionId as they appear in each message of the turn
    std::string labels;
  };
  const Case cases[] = {
      {"r1", "s1", R"("requestId":"r1","sessionId":"s1")"},
      {"r2", "s1", R"("requestId":"r2","sessionId":"s1")"},
      {std::nullopt, "s2", R"("sessionId":"s2")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.labels);
    host.send(chatTurn(c.requestId, c.sessionId));
    for (const char* text : {"Hel", "lo", " you"}) {
      EXPECT_EQ(host.readRawFrame(),
                frame(R"({"type":"chat.delta",)" + c.labels + R"(,"delta":")" + text + R"("})"));
    }
    EXPECT_EQ(host.readRawFrame(), frame(R"({"type":"chat.done",)" + c.labels + "}"));
  }
  // Only presence is checked: an empty session id and prompt are passed on.
  host.send(chatTurn("r4", "", ""));
  EXPECT_EQ(host.readReply(), chatDelta("r4", "", "Hel"));
  EXPECT_EQ(host.readReply(), chatDelta("r4", "", "lo"));
  EXPECT_EQ(host.readReply(), chatDelta("r4", "", " you"));
  EXPECT_EQ(host.readReply(), chatDone("r4", ""));
  expectCleanExit(host);

  std::vector<std::string> threads;
  for (const JSONValue& params : scenario_.paramsOf("turn/start")) {
    threads.push_back(*params.subscript("threadId")->stringValue());
  }
  EXPECT_THAT(threads, ElementsAre("thread-A", "thread-A", "thread-B", "thread-1"));
  EXPECT_EQ(scenario_.paramsOf("initialize").size(), 1u);
}

TEST_F(ChatTurnTest, aTurnWithoutSessionIdOrPrompt_getsOnlyInvalidChatTurn) {
  scenario_.write({});
  test::HostProcess host(hostEnvironment());
  const std::string message = R"("code":"invalid_chat_turn",)"
                              R"("message":"chat.turn requires sessionId and prompt."})";
  struct Case {
    const char* request;
    std::string reply;
  } cases[] = {
      {R"({"type":"chat.turn","requestId":"r1","prompt":"Hi"})",
       R"({"type":"error","requestId":"r1",)" + message},
      {R"({"type":"chat.turn","requestId":"r2","sessionId":null,"prompt":"Hi"})",
       R"({"type":"error","requestId":"r2",)" + message},
      {R"({"type":"chat.turn","requestId":"r3","sessionId":"s1"})",
       R"({"type":"error","requestId":"r3",)" + message},
      {R"({"type":"chat.turn","sessionId":"s1","prompt":null})", R"({"type":"error",)" + message},
  };
  for (const Case& c : cases) {
    host.sendBytes(frame(c.request));
    EXPECT_EQ(host.readRawFrame(), frame(c.reply)) << c.request;
  }
  expectCleanExit(host);
  EXPECT_THAT(scenario_.received(), IsEmpty()) << "the app-server was started";
}

TEST_F(ChatTurnTest, aFailingTurn_sendsItsDeltasThenOneErrorAndNoDone) {
  scenario_.write(
      {{"turn/start#1", JSONValue::Array{turnStarted(), delta("a"), delta("b"),
                                         errorNotice(R"({"threadId": "thread-1", "turnId": "turn-1",
                             "willRetry": false, "error": {"message": "Quota exceeded"}})"),
                                         turnFailed("Quota exceeded")}},
       // Codex reports the failure only in the turn's completion.
       {"turn/start#2", JSONValue::Array{turnStarted("turn-2"), delta("c", "turn-2"),
                                         turnFailed("Model overloaded", "turn-2")}}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "a"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "b"));
  EXPECT_EQ(host.readReply(),
            chatTurnFailed("r1", "Codex app-server returned an error: Quota exceeded."));

  host.send(chatTurn("r2", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r2", "s1", "c"));
  EXPECT_EQ(host.readReply(),
            chatTurnFailed("r2", "Codex app-server returned an error: Model overloaded."));

  // Nothing else was written for either turn: the next reply is the pong.
  host.send({.type = "ping", .requestId = "p1"});
  EXPECT_EQ(host.readReply(), kPong);
  expectCleanExit(host);
}

TEST_F(ChatTurnTest, aGeneratedImage_arrivesAsAnAttachmentBeforeDone) {
  const std::string png = *base64Decoded(
      "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJg"
      "gg==");
  const std::string path = home_.writeFile(".codex/generated_images/ig_1.png", png);
  scenario_.write({{"turn/start", JSONValue::Array{turnStarted(), delta("Here it is."),
                                                   imageSaved(path), turnCompleted()}}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "Here it is."));
  std::optional<NativeEnvelope> attachment = host.readReply();
  ASSERT_TRUE(attachment && attachment->attachment);
  EXPECT_EQ(attachment->type, "chat.attachment");
  EXPECT_EQ(attachment->requestId, "r1");
  EXPECT_EQ(attachment->sessionId, "s1");
  JSONValue object = *attachment->attachment;
  EXPECT_NE(object.subscript("createdAt"), nullptr);
  object.objectValue()->erase("createdAt");
  EXPECT_EQ(object, JSONValue::object({{"id", "generated_ig_1"},
                                       {"kind", "generatedImage"},
                                       {"label", "Generated image"},
                                       {"mimeType", "image/png"},
                                       {"dataUrl", "data:image/png;base64," + base64Encoded(png)},
                                       {"filePath", path}}));
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  expectCleanExit(host);
}

// The user reads the child's last words without its terminal colours, and the session goes on
// in a new thread of the new child: a new app-server knows none of the old one's threads.
TEST_F(ChatTurnTest, aChildDyingMidTurn_failsThatTurnAndTheNextStartsAFreshChild) {
  scenario_.write({{"turn/start",
                    JSONValue::Array{turnStarted(), delta("partial"), JSONValue::parse(R"({"stderr":
                                         "\u001b[31mboom\u001b[0m\nlast \u001b[1mwords\u001b[0m\n"})"),
                                     JSONValue::parse(R"({"exit": 1})")}}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "partial"));
  EXPECT_EQ(host.readReply(),
            chatTurnFailed("r1",
                           "Codex app-server closed its output stream. Exit code: 1. Stderr: "
                           "boom\nlast words"));

  // The next child reads the scenario anew.
  scenario_.write(
      {{"thread/start", JSONValue::Array{threadStarted("thread-2")}},
       {"turn/start", JSONValue::Array{turnStarted("turn-2"), delta("again", "turn-2", "thread-2"),
                                       turnCompleted("turn-2", "completed", "thread-2")}}});
  host.send(chatTurn("r2", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r2", "s1", "again"));
  EXPECT_EQ(host.readReply(), chatDone("r2", "s1"));
  // The child's standard error never reaches the host's.
  expectCleanExit(host);
  EXPECT_EQ(scenario_.paramsOf("initialize").size(), 2u);
  std::vector<std::string> threads;
  for (const JSONValue& params : scenario_.paramsOf("turn/start")) {
    threads.push_back(*params.subscript("threadId")->stringValue());
  }
  EXPECT_THAT(threads, ElementsAre("thread-1", "thread-2"));
}

// When the host ends, normally or after a bad frame, its app-server sees its input close and
// ends by itself: no signal cuts it short.
TEST_F(ChatTurnTest, atExit_theAppServerSeesItsInputEnd) {
  const std::string marker = home_ / "input-ended";
  for (const bool fatal : {false, true}) {
    SCOPED_TRACE(fatal ? "after a bad frame" : "at the end of input");
    std::remove(marker.c_str());
    scenario_.write(
        {{"turn/start", JSONValue::Array{turnStarted(), turnCompleted()}}},
        {{"endOfInput",
          JSONValue::Array{JSONValue::object({{"appendFile", marker}, {"text", "ended"}})}}});
    test::HostProcess host(hostEnvironment());
    host.send(chatTurn("r1", "s1"));
    EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
    if (fatal) host.sendBytes(std::string("\x02\x00\x00\x00{]", 6));
    EXPECT_EQ(host.waitForExit(), fatal ? 1 : 0);

    auto fileSystem = makePosixFileSystem();
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fileSystem->fileExists(marker) && std::chrono::steady_clock::now() < giveUp) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(fileSystem->fileExists(marker));
  }
}

// A relative VELLORA_CODEX_PATH is taken against the host's own directory, although the
// app-server runs in the workspace.
TEST_F(ChatTurnTest, aRelativeCodexPath_isFoundAndStarted) {
  scenario_.write(
      {{"turn/start", JSONValue::Array{turnStarted(), delta("found"), turnCompleted()}}});
  Environment environment = hostEnvironment();
  const std::string fakes = std::string(test::kFakeCodexPath)
                                .substr(0, std::string(test::kFakeCodexPath).rfind("/bin/codex"));
  environment["VELLORA_CODEX_PATH"] = "bin/codex";
  test::HostProcess host(environment, fakes);
  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "found"));
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  expectCleanExit(host);
}

// A skill file that is a FIFO (which a reader would wait on for ever) is passed over and the
// turn goes on.
TEST_F(ChatTurnTest, aSkillFileThatIsAFIFO_doesNotHoldTheTurn) {
  scenario_.write({{"turn/start", JSONValue::Array{turnStarted(), delta("ok"), turnCompleted()}}});
  const std::string skill = home_ / ".codex/skills/stuck/SKILL.md";
  makePosixFileSystem()->createDirectories(home_ / ".codex/skills/stuck");
  ASSERT_EQ(::mkfifo(skill.c_str(), 0644), 0);
  test::HostProcess host(hostEnvironment());
  NativeEnvelope turn = chatTurn("r1", "s1");
  turn.commands =
      JSONValue::Array{JSONValue::object({{"kind", "skill"}, {"name", "stuck"}, {"path", skill}})};
  host.send(turn);
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "ok"));
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  expectCleanExit(host);
}

TEST_F(ChatTurnTest, healthAndCatalog_withTheStandIn) {
  scenario_.write(
      {{"skills/list", JSONValue::Array{JSONValue::parse(R"({"result": {"data": [{"cwd": "/w",
            "skills": [{"name": "deploy", "path": "/s/deploy/SKILL.md"}]}]}})")}},
       {"plugin/list", JSONValue::Array{JSONValue::parse(R"({"result": {"marketplaces": []}})")}},
       {"app/list", JSONValue::Array{JSONValue::parse(R"({"result": {"data": []}})")}},
       {"model/list",
        JSONValue::Array{JSONValue::parse(R"({"result": {"data": [{"id": "gpt-5.5"}]}})")}}});
  test::HostProcess host(hostEnvironment());
  CompanionHealth expected{.companion = HealthState::ready,
                           .nativeHost = HealthState::ready,
                           .extension = HealthState::ready,
                           .codex = HealthState::ready,
                           .appServer = HealthState::ready,
                           .auth = HealthState::missing};

  host.send({.type = "health", .requestId = "h1"});
  EXPECT_EQ(host.readReply(),
            (NativeEnvelope{.type = "health", .requestId = "h1", .ok = true, .status = expected}));

  home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY": "sk-test"})");
  expected.auth = HealthState::ready;
  host.send({.type = "health", .requestId = "h2"});
  EXPECT_EQ(host.readReply(),
            (NativeEnvelope{.type = "health", .requestId = "h2", .ok = true, .status = expected}));

  host.send({.type = "codex.catalog", .requestId = "c1"});
  std::optional<NativeEnvelope> reply = host.readReply();
  ASSERT_TRUE(reply && reply->catalog);
  EXPECT_EQ(reply->type, "codex.catalog");
  EXPECT_EQ(reply->requestId, "c1");
  EXPECT_EQ(reply->ok, true);
  const JSONValue& catalog = *reply->catalog;
  EXPECT_EQ(*catalog.subscript("errors"), JSONValue(JSONValue::Array{}));
  ASSERT_EQ(catalog.subscript("skills")->arrayValue()->size(), 1u);
  EXPECT_EQ(*catalog.subscript("skills")->arrayValue()->at(0).subscript("name"),
            JSONValue("deploy"));
  ASSERT_EQ(catalog.subscript("models")->arrayValue()->size(), 1u);
  expectCleanExit(host);
}

TEST_F(ChatTurnTest, nothingPastChromesOneMiBLimit_isEverWritten) {
  // A 3 MB piece of text whose characters take two bytes, so that a cut could split one.
  std::string longText;
  while (longText.size() < 3'000'000) longText += "\u00e9\"/\n";
  JSONValue::Array skills;
  for (int i = 0; i < 2000; ++i) {
    skills.push_back(JSONValue::object({{"name", "skill-" + std::to_string(i)},
                                        {"path", "/s/" + std::to_string(i) + "/SKILL.md"},
                                        {"description", std::string(1000, 'd')}}));
  }
  scenario_.write(
      {{"turn/start#1", JSONValue::Array{turnStarted(), delta(longText), turnCompleted()}},
       {"turn/start#2", JSONValue::Array{turnStarted("turn-2"), turnFailed(longText, "turn-2")}},
       {"skills/list",
        JSONValue::Array{JSONValue::object(
            {{"result",
              JSONValue::object({{"data", JSONValue::Array{JSONValue::object(
                                              {{"cwd", "/w"}, {"skills", skills}})}}})}})}}});
  test::HostProcess host(hostEnvironment());
  static constexpr std::size_t kLimit = std::size_t{1} << 20;
  // Each frame within the limit; its payload's length and the message it holds.
  const auto readFitting = [&host] {
    const std::string bytes = host.readRawFrame();
    EXPECT_GE(bytes.size(), 4u);
    EXPECT_LE(bytes.size() - 4, kLimit);
    return std::pair{bytes.size() - 4, NativeEnvelope::fromJSON(JSONValue::parse(bytes.substr(4)))};
  };

  // The long delta arrives in pieces that each fit, and join back to the whole text.
  host.send(chatTurn("r1", "s1"));
  std::string joined;
  for (;;) {
    auto [size, reply] = readFitting();
    if (reply.type != "chat.delta") {
      EXPECT_EQ(reply, chatDone("r1", "s1"));
      break;
    }
    joined += *reply.delta;
  }
  EXPECT_EQ(joined, longText);

  // An error too long for Chrome is cut between characters, ends in an ellipsis, and fills the
  // frame.
  host.send(chatTurn("r2", "s1"));
  {
    auto [size, reply] = readFitting();
    EXPECT_EQ(reply.type, "error");
    EXPECT_EQ(reply.requestId, "r2");
    EXPECT_EQ(reply.code, "chat_turn_failed");
    ASSERT_TRUE(reply.message && reply.message->ends_with("\u2026"));
    const std::string kept = reply.message->substr(0, reply.message->size() - 3);
    EXPECT_TRUE(("Codex app-server returned an error: " + longText + ".").starts_with(kept));
    EXPECT_GT(size, kLimit - 8);
  }

  // A catalog too large for Chrome loses skills from the end until it fits, and says how many.
  host.send({.type = "codex.catalog", .requestId = "c1"});
  {
    auto [size, reply] = readFitting();
    EXPECT_EQ(reply.type, "codex.catalog");
    EXPECT_EQ(reply.requestId, "c1");
    EXPECT_EQ(reply.ok, true);
    ASSERT_TRUE(reply.catalog);
    const JSONValue::Array& kept = *reply.catalog->subscript("skills")->arrayValue();
    ASSERT_GT(kept.size(), 0u);
    ASSERT_LT(kept.size(), 2000u);
    // The catalog lists skills by name; those left out are the last by name.
    std::vector<std::string> names;
    for (int i = 0; i < 2000; ++i) names.push_back("skill-" + std::to_string(i));
    std::sort(names.begin(), names.end());
    for (std::size_t i = 0; i < kept.size(); ++i) {
      ASSERT_EQ(*kept[i].subscript("name"), JSONValue(names[i]));
    }
    // The fake answers only skills/list; the other lists' failures come first.
    const JSONValue::Array& errors = *reply.catalog->subscript("errors")->arrayValue();
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors.back(),
              JSONValue::object(
                  {{"method", "codex.catalog"},
                   {"message", "Shortened to fit Chrome's 1 MiB message limit: " +
                                   std::to_string(2000 - kept.size()) + " entries left out."}}))
        << errors.back().serialized();
    // No more was left out than had to be: one more skill would not have fitted.
    EXPECT_GT(size + kept.back().serialized().size() + 1, kLimit);
  }

  // A reply that cannot fit because of what the request sent leaves that out.
  host.send({.type = "ping", .requestId = std::string(kLimit + 1, 'q')});
  EXPECT_EQ(readFitting().second,
            (NativeEnvelope{
                .type = "error",
                .code = "reply_too_large",
                .message = "The reply to a request does not fit Chrome's 1 MiB message limit."}));
  host.send({.type = std::string(kLimit + 1, 't'), .requestId = "u1"});
  {
    auto [size, reply] = readFitting();
    EXPECT_EQ(reply.requestId, "u1");
    EXPECT_EQ(reply.code, "unsupported_message");
    EXPECT_TRUE(reply.message &&
                reply.message->starts_with("Unsupported Native Messaging request type: ttt"));
    EXPECT_TRUE(reply.message->ends_with("\u2026"));
  }

  host.send({.type = "ping", .requestId = "p1"});
  EXPECT_EQ(host.readReply(), kPong);
  expectCleanExit(host);
}

TEST_F(ChatTurnTest, withoutCodex_catalogFailsAndHealthSaysMissing) {
  test::HostProcess host(hostEnvironment(/*withCodex=*/false));
  const std::string notFound = "`codex` was not found in PATH or common install locations.";

  host.send({.type = "codex.catalog", .requestId = "c1"});
  EXPECT_EQ(
      host.readReply(),
      (NativeEnvelope{
          .type = "error", .requestId = "c1", .code = "catalog_failed", .message = notFound}));
  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatTurnFailed("r1", notFound));
  host.send({.type = "health", .requestId = "h1"});
  EXPECT_EQ(host.readReply(),
            (NativeEnvelope{.type = "health",
                            .requestId = "h1",
                            .ok = true,
                            .status = CompanionHealth{.companion = HealthState::ready,
                                                      .nativeHost = HealthState::ready,
                                                      .extension = HealthState::ready,
                                                      .codex = HealthState::missing,
                                                      .appServer = HealthState::missing,
                                                      .auth = HealthState::missing}}));
  expectCleanExit(host);
}

// Chrome's largest message to a host is 64 MiB. Page text and screenshot each take half of it;
// the text reaches Codex in the text item, the screenshot as the image item.
TEST_F(ChatTurnTest, aChatTurnOf64MiB_isRelayed) {
  scenario_.write({{"turn/start", JSONValue::Array{turnStarted(), turnCompleted()}}});
  test::HostProcess host(hostEnvironment());
  constexpr std::size_t kHalf = std::size_t{32} << 20;
  const std::string pageText(kHalf, 'a');
  const std::string screenshot = "data:image/png;base64," + std::string(kHalf - 4096, 'A');
  NativeEnvelope request = chatTurn("r1", "s1", "Summarise");
  request.context = JSONValue::object(
      {{"pageText", pageText}, {"viewportCapture", JSONValue::object({{"dataUrl", screenshot}})}});
  std::string payload;
  request.appendJSON(payload);
  ASSERT_LE(payload.size(), std::size_t{64} << 20);
  ASSERT_GT(payload.size(), (std::size_t{64} << 20) - 8192);

  host.sendBytes(frame(payload));
  payload = {};
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  expectCleanExit(host);

  std::vector<JSONValue> turns = scenario_.paramsOf("turn/start");
  ASSERT_EQ(turns.size(), 1u);
  const JSONValue::Array& input = *turns[0].subscript("input")->arrayValue();
  ASSERT_EQ(input.size(), 2u);
  const std::string& text = *input[0].subscript("text")->stringValue();
  // The page text whole, the screenshot only as its placeholder.
  EXPECT_GT(text.size(), kHalf);
  EXPECT_LT(text.size(), kHalf + 16384);
  EXPECT_NE(text.find(pageText), std::string::npos);
  EXPECT_THAT(text, HasSubstr(R"("viewportCapture":{"dataUrl":"[attached as image input]"})"));
  EXPECT_EQ(input[1], JSONValue::object({{"type", "image"}, {"url", screenshot}}));
}

}  // namespace
}  // namespace vellora
