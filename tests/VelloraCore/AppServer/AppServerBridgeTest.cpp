#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/AppServer/AppServerBridge.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Platform/ReadinessWait.h"
#include "VelloraCore/TurnContent/Base64.h"
#include "VelloraCore/TurnContent/CodexInstructions.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/BridgeTurn.h"
#include "tests/support/FakeCodexScenario.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// Like the host, take a vanished reader as a write error rather than a signal.
const bool kSigpipeIgnored = [] {
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}();

// The monotonic clock, pushed ahead on demand: a test can let a time-out run out at a chosen
// message without waiting for it.
class ShiftableClock final : public Clock {
 public:
  TimePoint now() const noexcept override { return std::chrono::steady_clock::now() + shift_; }
  void shift(Seconds by) {
    shift_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(by);
  }

 private:
  std::chrono::steady_clock::duration shift_{0};
};

using namespace test::fakeCodex;

// A 1×1 PNG.
const std::string kPNGBase64 =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg"
    "==";

// An image returned inline, as a raw response item of the turn (no progress for the turn).
JSONValue inlineImage(std::string_view id, std::string_view turn = "turn-1") {
  return notify("rawResponseItem/completed",
                JSONValue::object({{"threadId", "thread-1"},
                                   {"turnId", turn},
                                   {"item", JSONValue::object({{"type", "image_generation_call"},
                                                               {"id", id},
                                                               {"result", kPNGBase64}})}}));
}

struct TurnOutcome {
  std::vector<std::string> deltas;
  std::vector<JSONValue> attachments;
  // The description of the failure, when the turn failed.
  std::optional<std::string> failure;
};

class AppServerBridgeTest : public ::testing::Test {
 protected:
  void useScenario(JSONValue::Object requests, JSONValue::Object more = {}) {
    scenario_.write(std::move(requests), std::move(more));
  }

  Environment environment(bool withCodex) const {
    Environment environment = {{"HOME", home_.path()},
                               {"PATH", "/usr/bin:/bin"},
                               {"LANG", "C"},
                               {test::kFakeCodexScenarioVariable, scenario_.path()}};
    if (withCodex) environment["VELLORA_CODEX_PATH"] = test::kFakeCodexPath;
    return environment;
  }

  // A bridge on the temporary home that finds the stand-in through VELLORA_CODEX_PATH (or,
  // without codex, finds nothing: no login shell is asked).
  std::unique_ptr<AppServerBridge> makeBridge(AppServerBridge::Timing timing = {},
                                              bool withCodex = true) {
    Environment env = environment(withCodex);
    CodexLocator locator(*fileSystem_, env, home_.path(),
                         [](const Environment&) { return std::optional<std::string>(); });
    return std::make_unique<AppServerBridge>(AppServerBridge::Collaborators{
        .paths = AppPaths::platformLayout(home_.path(), {}),
        .locator = std::move(locator),
        .authDetector = CodexAuthDetector(home_.path() + "/.codex", *fileSystem_),
        .configuration = CodexAppServerConfiguration(env),
        .fileSystem = *fileSystem_,
        .launcher = *launcher_,
        .clock = clock_,
        .wait = *wait_,
        .environment = env,
        .homeDirectory = home_.path(),
        .timing = timing});
  }

  TurnOutcome runTurn(AppServerBridge& bridge, const std::string& sessionID = "session-1",
                      JSONValue* context = nullptr,
                      const std::function<void()>& afterEachAttachment = {}) {
    TurnOutcome outcome;
    outcome.failure = test::runTurnToEnd(
        bridge,
        {.sessionID = sessionID,
         .prompt = "Hi",
         .context = context,
         .onDelta = [&](const std::string& text) { outcome.deltas.push_back(text); },
         .onAttachment =
             [&](const JSONValue& attachment) {
               outcome.attachments.push_back(attachment);
               if (afterEachAttachment) afterEachAttachment();
             }},
        clock_);
    return outcome;
  }

  std::string workspace() const {
    return AppPaths::platformLayout(home_.path(), {}).workspaceDirectory();
  }
  void forgetReceived() const { scenario_.forgetReceived(); }
  std::vector<JSONValue> received() const { return scenario_.received(); }
  std::vector<std::string> receivedMethods() const { return scenario_.receivedMethods(); }
  std::vector<JSONValue> paramsOf(std::string_view method) const {
    return scenario_.paramsOf(method);
  }

  test::TemporaryDirectory home_;
  test::FakeCodexScenario scenario_{home_.path()};
  std::unique_ptr<ProcessLauncher> launcher_ = makePosixProcessLauncher();
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
  ShiftableClock clock_;
  std::unique_ptr<ReadinessWait> wait_ = makePollReadinessWait(clock_);
};

