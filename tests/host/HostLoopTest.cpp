#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/FakeCodexScenario.h"
#include "tests/support/HostProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::ElementsAre;
using namespace test::fakeCodex;

NativeEnvelope chatTurn(const std::string& requestId, const std::string& sessionId) {
  return {.type = "chat.turn", .requestId = requestId, .sessionId = sessionId, .prompt = "Hi"};
}

NativeEnvelope chatCancel(const std::string& requestId, std::optional<std::string> sessionId) {
  return {.type = "chat.cancel", .requestId = requestId, .sessionId = std::move(sessionId)};
}

NativeEnvelope chatDelta(const std::string& requestId, const std::string& sessionId,
                         const std::string& text) {
  return {.type = "chat.delta", .requestId = requestId, .sessionId = sessionId, .delta = text};
}

NativeEnvelope chatDone(const std::string& requestId, const std::string& sessionId) {
  return {.type = "chat.done", .requestId = requestId, .sessionId = sessionId};
}

NativeEnvelope chatCancelled(const std::string& requestId, const std::string& sessionId) {
  return {.type = "chat.cancelled", .requestId = requestId, .sessionId = sessionId};
}

const NativeEnvelope kPong = {
    .type = "pong", .requestId = "p1", .ok = true, .app = "vellora-companion", .version = "0.1.0"};

// The turn/interrupt answer of a Codex that stops the turn at once.
JSONValue::Array interruptAnswered(std::string_view turn = "turn-1",
                                   std::string_view thread = "thread-1") {
  return {JSONValue::parse(R"({"result": {}})"), turnCompleted(turn, "interrupted", thread)};
}

// The real host over real pipes with the stand-in, while turns run: what it reads and answers
// meanwhile.
class HostLoopTest : public ::testing::Test {
 protected:
  Environment hostEnvironment() const {
    return {{"HOME", home_.path()},
            {"PATH", "/usr/bin:/bin"},
            {"LANG", "C"},
            {"VELLORA_CODEX_PATH", test::kFakeCodexPath},
            {test::kFakeCodexScenarioVariable, scenario_.path()}};
  }

  std::string marker(const std::string& name) const { return home_ / name; }
  // Lets a stand-in that waits for this file go on.
  void release(const std::string& name) const { std::ofstream(marker(name)) << "go"; }

  // Waits (bounded) until the file exists; the stand-in writes it when its input ends.
  bool appears(const std::string& path) const {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::access(path.c_str(), F_OK) != 0) {
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  // What the stand-in does when its input ends: it notes it in the file "input-ended".
  JSONValue noteInputEnded() const {
    return JSONValue::object({{"appendFile", marker("input-ended")}, {"text", "ended"}});
  }

  test::TemporaryDirectory home_;
  test::FakeCodexScenario scenario_{home_.path()};
};

TEST_F(HostLoopTest, pingAndHealth_areAnsweredWhileATurnWaitsForItsNextDelta) {
  scenario_.write(
      {{"turn/start", JSONValue::Array{turnStarted(), delta("a"), awaitFile(marker("go")),
                                       delta("b"), turnCompleted()}}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "a"));
  host.send({.type = "ping", .requestId = "p1"});
  EXPECT_EQ(host.readReply(), kPong);
  host.send({.type = "health", .requestId = "h1"});
  std::optional<NativeEnvelope> health = host.readReply();
  ASSERT_TRUE(health);
  EXPECT_EQ(health->type, "health");
  EXPECT_EQ(health->requestId, "h1");
  ASSERT_TRUE(health->status);
  EXPECT_EQ(health->status->appServer, HealthState::ready);

  release("go");
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "b"));
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

// Without an app-server, "health" runs the availability probe (`codex app-server --help`); the
// host goes on reading while it waits for the probe's end.
TEST_F(HostLoopTest, aPingSentWhileHealthProbes_isAnsweredFirst) {
  scenario_.write({}, {{"help", JSONValue::Array{awaitFile(marker("go"))}}});
  test::HostProcess host(hostEnvironment());

  host.send({.type = "health", .requestId = "h1"});
  host.send({.type = "ping", .requestId = "p1"});
  EXPECT_EQ(host.readReply(), kPong);
  release("go");
  std::optional<NativeEnvelope> health = host.readReply();
  ASSERT_TRUE(health && health->status);
  EXPECT_EQ(health->requestId, "h1");
  EXPECT_EQ(health->status->appServer, HealthState::ready);
  EXPECT_EQ(host.waitForExit(), 0);
}

