// The host and the bridge against the real `codex app-server` (the pinned npm version) in a
// scratch HOME, with the fake model server as Codex's model provider: "health", "codex.catalog"
// and whole chat turns through the real host binary over real pipes, and a turn whose model
// cannot be reached through an in-process bridge with a short retry window. They skip when the
// real Codex is not installed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "VelloraCore/AppServer/AppServerBridge.h"
#include "VelloraCore/AppServer/AppServerError.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Platform/ReadinessWait.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "tests/VelloraCore/TurnContent/ImageFixtures.h"
#include "tests/support/BridgeTurn.h"
#include "tests/support/CodexScratchHome.h"
#include "tests/support/FakeModelServer.h"
#include "tests/support/HostProcess.h"

namespace vellora {

// Failures show an envelope as the JSON the host wrote.
static void PrintTo(const NativeEnvelope& envelope, std::ostream* out) {
  std::string json;
  envelope.appendJSON(json, {.escapeSlashes = false});
  *out << json;
}

namespace test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Everything the host wrote for one request: the turn's "chat.delta" and "chat.attachment"
// messages, then the reply that ended it.
struct Replies {
  std::vector<NativeEnvelope> streamed;
  NativeEnvelope last;

  std::vector<std::string> deltas() const {
    std::vector<std::string> texts;
    for (const NativeEnvelope& message : streamed) {
      if (message.type == "chat.delta" && message.delta) texts.push_back(*message.delta);
    }
    return texts;
  }
};

Replies readReplies(HostProcess& host) {
  Replies replies;
  while (std::optional<NativeEnvelope> reply = host.readReply()) {
    if (reply->type != "chat.delta" && reply->type != "chat.attachment") {
      replies.last = std::move(*reply);
      return replies;
    }
    replies.streamed.push_back(std::move(*reply));
  }
  replies.last.type = "<the host closed its output>";
  return replies;
}

NativeEnvelope chatTurn(const std::string& requestID, const std::string& sessionID,
                        const std::string& prompt) {
  return {.type = "chat.turn", .requestId = requestID, .sessionId = sessionID, .prompt = prompt};
}

// The text of every model request's body, in order.
std::vector<std::string> modelRequestBodies(const FakeModelServer& model) {
  std::vector<std::string> bodies;
  for (const JSONValue& request : model.recordedRequests()) {
    bodies.push_back(request.subscript("body")->serialized({.escapeSlashes = false}));
  }
  return bodies;
}

std::size_t arraySize(const JSONValue& value, std::string_view member) {
  const JSONValue* array = value.subscript(member);
  return array && array->arrayValue() ? array->arrayValue()->size() : 0;
}

class RealCodexHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::optional<std::string> codex = CodexScratchHome::realCodexPath();
    if (!codex) GTEST_SKIP() << "the real Codex is not installed (scripts/install-codex.sh)";
    codexPath_ = *codex;
  }

  // The scratch HOME's environment, with the host told where the real Codex is.
  Environment hostEnvironment(const CodexScratchHome& home) const {
    Environment environment = home.environment();
    environment["VELLORA_CODEX_PATH"] = codexPath_;
    return environment;
  }

  std::string codexPath_;
};

TEST_F(RealCodexHostTest, healthFindsCodexProbesTheAppServerAndFollowsTheSignIn) {
  FakeModelServer model;
  CodexScratchHome home({.modelServerPort = model.port()});
  HostProcess host(hostEnvironment(home));

  const auto health = [&](const std::string& requestID) {
    host.send({.type = "health", .requestId = requestID});
    std::optional<NativeEnvelope> reply = host.readReply();
    EXPECT_TRUE(reply && reply->type == "health" && reply->ok == true && reply->status);
    EXPECT_EQ(reply->requestId, requestID);
    return reply && reply->status ? *reply->status : CompanionHealth{};
  };
  const CompanionHealth signedOut = health("h1");
  EXPECT_EQ(signedOut, (CompanionHealth{.companion = HealthState::ready,
                                        .nativeHost = HealthState::ready,
                                        .extension = HealthState::ready,
                                        .codex = HealthState::ready,
                                        .appServer = HealthState::ready,
                                        .auth = HealthState::missing}));
  home.signIn();
  EXPECT_EQ(health("h2").auth, HealthState::ready);
  home.signOut();
  EXPECT_EQ(health("h3").auth, HealthState::missing);

  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
  // Health never starts a model turn, nor the app-server.
  EXPECT_TRUE(model.recordedRequests().empty());
}

