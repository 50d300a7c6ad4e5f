// The real `codex app-server` (the pinned npm version) driven over its pipes in a scratch HOME,
// against the fake model server. These tests pin down the messages the host relies on, so that
// a Codex upgrade that changes them fails here first. They skip when the real Codex is not
// installed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "tests/support/CodexScratchHome.h"
#include "tests/support/FakeModelServer.h"

namespace vellora::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

// Every wait is bounded: a Codex that stops answering fails the test instead of hanging it.
constexpr auto kPatience = 60s;

std::string textAt(const JSONValue& value, std::initializer_list<std::string_view> path) {
  const JSONValue* current = &value;
  for (std::string_view key : path) {
    current = current->subscript(key);
    if (current == nullptr) return "<missing>";
  }
  return current->stringValue() ? *current->stringValue() : "<not text>";
}

bool isNotification(const JSONValue& message, std::string_view method) {
  const JSONValue* name = message.subscript("method");
  return name && name->stringValue() && *name->stringValue() == method &&
         message.subscript("id") == nullptr;
}

// One `codex app-server` child speaking JSON lines on its standard input and output.
class AppServer {
 public:
  AppServer(const std::string& codexPath, const CodexScratchHome& home) {
    static const std::unique_ptr<ProcessLauncher> launcher = makePosixProcessLauncher();
    const std::string workspace = home.path() + "/workspace";
    makePosixFileSystem()->createDirectories(workspace);
    ProcessLaunchOptions options;
    options.executablePath = codexPath;
    options.arguments = {"app-server", "-c", "notify=[]"};
    options.environment = home.environment();
    options.workingDirectory = workspace;
    options.standardInput = StreamMode::pipe;
    options.standardOutput = StreamMode::pipe;
    options.standardError = StreamMode::nullDevice;
    child_ = launcher->launch(options);
    workspace_ = workspace;
  }

  ~AppServer() {
    child_.standardInput->close();
    if (!child_.process->waitForExit(Clock::now() + 10s)) {
      child_.process->terminate();
      child_.process->waitForExit(Clock::now() + 10s);
    }
  }

  const std::string& workspace() const { return workspace_; }

  void send(const JSONValue& message) {
    child_.standardInput->writeAll(message.serialized() + "\n");
  }

  // The next message, or nothing when the output ended or nothing came in time.
  std::optional<JSONValue> next() {
    const auto deadline = Clock::now() + kPatience;
    for (;;) {
      if (std::size_t end = buffer_.find('\n'); end != std::string::npos) {
        JSONValue message = JSONValue::parse(std::string_view(buffer_).substr(0, end));
        buffer_.erase(0, end + 1);
        return message;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms) return std::nullopt;
      pollfd readable{child_.standardOutput->fileDescriptor(), POLLIN, 0};
      if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
      char chunk[65536];
      const std::size_t count = child_.standardOutput->read(chunk, sizeof chunk);
      if (count == 0) return std::nullopt;
      buffer_.append(chunk, count);
    }
  }

  // Reads until a message satisfies `wanted`, keeping every message read in `seen`.
  std::optional<JSONValue> readUntil(const std::function<bool(const JSONValue&)>& wanted) {
    while (std::optional<JSONValue> message = next()) {
      seen.push_back(*message);
      if (wanted(*message)) return message;
    }
    return std::nullopt;
  }

  // Sends a request and returns its whole response ({"id", "result"} or {"id", "error"}).
  JSONValue request(const std::string& method, JSONValue params) {
    const std::string id = "vellora_test_" + std::to_string(++requestCount_);
    send(JSONValue::object({{"id", id}, {"method", method}, {"params", std::move(params)}}));
    std::optional<JSONValue> response = readUntil([&](const JSONValue& message) {
      return message.subscript("id") && *message.subscript("id") == JSONValue(id) &&
             message.subscript("method") == nullptr;
    });
    return response.value_or(JSONValue("no response to " + method));
  }

  void initialize() {
    const JSONValue response = request(
        "initialize",
        JSONValue::object(
            {{"clientInfo",
              JSONValue::object({{"name", "vellora"}, {"title", "Vellora"}, {"version", "0.1.0"}})},
             {"capabilities", JSONValue::object({{"experimentalApi", false}})}}));
    ASSERT_NE(response.subscript("result"), nullptr) << response.serialized();
    send(JSONValue::object({{"method", "initialized"}, {"params", JSONValue::Object{}}}));
  }

  // Opens a thread as the host does and returns its id.
  std::string startThread() {
    const JSONValue response =
        request("thread/start",
                JSONValue::object({{"cwd", workspace_},
                                   {"approvalPolicy", "never"},
                                   {"sandbox", "read-only"},
                                   {"baseInstructions", "You are the Vellora test assistant."},
                                   {"developerInstructions", "Answer briefly."},
                                   {"ephemeral", true},
                                   {"personality", "pragmatic"},
                                   {"serviceName", "vellora"},
                                   {"experimentalRawEvents", false},
                                   {"persistExtendedHistory", false}}));
    return textAt(response, {"result", "thread", "id"});
  }