// The running turn is interrupted and ends with its own "chat.done"; the one waiting behind it
// is dropped with its "chat.done" and never reaches Codex.
TEST_F(HostLoopTest, aCancelMidTurn_interruptsItThenAnswersDoneAndCancelled) {
  scenario_.write(
      {{"turn/start", JSONValue::Array{turnStarted(), delta("a"), awaitMessage("turn/interrupt")}},
       {"turn/interrupt", interruptAnswered()}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "a"));
  host.send(chatTurn("r2", "s1"));
  host.send(chatCancel("c1", "s1"));
  EXPECT_EQ(host.readReply(), chatDone("r2", "s1"));
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatCancelled("c1", "s1"));

  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_THAT(scenario_.paramsOf("turn/interrupt"),
              ElementsAre(JSONValue::object({{"threadId", "thread-1"}, {"turnId", "turn-1"}})));
  EXPECT_EQ(scenario_.paramsOf("turn/start").size(), 1u);
}

// A cancel read while the session's thread is still being opened is held until Codex has given
// the turn's id.
TEST_F(HostLoopTest, aCancelBeforeTheTurnHasAnID_isSentOnceItHasOne) {
  scenario_.write(
      {{"thread/start", JSONValue::Array{awaitFile(marker("go")), threadStarted("thread-1")}},
       {"turn/start", JSONValue::Array{turnStarted(), awaitMessage("turn/interrupt")}},
       {"turn/interrupt", interruptAnswered()}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  host.send(chatCancel("c1", "s1"));
  // The ping behind the cancel is answered while "thread/start" still waits: the cancel has been
  // read by then.
  host.send({.type = "ping", .requestId = "p1"});
  EXPECT_EQ(host.readReply(), kPong);
  release("go");
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatCancelled("c1", "s1"));
  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_THAT(scenario_.paramsOf("turn/interrupt"),
              ElementsAre(JSONValue::object({{"threadId", "thread-1"}, {"turnId", "turn-1"}})));
}

TEST_F(HostLoopTest, aCancelWithNothingToStopOrWithoutSession_isAnsweredAtOnce) {
  test::HostProcess host(hostEnvironment());
  host.send(chatCancel("c1", "s1"));
  EXPECT_EQ(host.readReply(), chatCancelled("c1", "s1"));
  host.send(chatCancel("c2", std::nullopt));
  EXPECT_EQ(host.readReply(), (NativeEnvelope{.type = "error",
                                              .requestId = "c2",
                                              .code = "invalid_chat_cancel",
                                              .message = "Chat cancel requires sessionId."}));
  EXPECT_EQ(host.waitForExit(), 0);
  // Nothing was running, so no app-server was started.
  EXPECT_TRUE(scenario_.received().empty());
}

// The second session's turn starts while the first streams; each delta carries its own turn's
// ids, and each turn ends in its own time.
TEST_F(HostLoopTest, twoSessions_runSideBySideOnOneAppServer) {
  scenario_.write(
      {{"thread/start#1", JSONValue::Array{threadStarted("thread-1")}},
       {"thread/start#2", JSONValue::Array{threadStarted("thread-2")}},
       {"turn/start#1",
        JSONValue::Array{turnStarted("turn-1"), delta("a1"), awaitMessage("turn/start"),
                         delta("a2"), turnCompleted("turn-1"), delta("b2", "turn-2", "thread-2"),
                         turnCompleted("turn-2", "completed", "thread-2")}},
       {"turn/start#2",
        JSONValue::Array{turnStarted("turn-2"), delta("b1", "turn-2", "thread-2")}}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "a1"));
  host.send(chatTurn("r2", "s2"));
  EXPECT_EQ(host.readReply(), chatDelta("r2", "s2", "b1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "a2"));
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r2", "s2", "b2"));
  EXPECT_EQ(host.readReply(), chatDone("r2", "s2"));
  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(scenario_.paramsOf("initialize").size(), 1u);
}

TEST_F(HostLoopTest, aSecondTurnOfTheSameSession_waitsForTheFirstToEnd) {
  scenario_.write(
      {{"turn/start#1", JSONValue::Array{turnStarted("turn-1"), delta("a"), awaitFile(marker("go")),
                                         turnCompleted("turn-1")}},
       {"turn/start#2",
        JSONValue::Array{turnStarted("turn-2"), delta("b", "turn-2"), turnCompleted("turn-2")}}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "a"));
  host.send(chatTurn("r2", "s1"));
  host.send({.type = "ping", .requestId = "p1"});
  EXPECT_EQ(host.readReply(), kPong);
  // The second turn has been read, and is not started while the first runs.
  EXPECT_EQ(scenario_.paramsOf("turn/start").size(), 1u);
  release("go");
  EXPECT_EQ(host.readReply(), chatDone("r1", "s1"));
  EXPECT_EQ(host.readReply(), chatDelta("r2", "s1", "b"));
  EXPECT_EQ(host.readReply(), chatDone("r2", "s1"));
  EXPECT_EQ(host.waitForExit(), 0);
}

// A frame that is not JSON ends the host also when it arrives while a request to the app-server
// waits: it is never taken for a failure of that request.
TEST_F(HostLoopTest, aBadFrameReadWhileTheAppServerIsAwaited_takesTheFatalPath) {
  scenario_.write(
      {{"thread/start", JSONValue::Array{awaitFile(marker("go")), threadStarted("thread-1")}}});
  test::HostProcess host(hostEnvironment());

  host.send(chatTurn("r1", "s1"));
  host.send({.type = "ping", .requestId = "p1"});
  EXPECT_EQ(host.readReply(), kPong);
  const std::string payload = "not json";
  const auto length = static_cast<std::uint32_t>(payload.size());
  host.sendBytes(std::string(reinterpret_cast<const char*>(&length), 4) + payload);
  std::optional<NativeEnvelope> reply = host.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->type, "error");
  EXPECT_EQ(reply->code, "native_host_error");
  EXPECT_EQ(reply->requestId, std::nullopt);
  EXPECT_EQ(host.readReply(), std::nullopt);
  EXPECT_EQ(host.waitForExit(), 1);
  release("go");
}

// A reader that went away is noticed while Codex says nothing: the turn is interrupted, the
// app-server's input closed, and the host ends (0 for the end of its input, 1 for a frame it
// could not write).
TEST_F(HostLoopTest, aReaderThatIsGone_isNoticedMidTurnWithASilentChild) {
  for (const bool inputClosed : {true, false}) {
    SCOPED_TRACE(inputClosed ? "standard input closed" : "standard output closed");
    scenario_.forgetReceived();
    ::unlink(marker("input-ended").c_str());
    ::unlink(marker("go").c_str());
    // After its first delta the stand-in answers nothing more, not even the interrupt; it waits
    // for its input to end. With the output closed it first sends the delta that cannot be
    // written.
    JSONValue::Array turn{turnStarted(), delta("a")};
    if (!inputClosed) {
      turn.push_back(awaitFile(marker("go")));
      turn.push_back(delta("b"));
    }
    turn.push_back(awaitMessage("turn/interrupt"));
    turn.push_back(awaitMessage("input ends first"));
    scenario_.write({{"turn/start", turn}, {"turn/interrupt", JSONValue::Array{}}},
                    {{"endOfInput", JSONValue::Array{noteInputEnded()}}});
    test::HostProcess host(hostEnvironment());

    host.send(chatTurn("r1", "s1"));
    EXPECT_EQ(host.readReply(), chatDelta("r1", "s1", "a"));
    if (inputClosed) {
      host.closeInput();
    } else {
      host.closeOutput();
      // The next delta is the frame that cannot be written.
      release("go");
    }
    // With its output gone the host ends by itself; its input stays open.
    EXPECT_EQ(host.waitForExit(/*closingInput=*/false), inputClosed ? 0 : 1);
    EXPECT_TRUE(appears(marker("input-ended")));
    EXPECT_THAT(scenario_.paramsOf("turn/interrupt"),
                ElementsAre(JSONValue::object({{"threadId", "thread-1"}, {"turnId", "turn-1"}})));
    EXPECT_EQ(host.standardErrorText(), "");
  }
}

}  // namespace
}  // namespace vellora