TEST_F(RealCodexHostTest, catalogHoldsTheRealSkillsAndEveryListWithoutErrors) {
  FakeModelServer model;
  CodexScratchHome home({.modelServerPort = model.port()});
  HostProcess host(hostEnvironment(home));

  host.send({.type = "codex.catalog", .requestId = "c1"});
  std::optional<NativeEnvelope> reply = host.readReply();
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->type, "codex.catalog") << reply->message.value_or("");
  EXPECT_EQ(reply->requestId, "c1");
  EXPECT_EQ(reply->ok, true);
  ASSERT_TRUE(reply->catalog);
  const JSONValue& catalog = *reply->catalog;

  // Codex installs its bundled skills into the scratch HOME at start.
  EXPECT_GT(arraySize(catalog, "skills"), 0u) << catalog.serialized();
  for (const char* list : {"plugins", "apps", "models"}) {
    ASSERT_NE(catalog.subscript(list), nullptr) << list;
    EXPECT_NE(catalog.subscript(list)->arrayValue(), nullptr) << list;
  }
  ASSERT_NE(catalog.subscript("errors"), nullptr);
  EXPECT_EQ(*catalog.subscript("errors"), JSONValue(JSONValue::Array{})) << catalog.serialized();

  // The same child answers again; and "health" now sees it running.
  host.send({.type = "codex.catalog", .requestId = "c2"});
  reply = host.readReply();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->type, "codex.catalog");
  EXPECT_EQ(reply->catalog, catalog);
  host.send({.type = "health"});
  reply = host.readReply();
  ASSERT_TRUE(reply && reply->status);
  EXPECT_EQ(reply->status->appServer, HealthState::ready);

  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