TEST_F(AppServerBridgeTest, turns_shareOneHandshakeAndKeepOneThreadPerSession) {
  const JSONValue::Array answer = {turnStarted(), delta("Hel", "turn-1", "$params.threadId"),
                                   delta("lo", "turn-1", "$params.threadId"),
                                   turnCompleted("turn-1", "completed", "$params.threadId")};
  useScenario({{"thread/start#1", JSONValue::Array{threadStarted("thread-A")}},
               {"thread/start#2", JSONValue::Array{threadStarted("thread-B")}},
               {"turn/start", answer}});
  auto bridge = makeBridge();

  for (const char* session : {"session-A", "session-A", "session-B"}) {
    TurnOutcome outcome = runTurn(*bridge, session);
    EXPECT_EQ(outcome.failure, std::nullopt) << session;
    EXPECT_THAT(outcome.deltas, ElementsAre("Hel", "lo")) << session;
  }

  EXPECT_THAT(receivedMethods(),
              ElementsAre("initialize", "initialized", "thread/start", "turn/start", "turn/start",
                          "thread/start", "turn/start"));
  std::vector<std::string> threads;
  for (const JSONValue& params : paramsOf("turn/start")) {
    threads.push_back(*params.subscript("threadId")->stringValue());
  }
  EXPECT_THAT(threads, ElementsAre("thread-A", "thread-A", "thread-B"));
}

TEST_F(AppServerBridgeTest, handshakeThreadAndTurn_sendExactlyTheseParams) {
  useScenario({{"turn/start", JSONValue::Array{turnStarted(), turnCompleted()}}});
  auto bridge = makeBridge();
  const std::string screenshot = "data:image/jpeg;base64,/9j/AAAA";
  JSONValue context = JSONValue::object(
      {{"title", "Example"},
       {"viewportCapture", JSONValue::object({{"dataUrl", screenshot}, {"width", 800}})}});

  // The extension's model and reasoning effort are not sent: the configured model is.
  const std::optional<std::string> failure =
      test::runTurnToEnd(*bridge,
                         {.sessionID = "session-1",
                          .prompt = "Describe this page",
                          .context = &context,
                          .model = "other-model",
                          .reasoningEffort = "high",
                          .onDelta = [](const std::string&) {},
                          .onAttachment = [](const JSONValue&) {}},
                         clock_);
  ASSERT_EQ(failure, std::nullopt);

  std::vector<JSONValue> messages = received();
  ASSERT_EQ(messages.size(), 4u);
  EXPECT_EQ(*messages[0].subscript("params"),
            JSONValue::parse(R"({"clientInfo": {"name": "vellora", "title": "Vellora",
                                                 "version": "0.1.0"},
                                  "capabilities": {"experimentalApi": false}})"));
  EXPECT_EQ(messages[1], JSONValue::parse(R"({"method": "initialized", "params": {}})"));
  EXPECT_EQ(*messages[2].subscript("params"),
            JSONValue::object({{"cwd", workspace()},
                               {"approvalPolicy", "never"},
                               {"sandbox", "read-only"},
                               {"baseInstructions", kBaseInstructions},
                               {"developerInstructions", kDeveloperInstructions},
                               {"ephemeral", true},
                               {"personality", "pragmatic"},
                               {"serviceName", "vellora"},
                               {"experimentalRawEvents", false},
                               {"persistExtendedHistory", false}}));

  JSONValue turnStart = *messages[3].subscript("params");
  ASSERT_NE(turnStart.subscript("input"), nullptr);
  const JSONValue::Array input = *turnStart.subscript("input")->arrayValue();
  turnStart.objectValue()->erase("input");
  EXPECT_EQ(turnStart, JSONValue::parse(R"({
      "threadId": "thread-1",
      "approvalPolicy": "never",
      "sandboxPolicy": {"type": "readOnly", "access": {"type": "fullAccess"},
                        "networkAccess": false},
      "model": "gpt-5.5"})"));
  ASSERT_EQ(input.size(), 2u);
  const std::string& text = *input[0].subscript("text")->stringValue();
  EXPECT_THAT(text, StartsWith("User prompt:\nDescribe this page\n\n"));
  EXPECT_THAT(text, HasSubstr("[attached as image input]"));
  EXPECT_THAT(text, Not(HasSubstr(screenshot)));
  EXPECT_EQ(input[1], JSONValue::object({{"type", "image"}, {"url", screenshot}}));
}

TEST_F(AppServerBridgeTest, threadStartWithoutATextID_failsStoresNothingAndIsAskedAgain) {
  for (const char* result :
       {R"({"thread": {"id": 7}})", R"({"thread": "thread-1"})", "{}", "null"}) {
    SCOPED_TRACE(result);
    forgetReceived();
    useScenario({{"thread/start#1",
                  JSONValue::Array{JSONValue::object({{"result", JSONValue::parse(result)}})}},
                 {"turn/start", JSONValue::Array{turnStarted(), delta("ok"), turnCompleted()}}});
    auto bridge = makeBridge();

    TurnOutcome first = runTurn(*bridge);
    EXPECT_EQ(first.failure, "Codex app-server did not return a thread ID.");
    TurnOutcome second = runTurn(*bridge);
    EXPECT_EQ(second.failure, std::nullopt);
    EXPECT_THAT(second.deltas, ElementsAre("ok"));
    EXPECT_THAT(receivedMethods(), ElementsAre("initialize", "initialized", "thread/start",
                                               "thread/start", "turn/start"));
  }
}