  // Starts a turn as the host does and returns the whole "turn/start" response.
  JSONValue startTurn(const std::string& threadID, const std::string& prompt) {
    JSONValue::Array input{JSONValue::object({{"type", "text"}, {"text", prompt}})};
    return request("turn/start",
                   JSONValue::object(
                       {{"threadId", threadID},
                        {"input", std::move(input)},
                        {"approvalPolicy", "never"},
                        {"sandboxPolicy",
                         JSONValue::object({{"type", "readOnly"},
                                            {"access", JSONValue::object({{"type", "fullAccess"}})},
                                            {"networkAccess", false}})},
                        {"model", "gpt-5.5"}}));
  }

  std::optional<JSONValue> readUntilTurnCompleted() {
    return readUntil(
        [](const JSONValue& message) { return isNotification(message, "turn/completed"); });
  }

  std::vector<JSONValue> seen;

 private:
  LaunchedProcess child_;
  std::string workspace_;
  std::string buffer_;
  int requestCount_ = 0;
};

class RealCodexContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::optional<std::string> codex = CodexScratchHome::realCodexPath();
    if (!codex) GTEST_SKIP() << "the real Codex is not installed (scripts/install-codex.sh)";
    codexPath_ = *codex;
  }

  std::string codexPath_;
};

TEST_F(RealCodexContractTest, aTextTurnStreamsDeltasNamingItsThreadAndTurn) {
  FakeModelServer model(
      FakeModelServer::scenario({FakeModelServer::answer({"Hello", " from", " the model."})}));
  CodexScratchHome home({.modelServerPort = model.port()});
  AppServer server(codexPath_, home);
  server.initialize();
  const std::string threadID = server.startThread();
  ASSERT_NE(threadID, "<missing>");

  for (const char* prompt : {"Say hello", "Say hello again"}) {
    SCOPED_TRACE(prompt);
    const JSONValue started = server.startTurn(threadID, prompt);
    const std::string turnID = textAt(started, {"result", "turn", "id"});
    ASSERT_NE(turnID, "<missing>") << started.serialized();
    EXPECT_EQ(textAt(started, {"result", "turn", "status"}), "inProgress");

    server.seen.clear();
    const std::optional<JSONValue> completed = server.readUntilTurnCompleted();
    ASSERT_TRUE(completed);
    EXPECT_EQ(textAt(*completed, {"params", "threadId"}), threadID);
    EXPECT_EQ(textAt(*completed, {"params", "turn", "id"}), turnID);
    EXPECT_EQ(textAt(*completed, {"params", "turn", "status"}), "completed");

    std::string answer;
    for (const JSONValue& message : server.seen) {
      if (!isNotification(message, "item/agentMessage/delta")) continue;
      EXPECT_EQ(textAt(message, {"params", "threadId"}), threadID);
      EXPECT_EQ(textAt(message, {"params", "turnId"}), turnID);
      answer += textAt(message, {"params", "delta"});
    }
    EXPECT_EQ(answer, "Hello from the model.");
  }

  // The prompt and the thread's instructions reached the model.
  const std::vector<JSONValue> requests = model.recordedRequests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string body = requests[1].subscript("body")->serialized({.escapeSlashes = false});
  EXPECT_THAT(body, HasSubstr("Say hello again"));
  EXPECT_THAT(body, HasSubstr("You are the Vellora test assistant."));
  EXPECT_THAT(body, HasSubstr("\"model\":\"gpt-5.5\""));
}