TEST_F(RealCodexHostTest, chatTurnsStreamTheModelsDeltasInOrderAndKeepOneThreadPerSession) {
  FakeModelServer model(FakeModelServer::scenario({
      FakeModelServer::answer({"Hello", " from", " the model."}),
      FakeModelServer::answer({"Second", " answer", "."}),
      FakeModelServer::answer({"Other", " session."}),
  }));
  CodexScratchHome home({.modelServerPort = model.port()});
  HostProcess host(hostEnvironment(home));

  struct Case {
    NativeEnvelope request;
    std::vector<std::string> deltas;
  } cases[] = {
      {chatTurn("t1", "s1", "Say hello"), {"Hello", " from", " the model."}},
      {chatTurn("t2", "s1", "Say it again"), {"Second", " answer", "."}},
      {chatTurn("t3", "s2", "Who are you?"), {"Other", " session."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(*c.request.requestId);
    host.send(c.request);
    const Replies replies = readReplies(host);
    EXPECT_EQ(replies.deltas(), c.deltas);
    for (const NativeEnvelope& message : replies.streamed) {
      EXPECT_EQ(message, (NativeEnvelope{.type = "chat.delta",
                                         .requestId = c.request.requestId,
                                         .sessionId = c.request.sessionId,
                                         .delta = message.delta}));
    }
    EXPECT_EQ(replies.last, (NativeEnvelope{.type = "chat.done",
                                            .requestId = c.request.requestId,
                                            .sessionId = c.request.sessionId}))
        << replies.last.message.value_or("");
  }

  // The second turn of "s1" ran in the first one's thread (Codex sent the model the earlier
  // exchange); "s2" got a thread of its own.
  const std::vector<std::string> bodies = modelRequestBodies(model);
  ASSERT_EQ(bodies.size(), 3u);
  EXPECT_THAT(bodies[0], HasSubstr("Say hello"));
  EXPECT_THAT(bodies[1], HasSubstr("Say hello"));
  EXPECT_THAT(bodies[1], HasSubstr("Hello from the model."));
  EXPECT_THAT(bodies[1], HasSubstr("Say it again"));
  EXPECT_THAT(bodies[2], HasSubstr("Who are you?"));
  EXPECT_THAT(bodies[2], Not(HasSubstr("Say hello")));
  // Every turn asks for the configured model, whatever the request says.
  for (const std::string& body : bodies) EXPECT_THAT(body, HasSubstr("\"model\":\"gpt-5.5\""));

  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

// The model streams a first piece and then holds its answer open: a cancel interrupts the turn,
// which ends with its own "chat.done" (the text so far stands), and the session goes on.
TEST_F(RealCodexHostTest, aCancelDuringATurnEndsItWithDoneAndTheSessionGoesOn) {
  FakeModelServer model(FakeModelServer::scenario({
      FakeModelServer::stall({"Hello"}),
      FakeModelServer::answer({"After", " the stop."}),
  }));
  CodexScratchHome home({.modelServerPort = model.port()});
  HostProcess host(hostEnvironment(home));

  host.send(chatTurn("t1", "s1", "Say hello"));
  std::optional<NativeEnvelope> first = host.readReply();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first,
            (NativeEnvelope{
                .type = "chat.delta", .requestId = "t1", .sessionId = "s1", .delta = "Hello"}));
  host.send({.type = "chat.cancel", .requestId = "c1", .sessionId = "s1"});
  const Replies stopped = readReplies(host);
  EXPECT_EQ(stopped.last,
            (NativeEnvelope{.type = "chat.done", .requestId = "t1", .sessionId = "s1"}))
      << stopped.last.message.value_or("");
  EXPECT_EQ(host.readReply(),
            (NativeEnvelope{.type = "chat.cancelled", .requestId = "c1", .sessionId = "s1"}));

  host.send(chatTurn("t2", "s1", "Go on"));
  const Replies next = readReplies(host);
  EXPECT_EQ(next.deltas(), (std::vector<std::string>{"After", " the stop."}));
  EXPECT_EQ(next.last, (NativeEnvelope{.type = "chat.done", .requestId = "t2", .sessionId = "s1"}))
      << next.last.message.value_or("");

  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

// Codex echoes the user's input back as a userMessage item, and a page can write anything into
// it: a saved image's path named there is never read, only what Codex itself answers.
TEST_F(RealCodexHostTest, aSavedImageNamedOnlyInTheUsersInputIsNeverSent) {
  FakeModelServer model(FakeModelServer::scenario({FakeModelServer::answer({"Hello", " world"})}));
  CodexScratchHome home({.modelServerPort = model.port()});
  const std::string image = home.codexHomeDirectory() + "/generated_images/notes.png";
  std::filesystem::create_directories(home.codexHomeDirectory() + "/generated_images");
  makePosixFileSystem()->writeFileAtomically(image, makePNG(8, 8));
  HostProcess host(hostEnvironment(home));

  host.send(chatTurn("t1", "s1", "Describe " + image));
  const Replies replies = readReplies(host);
  EXPECT_EQ(replies.deltas(), (std::vector<std::string>{"Hello", " world"}));
  for (const NativeEnvelope& message : replies.streamed) EXPECT_EQ(message.type, "chat.delta");
  EXPECT_EQ(replies.last.type, "chat.done") << replies.last.message.value_or("");
  // The path did reach Codex.
  const std::vector<std::string> bodies = modelRequestBodies(model);
  ASSERT_EQ(bodies.size(), 1u);
  EXPECT_THAT(bodies[0], HasSubstr("notes.png"));

  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

// With CODEX_HOME set, Codex keeps its configuration and sign-in there, and so does the host
// look: the sign-in counts, and the turn runs with the configuration found there.
TEST_F(RealCodexHostTest, codexsOwnFolderIsCODEX_HOMEWhenItIsSet) {
  FakeModelServer model(FakeModelServer::scenario({FakeModelServer::answer({"From", " there."})}));
  CodexScratchHome home({.modelServerPort = model.port()});
  home.signIn();
  const std::string elsewhere = home.path() + "/state/codex";
  std::filesystem::create_directories(home.path() + "/state");
  std::filesystem::rename(home.codexHomeDirectory(), elsewhere);
  Environment environment = hostEnvironment(home);
  environment["CODEX_HOME"] = elsewhere;
  HostProcess host(environment);

  host.send({.type = "health", .requestId = "h1"});
  std::optional<NativeEnvelope> health = host.readReply();
  ASSERT_TRUE(health && health->status);
  EXPECT_EQ(health->status->auth, HealthState::ready);
  EXPECT_EQ(health->status->appServer, HealthState::ready);

  host.send(chatTurn("t1", "s1", "Where are you?"));
  const Replies replies = readReplies(host);
  EXPECT_EQ(replies.deltas(), (std::vector<std::string>{"From", " there."}));
  EXPECT_EQ(replies.last.type, "chat.done") << replies.last.message.value_or("");

  EXPECT_EQ(host.waitForExit(), 0);
  EXPECT_EQ(host.standardErrorText(), "");
}

TEST_F(RealCodexHostTest, aFailingModelFailsTheTurnWithCodexsTextAndTheSessionGoesOn) {
  struct Case {
    const char* label;
    JSONValue failure;
    std::string message;
  } cases[] = {
      // Codex passes the response body on as its message; its inner message is what we show.
      {"HTTP 400", FakeModelServer::httpError(400, "Bad prompt"),
       "Codex app-server returned an error: Bad prompt."},
      {"response.failed", FakeModelServer::failed("The model is on fire"),
       "Codex app-server returned an error: stream disconnected before completion: The model is "
       "on fire."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeModelServer model(
        FakeModelServer::scenario({c.failure, FakeModelServer::answer({"Fine", " now."})}));
    CodexScratchHome home({.modelServerPort = model.port()});
    HostProcess host(hostEnvironment(home));

    host.send(chatTurn("t1", "s1", "Say hello"));
    Replies replies = readReplies(host);
    EXPECT_TRUE(replies.streamed.empty());
    EXPECT_EQ(
        replies.last,
        (NativeEnvelope{
            .type = "error", .requestId = "t1", .code = "chat_turn_failed", .message = c.message}));

    // Codex reports the failed turn's completion after its error; the next turn of the session
    // must not take it for its own end.
    host.send(chatTurn("t2", "s1", "Try again"));
    replies = readReplies(host);
    EXPECT_THAT(replies.deltas(), ElementsAre("Fine", " now."));
    EXPECT_EQ(replies.last,
              (NativeEnvelope{.type = "chat.done", .requestId = "t2", .sessionId = "s1"}))
        << replies.last.message.value_or("");

    EXPECT_EQ(host.waitForExit(), 0);
    EXPECT_EQ(host.standardErrorText(), "");
  }
}

// A `codex` that runs the real one and copies each line it writes to a file before passing it
// on, so that once the bridge has read a message, the test finds it in the file.
std::string writeRecordingCodex(const CodexScratchHome& home, const std::string& realCodex,
                                const std::string& outputLog) {
  const std::string path = home.path() + "/recording-codex/codex";
  makePosixFileSystem()->createDirectories(home.path() + "/recording-codex");
  makePosixFileSystem()->writeFileAtomically(
      path, "#!/bin/sh\n\"" + realCodex + "\" \"$@\" | while IFS= read -r line; do\n" +
                "  printf '%s\\n' \"$line\" >>\"" + outputLog + "\"\n" +
                "  printf '%s\\n' \"$line\"\n" + "done\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

std::vector<JSONValue> readJSONLines(const std::string& path) {
  std::vector<JSONValue> messages;
  const std::string text = makePosixFileSystem()->readFile(path, 1 << 20);
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    messages.push_back(JSONValue::parse(std::string_view(text).substr(start, end - start)));
  }
  return messages;
}

TEST_F(RealCodexHostTest, aTurnWhoseModelIsUnreachableIsInterruptedWhenItsRetryWindowEnds) {
  // Codex waits for the network without end (notices at about 0 s, 5 s, 15 s...); a window of
  // two seconds runs out while the bridge waits for the next one.
  CodexScratchHome home({.modelServerPort = FakeModelServer::closedPort()});
  const std::string outputLog = home.path() + "/codex-output.jsonl";
  Environment environment = home.environment();
  environment["VELLORA_CODEX_PATH"] = writeRecordingCodex(home, codexPath_, outputLog);

  std::unique_ptr<FileSystem> fileSystem = makePosixFileSystem();
  std::unique_ptr<ProcessLauncher> launcher = makePosixProcessLauncher();
  const SteadyClock clock;
  AppServerBridge::Timing timing;
  timing.retryWindow = Seconds(2);
  {
    const std::unique_ptr<ReadinessWait> wait = makePollReadinessWait(clock);
    AppServerBridge bridge(
        {.paths = AppPaths::platformLayout(home.path(), {}),
         .locator = CodexLocator(*fileSystem, environment, home.path(),
                                 [](const Environment&) { return std::nullopt; }),
         .authDetector = CodexAuthDetector(home.path() + "/.codex", *fileSystem),
         .configuration = CodexAppServerConfiguration(environment),
         .fileSystem = *fileSystem,
         .launcher = *launcher,
         .clock = clock,
         .wait = *wait,
         .environment = environment,
         .homeDirectory = home.path(),
         .timing = timing});

    std::vector<std::string> deltas;
    const std::optional<std::string> failure =
        runTurnToEnd(bridge,
                     {.sessionID = "s1",
                      .prompt = "Say hello",
                      .onDelta = [&](const std::string& delta) { deltas.push_back(delta); },
                      .onAttachment = [](const JSONValue&) {}},
                     clock);
    EXPECT_EQ(failure, "Codex app-server returned an error: Reconnecting... waiting for network.");
    EXPECT_TRUE(deltas.empty());
  }

  // What Codex said: retry notices for the turn, then that turn's end as interrupted.
  std::optional<std::string> turnID;
  bool interrupted = false;
  for (const JSONValue& message : readJSONLines(outputLog)) {
    const JSONValue* method = message.subscript("method");
    const JSONValue* params = message.subscript("params");
    if (method == nullptr || params == nullptr) continue;
    if (*method == JSONValue("error")) {
      EXPECT_EQ(*params->subscript("willRetry"), JSONValue(true)) << message.serialized();
      if (!turnID && params->subscript("turnId"))
        turnID = *params->subscript("turnId")->stringValue();
    } else if (*method == JSONValue("turn/completed")) {
      ASSERT_TRUE(turnID) << "a turn ended before any retry notice";
      EXPECT_EQ(*params->subscript("turn")->subscript("id"), JSONValue(*turnID));
      EXPECT_EQ(*params->subscript("turn")->subscript("status"), JSONValue("interrupted"));
      interrupted = true;
    }
  }
  EXPECT_TRUE(turnID) << "no retry notice";
  EXPECT_TRUE(interrupted) << "the turn was not interrupted";
}

}  // namespace
}  // namespace test
}  // namespace vellora