// What each message of a turn does, wherever it arrives: before the "turn/start" response,
// after it, for this thread and turn or for others.
TEST_F(AppServerBridgeTest, turnMessages_areJudgedByThreadAndTurn) {
  const std::string quota =
      R"({"threadId": "thread-1", "turnId": "turn-1", "willRetry": false,
          "error": {"message": "Quota exceeded"}})";
  struct Case {
    const char* label;
    JSONValue::Array actions;  // of "turn/start"
    std::vector<std::string> deltas;
    std::optional<std::string> failure;
  };
  const Case cases[] = {
      {"three deltas",
       {turnStarted(), delta("a"), delta("b"), delta("c"), turnCompleted()},
       {"a", "b", "c"},
       std::nullopt},
      {"a delta for another thread is not forwarded",
       {turnStarted(), delta("x", "turn-1", "thread-2"), delta("a"), turnCompleted()},
       {"a"},
       std::nullopt},
      {"a completion for another thread does not end the turn",
       {turnStarted(), turnCompleted("turn-1", "completed", "thread-2"), delta("a"),
        turnCompleted()},
       {"a"},
       std::nullopt},
      {"an error ends the turn with its text",
       {turnStarted(), delta("a"), errorNotice(quota), delta("b"), turnCompleted()},
       {"a"},
       "Codex app-server returned an error: Quota exceeded."},
      {"an error without willRetry ends it",
       {turnStarted(), errorNotice(R"({"threadId": "thread-1", "error": {"message": "Boom"}})"),
        turnCompleted()},
       {},
       "Codex app-server returned an error: Boom."},
      {"an error naming another thread belongs to that thread's turn",
       {turnStarted(), errorNotice(R"({"threadId": "thread-2", "error": {"message": "Boom"}})"),
        delta("a"), turnCompleted()},
       {"a"},
       std::nullopt},
      {"an error naming no thread ends it",
       {turnStarted(), errorNotice(R"({"error": {"message": "Boom"}})"), turnCompleted()},
       {},
       "Codex app-server returned an error: Boom."},
      {"a retry notice does not end it",
       {turnStarted(), retryNotice("Reconnecting... 1/5"), delta("a"), turnCompleted()},
       {"a"},
       std::nullopt},
      {"a failed turn fails with Codex's message",
       {turnStarted(), delta("a"), turnFailed("Model overloaded")},
       {"a"},
       "Codex app-server returned an error: Model overloaded."},
      {"a failed turn without a message",
       {turnStarted(), notify("turn/completed", JSONValue::parse(R"({"threadId": "thread-1",
                                   "turn": {"id": "turn-1", "status": "failed", "error": null}})"))},
       {},
       "Codex app-server returned an error: the turn failed."},
      {"an interrupted turn completes",
       {turnStarted(), delta("a"), turnCompleted("turn-1", "interrupted")},
       {"a"},
       std::nullopt},
      {"a completion without a turn id ends it",
       {turnStarted(), delta("a"),
        notify("turn/completed", JSONValue::parse(R"({"threadId": "thread-1"})"))},
       {"a"},
       std::nullopt},
      {"another turn's delta, error and completion are stale",
       {turnStarted(), delta("old", "turn-0"), errorNotice(R"({"threadId": "thread-1",
          "turnId": "turn-0", "error": {"message": "old"}})"),
        turnFailed("old", "turn-0"), delta("a"), turnCompleted()},
       {"a"},
       std::nullopt},
      {"deltas and completion before the response",
       {delta("a"), delta("b"), turnCompleted(), turnStarted()},
       {"a", "b"},
       std::nullopt},
      {"a stale completion before the response",
       {turnFailed("old", "turn-0"), delta("old", "turn-0"), turnStarted(), delta("a"),
        turnCompleted()},
       {"a"},
       std::nullopt},
      {"an error, then the turn's failed completion",
       {turnStarted(), delta("a"), errorNotice(quota), delta("late"), turnFailed("Other words")},
       {"a"},
       "Codex app-server returned an error: Quota exceeded."},
      {"an error before the response",
       {delta("a"), errorNotice(quota), turnStarted()},
       {"a"},
       "Codex app-server returned an error: Quota exceeded."},
      {"an error response to turn/start",
       {JSONValue::parse(R"({"error": {"code": -32600, "message": "thread not found"}})")},
       {},
       "Codex app-server returned an error: thread not found."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    forgetReceived();
    // A turn that misses its end fails when the stand-in gives up, instead of waiting for ever.
    JSONValue::Array actions = c.actions;
    actions.push_back(pauseFor(20));
    actions.push_back(JSONValue::parse(R"({"exit": 75})"));
    useScenario({{"turn/start", actions}});
    // A turn ended by an error waits this long for Codex to report its completion.
    auto bridge = makeBridge({.interruptWait = Seconds(0.2)});
    TurnOutcome outcome = runTurn(*bridge);
    EXPECT_EQ(outcome.deltas, c.deltas);
    EXPECT_EQ(outcome.failure, c.failure);
  }
}