TEST_F(RealCodexContractTest, aFailingModelEndsTheTurnWithOneFinalErrorThenAFailedCompletion) {
  struct Case {
    const char* label;
    JSONValue step;
    // How many retry notices come before the final error (one retry is allowed).
    std::size_t retryNotices;
    // The final error's message, or for a JSON message its inner error.message.
    std::string finalMessage;
  } cases[] = {
      {"failed response", FakeModelServer::failed("The model is on fire."), 1,
       "stream disconnected before completion: The model is on fire."},
      // A client error is not retried; its message is the response body's JSON text.
      {"HTTP 400", FakeModelServer::httpError(400, "Bad prompt."), 0, "Bad prompt."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeModelServer model(FakeModelServer::scenario({c.step}));
    CodexScratchHome home({.modelServerPort = model.port(), .streamMaxRetries = 1});
    AppServer server(codexPath_, home);
    server.initialize();
    const std::string threadID = server.startThread();
    const std::string turnID =
        textAt(server.startTurn(threadID, "Say hello"), {"result", "turn", "id"});

    const std::optional<JSONValue> completed = server.readUntilTurnCompleted();
    ASSERT_TRUE(completed);
    std::vector<JSONValue> errors;
    for (const JSONValue& message : server.seen) {
      if (isNotification(message, "error")) errors.push_back(message);
    }
    ASSERT_FALSE(errors.empty());
    for (std::size_t i = 0; i < errors.size(); ++i) {
      const JSONValue& params = *errors[i].subscript("params");
      EXPECT_EQ(textAt(params, {"threadId"}), threadID);
      EXPECT_EQ(textAt(params, {"turnId"}), turnID);
      const bool last = i + 1 == errors.size();
      EXPECT_EQ(*params.subscript("willRetry"), JSONValue(!last)) << errors[i].serialized();
      if (!last) {
        EXPECT_THAT(textAt(params, {"error", "message"}), StartsWith("Reconnecting... "));
      }
    }
    EXPECT_EQ(errors.size(), c.retryNotices + 1);

    std::string finalMessage = textAt(*errors.back().subscript("params"), {"error", "message"});
    if (finalMessage.starts_with("{")) {
      finalMessage = textAt(JSONValue::parse(finalMessage), {"error", "message"});
    }
    EXPECT_EQ(finalMessage, c.finalMessage);

    EXPECT_EQ(textAt(*completed, {"params", "turn", "id"}), turnID);
    EXPECT_EQ(textAt(*completed, {"params", "turn", "status"}), "failed");
    EXPECT_EQ(textAt(*completed, {"params", "turn", "error", "message"}),
              textAt(*errors.back().subscript("params"), {"error", "message"}));
  }
}

TEST_F(RealCodexContractTest, anUnreachableModelRetriesUntilTheTurnIsInterrupted) {
  CodexScratchHome home({.modelServerPort = FakeModelServer::closedPort()});
  AppServer server(codexPath_, home);
  server.initialize();
  const std::string threadID = server.startThread();
  const std::string turnID =
      textAt(server.startTurn(threadID, "Say hello"), {"result", "turn", "id"});

  // However few retries are configured, Codex waits for the network without end.
  const std::optional<JSONValue> notice =
      server.readUntil([](const JSONValue& message) { return isNotification(message, "error"); });
  ASSERT_TRUE(notice);
  EXPECT_EQ(*notice->subscript("params")->subscript("willRetry"), JSONValue(true));
  EXPECT_EQ(textAt(*notice, {"params", "error", "message"}), "Reconnecting... waiting for network");
  EXPECT_EQ(textAt(*notice, {"params", "turnId"}), turnID);

  const JSONValue interrupted = server.request(
      "turn/interrupt", JSONValue::object({{"threadId", threadID}, {"turnId", turnID}}));
  EXPECT_EQ(*interrupted.subscript("result"), JSONValue(JSONValue::Object{}));
  const std::optional<JSONValue> completed = server.readUntilTurnCompleted();
  ASSERT_TRUE(completed);
  EXPECT_EQ(textAt(*completed, {"params", "turn", "id"}), turnID);
  EXPECT_EQ(textAt(*completed, {"params", "turn", "status"}), "interrupted");
}

TEST_F(RealCodexContractTest, theFourListsAnswerInTheScratchHome) {
  FakeModelServer model;
  CodexScratchHome home({.modelServerPort = model.port()});
  AppServer server(codexPath_, home);
  server.initialize();

  const JSONValue skills = server.request(
      "skills/list",
      JSONValue::object({{"cwds", JSONValue::Array{server.workspace()}}, {"forceReload", false}}));
  const JSONValue* entries =
      skills.subscript("result") ? skills.subscript("result")->subscript("data") : nullptr;
  ASSERT_TRUE(entries && entries->arrayValue() && !entries->arrayValue()->empty())
      << skills.serialized();
  const JSONValue* bundled = (*entries->arrayValue())[0].subscript("skills");
  ASSERT_TRUE(bundled && bundled->arrayValue() && !bundled->arrayValue()->empty());
  EXPECT_NE(textAt((*bundled->arrayValue())[0], {"name"}), "<missing>");

  struct Case {
    const char* method;
    JSONValue params;
    const char* arrayMember;
  } cases[] = {
      {"plugin/list", JSONValue::object({{"cwds", JSONValue::Array{server.workspace()}}}),
       "marketplaces"},
      {"app/list", JSONValue::object({{"limit", 200}, {"forceRefetch", false}}), "data"},
      {"model/list", JSONValue::object({{"limit", 200}, {"includeHidden", false}}), "data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    const JSONValue response = server.request(c.method, c.params);
    const JSONValue* result = response.subscript("result");
    ASSERT_NE(result, nullptr) << response.serialized();
    ASSERT_NE(result->subscript(c.arrayMember), nullptr);
    EXPECT_NE(result->subscript(c.arrayMember)->arrayValue(), nullptr);
  }
}

}  // namespace
}  // namespace vellora::test