// After a terminal error Codex still sends that turn's "turn/completed" (failed). It must not
// end the next turn of the session.
TEST_F(AppServerBridgeTest, theFailedTurnsLateCompletion_doesNotEndTheNextTurn) {
  useScenario(
      {{"turn/start#1", JSONValue::Array{turnStarted("turn-1"), delta("partial", "turn-1"),
                                         errorNotice(R"({"threadId": "thread-1", "turnId": "turn-1",
                                    "willRetry": false, "error": {"message": "Boom"}})"),
                                         turnFailed("Boom", "turn-1")}},
       {"turn/start#2", JSONValue::Array{turnStarted("turn-2"), delta("second", "turn-2"),
                                         turnCompleted("turn-2")}}});
  auto bridge = makeBridge();

  TurnOutcome first = runTurn(*bridge);
  EXPECT_THAT(first.deltas, ElementsAre("partial"));
  EXPECT_EQ(first.failure, "Codex app-server returned an error: Boom.");

  TurnOutcome second = runTurn(*bridge);
  EXPECT_EQ(second.failure, std::nullopt);
  EXPECT_THAT(second.deltas, ElementsAre("second"));
}

TEST_F(AppServerBridgeTest, deltasReadOutsideATurn_areDroppedNotRelabelled) {
  const JSONValue stray = notify("item/agentMessage/delta",
                                 JSONValue::object({{"threadId", "thread-1"}, {"delta", "stray"}}));
  const JSONValue::Array emptyList = {JSONValue::parse(R"({"result": {"data": []}})")};
  useScenario(
      {{"initialize", JSONValue::Array{stray, JSONValue::parse(R"({"result": {}})")}},
       {"thread/start#1", JSONValue::Array{stray, threadStarted("thread-1")}},
       {"thread/start#2", JSONValue::Array{stray, threadStarted("thread-2")}},
       {"turn/start#1", JSONValue::Array{turnStarted("turn-1"), delta("one"), turnCompleted(),
                                         delta("after the end", "turn-1")}},
       {"skills/list", JSONValue::Array{stray, emptyList[0]}},
       {"plugin/list", JSONValue::Array{stray, JSONValue::parse(R"({"result": {}})")}},
       {"app/list", emptyList},
       {"model/list", emptyList},
       {"turn/start#2", JSONValue::Array{turnStarted("turn-2"), delta("two", "turn-2", "thread-2"),
                                         turnCompleted("turn-2", "completed", "thread-2")}}});
  auto bridge = makeBridge();

  TurnOutcome first = runTurn(*bridge, "session-1");
  JSONValue catalog = bridge->commandCatalog(false);
  TurnOutcome second = runTurn(*bridge, "session-2");

  EXPECT_EQ(*catalog.subscript("errors"), JSONValue(JSONValue::Array{}));
  EXPECT_EQ(first.failure, std::nullopt);
  EXPECT_EQ(second.failure, std::nullopt);
  EXPECT_THAT(first.deltas, ElementsAre("one"));
  EXPECT_THAT(second.deltas, ElementsAre("two"));
}

TEST_F(AppServerBridgeTest, aRequestFromTheServerDuringATurn_isRefusedAndTheTurnGoesOn) {
  useScenario({{"turn/start", JSONValue::Array{turnStarted(), delta("before"), JSONValue::parse(R"({
                                 "request": "item/tool/requestUserInput", "id": "server-1",
                                 "params": {"threadId": "thread-1", "turnId": "turn-1"}})")}}},
              // The stand-in goes on only once it has the answer.
              {{"responses", JSONValue::Array{delta("after"), turnCompleted()}}});
  auto bridge = makeBridge();

  TurnOutcome outcome = runTurn(*bridge);
  EXPECT_EQ(outcome.failure, std::nullopt);
  EXPECT_THAT(outcome.deltas, ElementsAre("before", "after"));
  std::vector<JSONValue> messages = received();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(*messages[4].subscript("id"), JSONValue("server-1"));
  EXPECT_EQ(*messages[4].subscript("error")->subscript("code"), JSONValue(-32601));
  EXPECT_EQ(messages[4].subscript("result"), nullptr);
}

// Codex retries the model by itself ("willRetry") and, without a network, for ever. A turn
// that has made no progress for the whole window is interrupted and fails with the last notice.
TEST_F(AppServerBridgeTest, retryWindow_interruptsAStalledTurnAndFailsWithTheLastNotice) {
  struct Case {
    const char* label;
    JSONValue::Array interruptAnswer;
  };
  const Case cases[] = {
      {"the turn completes as interrupted",
       {JSONValue::parse(R"({"result": {}})"), turnCompleted("turn-1", "interrupted")}},
      {"the turn never reports its end", {JSONValue::parse(R"({"result": {}})")}},
      {"the interrupt is refused",
       {JSONValue::parse(R"({"error": {"code": -32600, "message": "no active turn"}})")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    forgetReceived();
    useScenario(
        {{"turn/start#1",
          JSONValue::Array{turnStarted("turn-1"), delta("a"), retryNotice("Reconnecting... 1/5"),
                           retryNotice("Reconnecting... waiting for network")}},
         {"turn/interrupt", c.interruptAnswer},
         {"turn/start#2", JSONValue::Array{turnStarted("turn-2"), delta("next", "turn-2"),
                                           turnCompleted("turn-2")}}});
    auto bridge = makeBridge({.retryWindow = Seconds(0.2), .interruptWait = Seconds(0.2)});

    TurnOutcome stalled = runTurn(*bridge);
    EXPECT_THAT(stalled.deltas, ElementsAre("a"));
    EXPECT_EQ(stalled.failure,
              "Codex app-server returned an error: Reconnecting... waiting for network.");
    EXPECT_THAT(paramsOf("turn/interrupt"),
                ElementsAre(JSONValue::object({{"threadId", "thread-1"}, {"turnId", "turn-1"}})));

    // The session goes on with its next turn.
    TurnOutcome next = runTurn(*bridge);
    EXPECT_EQ(next.failure, std::nullopt);
    EXPECT_THAT(next.deltas, ElementsAre("next"));
  }
}

// The window opens at the first retry notice after the last progress; later notices do not move
// it, and progress (anything the turn reports besides an error) closes it. The clock is pushed
// ahead by 60% of the 60-second window at each delta of another session's turn, which is no
// progress for this one; the stand-in pauses before its last messages so that they are not yet
// there when the window runs out.
TEST_F(AppServerBridgeTest, retryWindow_opensAtTheFirstNoticeAndClosesOnProgress) {
  const JSONValue itemCompleted =
      notify("item/completed", JSONValue::parse(R"({"threadId": "thread-1", "turnId": "turn-1",
                          "item": {"type": "agentMessage", "id": "msg-1", "text": "a"}})"));
  const JSONValue itemStarted =
      notify("item/started", JSONValue::parse(R"({"threadId": "thread-1", "turnId": "turn-1",
                          "item": {"type": "reasoning", "id": "rs-1"}})"));
  const JSONValue reasoning =
      notify("item/reasoning/summaryTextDelta", JSONValue::parse(R"({"threadId": "thread-1",
                          "turnId": "turn-1", "itemId": "rs-1", "delta": "Thinking"})"));
  const JSONValue otherItemCompleted =
      notify("item/completed", JSONValue::parse(R"({"threadId": "thread-1", "turnId": "turn-0",
                          "item": {"type": "agentMessage", "id": "msg-0", "text": "a"}})"));
  const std::string interrupted = "Codex app-server returned an error: Reconnecting... 2/5.";
  struct Case {
    const char* label;
    std::optional<JSONValue> betweenNotices;
    std::optional<std::string> failure;
  };
  const Case cases[] = {
      {"a later notice does not move it", std::nullopt, interrupted},
      {"a delta closes it", delta("progress"), std::nullopt},
      {"a finished item of the turn closes it", itemCompleted, std::nullopt},
      {"an item starting closes it", itemStarted, std::nullopt},
      {"reasoning closes it", reasoning, std::nullopt},
      {"a finished item of another turn is no progress", otherItemCompleted, interrupted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const JSONValue tick = delta("tick", "turn-9", "thread-2");
    JSONValue::Array actions = {turnStarted(), retryNotice("Reconnecting... 1/5"), tick};
    if (c.betweenNotices) actions.push_back(*c.betweenNotices);
    for (const JSONValue& action : {retryNotice("Reconnecting... 2/5"), tick, pauseFor(0.5),
                                    delta("done"), turnCompleted()}) {
      actions.push_back(action);
    }
    // The other session's turn starts first and runs on beside this one.
    useScenario({{"thread/start#1", JSONValue::Array{threadStarted("thread-2")}},
                 {"turn/start#1", JSONValue::Array{turnStarted("turn-9")}},
                 {"turn/start#2", actions},
                 {"turn/interrupt", JSONValue::Array{JSONValue::parse(R"({"result": {}})")}}});
    auto bridge = makeBridge();
    const Seconds window = AppServerBridge::Timing{}.retryWindow;
    int ticks = 0;
    bridge->sendTurn({.sessionID = "session-2",
                      .prompt = "Hi",
                      .onDelta =
                          [&](const std::string&) {
                            ++ticks;
                            clock_.shift(window * 0.6);
                          },
                      .onAttachment = [](const JSONValue&) {},
                      .onEnd = [](const std::optional<std::string>&) {}});

    TurnOutcome outcome = runTurn(*bridge, "session-1");
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ(outcome.failure, c.failure);
  }
}

// A child whose output has ended is done for, whether it exits or lingers: the turn fails and
// the next one starts a new child, which is initialised again and gets a new thread for the
// session, since a new app-server knows none of the old one's threads.
TEST_F(AppServerBridgeTest, aChildWhoseOutputEndsMidTurn_isReplacedByTheNextTurn) {
  struct Case {
    const char* label;
    const char* ending;  // actions after the first delta
    std::string failure;
  };
  const Case cases[] = {
      {"exits with status 1", R"([{"stderr": "boom\n"}, {"exit": 1}])",
       "Codex app-server closed its output stream. Exit code: 1. Stderr: boom"},
      {"closes its output and lingers", R"([{"closeStdout": true}, {"sleep": 60}])",
       "Codex app-server closed its output stream."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    forgetReceived();
    JSONValue::Array actions = {turnStarted(), delta("partial")};
    const JSONValue ending = JSONValue::parse(c.ending);
    for (const JSONValue& action : *ending.arrayValue()) {
      actions.push_back(action);
    }
    useScenario({{"turn/start", actions}});
    auto bridge = makeBridge();

    TurnOutcome dying = runTurn(*bridge);
    EXPECT_THAT(dying.deltas, ElementsAre("partial"));
    EXPECT_EQ(dying.failure, c.failure);

    // The next child reads the scenario anew.
    useScenario({{"thread/start", JSONValue::Array{threadStarted("thread-2")}},
                 {"turn/start",
                  JSONValue::Array{turnStarted("turn-2"), delta("again", "turn-2", "thread-2"),
                                   turnCompleted("turn-2", "completed", "thread-2")}}});
    TurnOutcome next = runTurn(*bridge);
    EXPECT_EQ(next.failure, std::nullopt);
    EXPECT_THAT(next.deltas, ElementsAre("again"));
    EXPECT_THAT(receivedMethods(),
                ElementsAre("initialize", "initialized", "thread/start", "turn/start", "initialize",
                            "initialized", "thread/start", "turn/start"));
    const std::vector<JSONValue> turns = paramsOf("turn/start");
    ASSERT_EQ(turns.size(), 2u);
    EXPECT_EQ(*turns[1].subscript("threadId"), JSONValue("thread-2"));
  }
}

// Codex answers a second "initialize" on the same child with "Already initialized", so a child
// whose handshake failed is stopped and the next call starts a fresh one.
TEST_F(AppServerBridgeTest, aFailedHandshake_isNotRepeatedOnTheSameChild) {
  useScenario(
      {{"initialize#1", JSONValue::parse(R"([{"error": {"message": "Not ready yet"}}])")},
       {"initialize#2",
        JSONValue::parse(R"([{"error": {"code": -32600, "message": "Already initialized"}}])")}});
  auto bridge = makeBridge();
  EXPECT_EQ(runTurn(*bridge).failure, "Codex app-server returned an error: Not ready yet.");

  // Only a new child reads the new scenario.
  useScenario({{"turn/start", JSONValue::Array{turnStarted(), delta("ready"), turnCompleted()}}});
  TurnOutcome next = runTurn(*bridge);
  EXPECT_EQ(next.failure, std::nullopt);
  EXPECT_THAT(next.deltas, ElementsAre("ready"));
  EXPECT_THAT(receivedMethods(),
              ElementsAre("initialize", "initialize", "initialized", "thread/start", "turn/start"));
}

// A codex that ends as soon as it starts (a broken install, a wrapper that fails) is started
// once per request: the request does not start a second child because the first has ended
// before its handshake.
TEST_F(AppServerBridgeTest, aChildThatEndsAtOnce_isStartedOncePerRequest) {
  // Starts /bin/false in its place and returns once it has ended.
  struct EndingLauncher : ProcessLauncher {
    explicit EndingLauncher(ProcessLauncher& real) : real(real) {}
    LaunchedProcess launch(const ProcessLaunchOptions& options) override {
      ++launches;
      ProcessLaunchOptions ending = options;
      ending.executablePath = "/bin/false";
      LaunchedProcess launched = real.launch(ending);
      launched.process->waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(30));
      return launched;
    }
    ProcessLauncher& real;
    int launches = 0;
  };
  const std::unique_ptr<ProcessLauncher> real = std::move(launcher_);
  auto ending = std::make_unique<EndingLauncher>(*real);
  EndingLauncher& counted = *ending;
  launcher_ = std::move(ending);
  auto bridge = makeBridge();

  EXPECT_NE(runTurn(*bridge).failure, std::nullopt);
  EXPECT_EQ(counted.launches, 1);
  EXPECT_THROW(bridge->commandCatalog(false), AppServerError);
  EXPECT_EQ(counted.launches, 2);
}

// An image may be named only in the streamed answer; it still arrives, right after the text
// that names it, also when the turn then fails.
TEST_F(AppServerBridgeTest, anImageNamedOnlyInStreamedText_arrivesAfterThatText) {
  const std::string png = *base64Decoded(kPNGBase64);
  const std::string path = home_.writeFile(".codex/generated_images/ig_1.png", png);
  for (const bool fails : {false, true}) {
    SCOPED_TRACE(fails ? "the turn fails" : "the turn completes");
    JSONValue::Array actions = {turnStarted(), delta("Saved to " + path), delta(" for you.")};
    if (fails) {
      actions.push_back(errorNotice(
          R"({"threadId": "thread-1", "turnId": "turn-1", "error": {"message": "cut"}})"));
    }
    actions.push_back(turnCompleted());
    useScenario({{"turn/start", actions}});
    auto bridge = makeBridge();
    std::vector<std::string> events;
    const bool failed =
        test::runTurnToEnd(
            *bridge,
            {.sessionID = "session-1",
             .prompt = "Hi",
             .onDelta = [&](const std::string& text) { events.push_back("delta: " + text); },
             .onAttachment =
                 [&](const JSONValue& attachment) {
                   events.push_back("image: " + *attachment.subscript("filePath")->stringValue());
                 }},
            clock_)
            .has_value();
    EXPECT_THAT(events,
                ElementsAre("delta: Saved to " + path, "image: " + path, "delta:  for you."));
    EXPECT_EQ(failed, fails);
  }
}

TEST_F(AppServerBridgeTest, catalog_afterTheChildsOutputEnds_theNextCatalogStartsAFreshChild) {
  useScenario({{"skills/list", JSONValue::parse(R"([{"closeStdout": true}, {"sleep": 60}])")}});
  auto bridge = makeBridge();

  JSONValue broken = bridge->commandCatalog(false);
  std::vector<JSONValue> failedMethods;
  for (const JSONValue& error : *broken.subscript("errors")->arrayValue()) {
    failedMethods.push_back(*error.subscript("method"));
  }
  EXPECT_THAT(failedMethods, ElementsAre("skills/list", "plugin/list", "app/list", "model/list"));
  EXPECT_EQ(*broken.subscript("errors")->arrayValue()->at(0).subscript("message"),
            JSONValue("Codex app-server closed its output stream."));

  const JSONValue::Array empty = {JSONValue::parse(R"({"result": {"data": []}})")};
  useScenario(
      {{"skills/list", empty}, {"plugin/list", empty}, {"app/list", empty}, {"model/list", empty}});
  JSONValue catalog = bridge->commandCatalog(false);
  EXPECT_EQ(*catalog.subscript("errors"), JSONValue(JSONValue::Array{}));
  EXPECT_EQ(paramsOf("initialize").size(), 2u);
}

TEST_F(AppServerBridgeTest, generatedImages_areDeliveredOncePerTurn) {
  const std::string png = *base64Decoded(kPNGBase64);
  const std::string path = home_.writeFile(".codex/generated_images/ig_1.png", png);
  useScenario({{"turn/start#1",
                JSONValue::Array{turnStarted("turn-1"), imageSaved(path, "turn-1"),
                                 delta("Saved to " + path + "."), imageSaved(path, "turn-1"),
                                 inlineImage("ig_2"), turnCompleted("turn-1")}},
               {"turn/start#2", JSONValue::Array{turnStarted("turn-2"), imageSaved(path, "turn-2"),
                                                 turnCompleted("turn-2")}}});
  auto bridge = makeBridge();

  // createdAt is the time of delivery.
  auto withoutTime = [](std::vector<JSONValue> attachments) {
    for (JSONValue& attachment : attachments) {
      EXPECT_NE(attachment.subscript("createdAt"), nullptr);
      attachment.objectValue()->erase("createdAt");
    }
    return attachments;
  };
  const JSONValue savedAttachment =
      JSONValue::object({{"id", "generated_ig_1"},
                         {"kind", "generatedImage"},
                         {"label", "Generated image"},
                         {"mimeType", "image/png"},
                         {"dataUrl", "data:image/png;base64," + kPNGBase64},
                         {"filePath", path}});
  const JSONValue inlineAttachment =
      JSONValue::object({{"id", "generated_ig_2"},
                         {"kind", "generatedImage"},
                         {"label", "Generated image"},
                         {"mimeType", "image/png"},
                         {"dataUrl", "data:image/png;base64," + kPNGBase64}});

  TurnOutcome first = runTurn(*bridge);
  EXPECT_EQ(first.failure, std::nullopt);
  EXPECT_THAT(withoutTime(first.attachments), ElementsAre(savedAttachment, inlineAttachment));
  TurnOutcome second = runTurn(*bridge);
  EXPECT_EQ(second.failure, std::nullopt);
  EXPECT_THAT(withoutTime(second.attachments), ElementsAre(savedAttachment));
}

TEST_F(AppServerBridgeTest, catalog_recordsFailedListsAndKeepsTheOthers) {
  useScenario({
      {"skills/list", JSONValue::Array{JSONValue::parse(R"({"result": {"data": [
           {"cwd": "/w", "skills": [{"name": "deploy", "path": "/s/deploy/SKILL.md",
                                     "description": "Ship it"}]}]}})")}},
      {"plugin/list", JSONValue::Array{}},  // never answered
      {"app/list", JSONValue::Array{JSONValue::parse(
                       R"({"error": {"code": -32603, "message": "apps unavailable"}})")}},
      {"model/list", JSONValue::Array{JSONValue::parse(
                         R"({"result": {"data": [{"id": "gpt-5.5"}], "nextCursor": null}})")}},
  });
  auto bridge = makeBridge({.listTimeout = Seconds(0.2)});

  JSONValue catalog = bridge->commandCatalog(false);
  EXPECT_EQ(*catalog.subscript("errors"), JSONValue::parse(R"([
      {"method": "plugin/list",
       "message": "Timed out waiting for app-server response to plugin/list."},
      {"method": "app/list", "message": "Codex app-server returned an error: apps unavailable."}
  ])"));
  ASSERT_EQ(catalog.subscript("skills")->arrayValue()->size(), 1u);
  EXPECT_EQ(*catalog.subscript("skills")->arrayValue()->at(0).subscript("name"),
            JSONValue("deploy"));
  EXPECT_EQ(*catalog.subscript("plugins"), JSONValue(JSONValue::Array{}));
  EXPECT_EQ(*catalog.subscript("apps"), JSONValue(JSONValue::Array{}));
  ASSERT_EQ(catalog.subscript("models")->arrayValue()->size(), 1u);

  EXPECT_THAT(receivedMethods(), ElementsAre("initialize", "initialized", "skills/list",
                                             "plugin/list", "app/list", "model/list"));
  const JSONValue cwds = JSONValue(JSONValue::Array{workspace()});
  EXPECT_EQ(paramsOf("skills/list")[0],
            JSONValue::object({{"cwds", cwds}, {"forceReload", false}}));
  EXPECT_EQ(paramsOf("plugin/list")[0], JSONValue::object({{"cwds", cwds}}));
  EXPECT_EQ(paramsOf("app/list")[0], JSONValue::parse(R"({"limit": 200, "forceRefetch": false})"));
  EXPECT_EQ(paramsOf("model/list")[0],
            JSONValue::parse(R"({"limit": 200, "includeHidden": false})"));
}

TEST_F(AppServerBridgeTest, withoutCodex_turnsAndCatalogFailAndHealthSaysMissing) {
  auto bridge = makeBridge({}, /*withCodex=*/false);
  const char* notFound = "`codex` was not found in PATH or common install locations.";
  EXPECT_EQ(runTurn(*bridge).failure, notFound);
  try {
    bridge->commandCatalog(false);
    ADD_FAILURE() << "no failure";
  } catch (const AppServerBridgeError& error) {
    EXPECT_STREQ(error.what(), notFound);
  }
  EXPECT_EQ(bridge->health(), (CompanionHealth{.companion = HealthState::ready,
                                               .nativeHost = HealthState::ready,
                                               .extension = HealthState::ready,
                                               .codex = HealthState::missing,
                                               .appServer = HealthState::missing,
                                               .auth = HealthState::missing}));
  // Nothing was started.
  EXPECT_FALSE(fileSystem_->fileExists(workspace()));
}

TEST_F(AppServerBridgeTest, health_probesCodexWithoutStartingTheAppServer) {
  struct Case {
    const char* label;
    const char* help;  // what `codex app-server --help` does
    HealthState appServer;
  };
  const Case cases[] = {
      {"usage and status 0", "[]", HealthState::ready},
      {"status 2", R"([{"exit": 2}])", HealthState::error},
      {"no exit within the time-out", R"([{"sleep": 30}])", HealthState::error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    useScenario({}, {{"help", JSONValue::parse(c.help)}});
    auto bridge = makeBridge({.probeTimeout = Seconds(0.2)});
    CompanionHealth health = bridge->health();
    EXPECT_EQ(health.codex, HealthState::ready);
    EXPECT_EQ(health.appServer, c.appServer);
    EXPECT_EQ(health.companion, HealthState::ready);
    EXPECT_EQ(health.nativeHost, HealthState::ready);
    EXPECT_EQ(health.extension, HealthState::ready);
  }
  EXPECT_THAT(received(), IsEmpty()) << "the app-server was started";
}

TEST_F(AppServerBridgeTest, health_reportsARunningChildReadyWithoutProbing) {
  // A probe would say error.
  useScenario({{"turn/start", JSONValue::Array{turnStarted(), turnCompleted()}}},
              {{"help", JSONValue::parse(R"([{"exit": 2}])")}});
  auto bridge = makeBridge();
  EXPECT_EQ(bridge->health().appServer, HealthState::error);
  EXPECT_EQ(runTurn(*bridge).failure, std::nullopt);
  EXPECT_EQ(bridge->health().appServer, HealthState::ready);
}

TEST_F(AppServerBridgeTest, health_reportsSignInFromAuthJSON) {
  useScenario({});
  auto bridge = makeBridge();
  EXPECT_EQ(bridge->health().auth, HealthState::missing);
  home_.writeFile(".codex/auth.json", R"({"auth_mode": "apikey", "OPENAI_API_KEY": ""})");
  EXPECT_EQ(bridge->health().auth, HealthState::missing);
  home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY": "sk-test"})");
  EXPECT_EQ(bridge->health().auth, HealthState::ready);
}

}  // namespace
}  // namespace vellora
