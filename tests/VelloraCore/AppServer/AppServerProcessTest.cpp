#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <limits>
#include <regex>
#include <thread>

#include "VelloraCore/AppServer/AppServerProcess.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

// Like the host, take a vanished reader as a write error rather than a signal.
const bool kSigpipeIgnored = [] {
  ::signal(SIGPIPE, SIG_IGN);
  return true;
}();

class AppServerProcessTest : public ::testing::Test {
 protected:
  // An AppServerProcess running the stand-in with `scenario` (JSON text), which records what it
  // receives and how it was launched.
  std::unique_ptr<AppServerProcess> makeProcess(const std::string& scenario) {
    JSONValue value = JSONValue::parse(scenario);
    (*value.objectValue())["record"] = recordPath();
    (*value.objectValue())["launchRecord"] = launchRecordPath();
    std::string scenarioPath = home_.writeFile("scenario.json", value.serialized());
    Environment environment = {{"HOME", home_.path()},
                               {"PATH", "/usr/bin:/bin"},
                               {"LANG", "C"},
                               {test::kFakeCodexScenarioVariable, scenarioPath}};
    return std::make_unique<AppServerProcess>(
        test::kFakeCodexPath, workspace(),
        [this](const JSONValue& message) { handled_.push_back(message); }, *launcher_, clock_,
        environment, home_.path());
  }

  std::unique_ptr<AppServerProcess> startProcess(const std::string& scenario) {
    auto process = makeProcess(scenario);
    process->start(*fileSystem_);
    return process;
  }

  AppPaths paths() const { return AppPaths::platformLayout(home_.path(), {}); }
  std::string workspace() const { return paths().workspaceDirectory(); }
  std::string recordPath() const { return home_ / "received.jsonl"; }
  std::string launchRecordPath() const { return home_ / "launch.json"; }

  // The lines the stand-in has received so far, parsed.
  std::vector<JSONValue> received() const {
    std::vector<JSONValue> messages;
    if (!fileSystem_->fileExists(recordPath())) return messages;
    std::string text = fileSystem_->readFile(recordPath(), 1 << 26);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      messages.push_back(JSONValue::parse(text.substr(start, end - start)));
    }
    return messages;
  }

  JSONValue launchRecord() const {
    return JSONValue::parse(fileSystem_->readFile(launchRecordPath(), 1 << 20));
  }

  template <typename Call>
  AppServerError appServerErrorFrom(Call call) {
    try {
      call();
    } catch (const AppServerError& error) {
      return error;
    }
    ADD_FAILURE() << "no AppServerError";
    return AppServerError::notRunning();
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<ProcessLauncher> launcher_ = makePosixProcessLauncher();
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
  SteadyClock clock_;
  std::vector<JSONValue> handled_;
};

const JSONValue kNoParams = JSONValue::Object{};
const Seconds kLongEnough{30};

TEST_F(AppServerProcessTest, beforeStartAndAfterStop_everythingIsNotRunning) {
  auto process = makeProcess(R"({"requests": {"initialize": [{"result": {}}]}})");
  auto expectNotRunning = [&](const char* when) {
    SCOPED_TRACE(when);
    EXPECT_FALSE(process->isRunning());
    EXPECT_EQ(appServerErrorFrom([&] { process->request("initialize", kNoParams, kLongEnough); }),
              AppServerError::notRunning());
    EXPECT_EQ(appServerErrorFrom([&] { process->notify("initialized", kNoParams); }),
              AppServerError::notRunning());
    EXPECT_EQ(appServerErrorFrom([&] { process->readMessage(); }), AppServerError::notRunning());
  };
  expectNotRunning("before start");
  EXPECT_FALSE(fileSystem_->fileExists(launchRecordPath()));

  process->start(*fileSystem_);
  EXPECT_TRUE(process->isRunning());
  process->stop();
  expectNotRunning("after stop");
  EXPECT_TRUE(received().empty());
}

TEST_F(AppServerProcessTest, start_launchesCodexAppServerInTheWorkspaceWithItsEnvironment) {
  auto process = startProcess(R"({"requests": {"ping": [{"result": "pong"}]}})");
  // The round trip proves the child is up and has written its launch record.
  EXPECT_EQ(process->request("ping", kNoParams, kLongEnough), JSONValue("pong"));
  JSONValue launch = launchRecord();

  EXPECT_EQ(*launch.subscript("arguments"),
            JSONValue(JSONValue::Array{"app-server", "-c", "notify=[]"}));
  EXPECT_EQ(*launch.subscript("workingDirectory"), JSONValue(workspace()));
  const JSONValue& environment = *launch.subscript("environment");
  const std::string fakeFolder =
      std::string(test::kFakeCodexPath).substr(0, std::string(test::kFakeCodexPath).rfind('/'));
  EXPECT_THAT(*environment.subscript("PATH")->stringValue(), StartsWith(fakeFolder + ":"));
  EXPECT_EQ(*environment.subscript("HOME"), JSONValue(home_.path()));
  EXPECT_EQ(*environment.subscript("LANG"), JSONValue("C"));

  // A second start while the child runs launches nothing.
  const JSONValue pid = *launch.subscript("processID");
  process->start(*fileSystem_);
  EXPECT_EQ(process->request("ping", kNoParams, kLongEnough), JSONValue("pong"));
  EXPECT_EQ(*launchRecord().subscript("processID"), pid);
}

TEST_F(AppServerProcessTest, request_writesOneLinePerMessageWithFreshIDs) {
  auto process = startProcess(R"({"requests": {"initialize": [{"result": {"ok": true}}]}})");
  const JSONValue params = JSONValue::object({{"clientInfo", JSONValue::object({{"name", "v"}})}});
  EXPECT_EQ(process->request("initialize", params, kLongEnough), JSONValue::object({{"ok", true}}));
  process->notify("initialized", kNoParams);
  EXPECT_EQ(process->request("initialize", params, kLongEnough), JSONValue::object({{"ok", true}}));
  process->stop();

  std::vector<JSONValue> lines = received();
  ASSERT_EQ(lines.size(), 3u);
  const std::regex idPattern(
      "vellora_[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::string ids[2];
  for (int i : {0, 2}) {
    const JSONValue::Object& request = *lines[static_cast<std::size_t>(i)].objectValue();
    ASSERT_EQ(request.size(), 3u) << "exactly id, method and params";
    ids[i / 2] = *request.at("id").stringValue();
    EXPECT_TRUE(std::regex_match(ids[i / 2], idPattern)) << ids[i / 2];
    EXPECT_EQ(request.at("method"), JSONValue("initialize"));
    EXPECT_EQ(request.at("params"), params);
  }
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_EQ(lines[1], JSONValue::object({{"method", "initialized"}, {"params", kNoParams}}));
}

TEST_F(AppServerProcessTest, request_handsEveryOtherMessageToTheHandlerInOrder) {
  auto process = startProcess(R"({
    "start": [{"notify": "configWarning", "params": {"n": 1}}],
    "requests": {"model/list": [
      {"notify": "remoteControl/status/changed"},
      {"send": {"id": "someone-else", "result": 1}},
      {"send": {"id": 7, "result": 2}},
      {"request": "item/tool/requestUserInput", "id": "server-1"},
      {"result": {"data": []}}]}})");
  EXPECT_EQ(process->request("model/list", kNoParams, kLongEnough),
            JSONValue::object({{"data", JSONValue::Array{}}}));
  ASSERT_EQ(handled_.size(), 5u);
  EXPECT_EQ(*handled_[0].subscript("method"), JSONValue("configWarning"));
  EXPECT_EQ(*handled_[1].subscript("method"), JSONValue("remoteControl/status/changed"));
  EXPECT_EQ(*handled_[2].subscript("id"), JSONValue("someone-else"));
  EXPECT_EQ(*handled_[3].subscript("id"), JSONValue(7));
  EXPECT_EQ(*handled_[4].subscript("method"), JSONValue("item/tool/requestUserInput"));

  // The server's request was refused at once, so nothing waits on an answer that never comes.
  // The stand-in reads in order: once it has answered the next request, it has the refusal.
  EXPECT_THROW(process->request("unknown/method", kNoParams, kLongEnough), AppServerError);
  std::vector<JSONValue> messages = received();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(*messages[1].subscript("id"), JSONValue("server-1"));
  EXPECT_EQ(*messages[1].subscript("error")->subscript("code"), JSONValue(-32601));
  EXPECT_EQ(messages[1].subscript("result"), nullptr);
}

TEST_F(AppServerProcessTest, request_canHandTheMessagesBeforeItsResponseToItsOwnHandler) {
  auto process = startProcess(R"({"requests": {"turn/start": [
      {"notify": "item/agentMessage/delta", "params": {"delta": "early"}},
      {"result": {"turn": {"id": "t1"}}}]}})");
  std::vector<JSONValue> turnMessages;
  JSONValue result = process->request(
      CodexAppServerMethods::kTurnStart, kNoParams,
      [&turnMessages](const JSONValue& message) { turnMessages.push_back(message); });
  EXPECT_EQ(result, JSONValue::parse(R"({"turn": {"id": "t1"}})"));
  ASSERT_EQ(turnMessages.size(), 1u);
  EXPECT_EQ(*turnMessages[0].subscript("params")->subscript("delta"), JSONValue("early"));
  EXPECT_TRUE(handled_.empty());
}

TEST_F(AppServerProcessTest, readMessage_withADeadlineGivesUpOnASilentChild) {
  auto process = startProcess(R"({"start": [{"notify": "first"}]})");
  const auto soon = [this] { return clock_.now() + std::chrono::milliseconds(50); };
  // The child's first words may take a while (a sanitized build on a busy machine).
  std::optional<JSONValue> first = process->readMessage(clock_.now() + std::chrono::seconds(30));
  ASSERT_TRUE(first);
  EXPECT_EQ(*first->subscript("method"), JSONValue("first"));
  EXPECT_EQ(process->readMessage(soon()), std::nullopt);
  EXPECT_EQ(process->readMessage(clock_.now()), std::nullopt);
}

TEST_F(AppServerProcessTest, request_readsTheResponseMember) {
  auto process = startProcess(R"({"requests": {
    "both": [{"send": {"id": "$id", "error": {"message": "no"}, "result": 1}}],
    "neither": [{"send": {"id": "$id"}}],
    "nullError": [{"send": {"id": "$id", "error": null}}],
    "nullErrorBesideResult": [{"send": {"id": "$id", "error": null, "result": {"ok": true}}}],
    "nested": [{"error": {"message": "{\"error\": {\"message\": \"quota exceeded\"}}"}}]}})");
  EXPECT_EQ(appServerErrorFrom([&] { process->request("both", kNoParams, kLongEnough); }),
            AppServerError::server(JSONValue::object({{"message", "no"}})));
  EXPECT_EQ(process->request("neither", kNoParams, kLongEnough), JSONValue());
  EXPECT_EQ(appServerErrorFrom([&] {
              process->request("nullError", kNoParams, kLongEnough);
            }).errorCase(),
            AppServerError::Case::server);
  // JSON-RPC peers write "error": null beside a result.
  EXPECT_EQ(process->request("nullErrorBesideResult", kNoParams, kLongEnough),
            JSONValue::object({{"ok", true}}));
  EXPECT_STREQ(
      appServerErrorFrom([&] { process->request("nested", kNoParams, kLongEnough); }).what(),
      "Codex app-server returned an error: quota exceeded.");
  EXPECT_TRUE(handled_.empty());
}

TEST_F(AppServerProcessTest, request_timesOutAndStaysUsable) {
  auto process = startProcess(R"({"requests": {
    "prompt": [{"result": "late"}],
    "silent": [],
    "chatty": [{"repeat": 100000000, "actions": [{"notify": "tick"}]}],
    "ping": [{"result": "pong"}]}})");

  // A zero time-out writes the request and gives up without reading.
  EXPECT_STREQ(
      appServerErrorFrom([&] { process->request("prompt", kNoParams, Seconds(0)); }).what(),
      "Timed out waiting for app-server response to prompt.");
  // A child that never answers.
  EXPECT_EQ(appServerErrorFrom([&] { process->request("silent", kNoParams, Seconds(0.1)); }),
            AppServerError::timeout("silent"));
  // The late answer to the first request reaches the handler before the next response.
  EXPECT_EQ(process->request("ping", kNoParams, kLongEnough), JSONValue("pong"));
  ASSERT_EQ(handled_.size(), 1u);
  EXPECT_EQ(*handled_[0].subscript("result"), JSONValue("late"));

  // A child that talks without end but never answers: the deadline is checked between messages.
  EXPECT_EQ(appServerErrorFrom([&] { process->request("chatty", kNoParams, Seconds(0.1)); }),
            AppServerError::timeout("chatty"));
  EXPECT_GT(handled_.size(), 1u);
}

TEST_F(AppServerProcessTest, endOfOutput_reportsExitCodeAndStandardError) {
  const std::string tenThousand = std::string(1808, 'a') + std::string(8192, 'b');
  const std::string cutCharacter = "\xC3\xA9" + std::string(8191, 'c');  // "é" then 8191 bytes
  struct Case {
    const char* label;
    std::string actions;
    std::string expectedDescription;
  };
  const Case cases[] = {
      {"stderr then exit 1", R"([{"stderr": "boom\n"}, {"exit": 1}])",
       "Codex app-server closed its output stream. Exit code: 1. Stderr: boom"},
      {"dies in the middle of a line", R"([{"raw": "{\"id\": \"$id\", \"res"}, {"exit": 3}])",
       "Codex app-server closed its output stream. Exit code: 3."},
      {"only the last 8192 bytes of standard error",
       R"([{"stderr": ")" + tenThousand + R"("}, {"exit": 0}])",
       "Codex app-server closed its output stream. Exit code: 0. Stderr: " +
           std::string(8192, 'b')},
      {"megabytes of standard error",
       R"([{"repeat": 4000, "actions": [{"stderr": ")" + std::string(1000, 'x') +
           R"("}]}, {"stderr": "END"}, {"exit": 2}])",
       "Codex app-server closed its output stream. Exit code: 2. Stderr: " +
           std::string(8189, 'x') + "END"},
      {"a character cut by the window", R"([{"stderr": ")" + cutCharacter + R"("}, {"exit": 4}])",
       "Codex app-server closed its output stream. Exit code: 4."},
      // What Codex's log lines look like: colours, a hyperlink, a charset switch, a bell, CR LF.
      {"terminal controls are left out",
       R"([{"stderr": "\u001b[2m2026-01-01\u001b[0m \u001b[31mERROR\u001b[0m boom\u0007\t)"
       R"(\u001b]8;;https://x\u0007link\u001b]8;;\u001b\\ \u00e9\u0085\r\n\u001b(Bsecond\n"},)"
       R"( {"exit": 1}])",
       "Codex app-server closed its output stream. Exit code: 1. Stderr: "
       "2026-01-01 ERROR boom\tlink \xC3\xA9\nsecond"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    // Several rounds: the result must not depend on how the exit and the read interleave.
    for (int round = 0; round < 3; ++round) {
      auto process = startProcess(R"({"requests": {"go": )" + c.actions + "}}");
      EXPECT_STREQ(
          appServerErrorFrom([&] { process->request("go", kNoParams, kLongEnough); }).what(),
          c.expectedDescription.c_str());
    }
  }
}

TEST_F(AppServerProcessTest, endOfOutput_whileTheChildRunsHasNoExitCode) {
  auto process = startProcess(
      R"({"requests": {"go": [{"stderr": " bye \n"}, {"closeStdout": true}, {"sleep": 60}]}})");
  EXPECT_EQ(appServerErrorFrom([&] { process->request("go", kNoParams, kLongEnough); }),
            AppServerError::unexpectedEOF(std::nullopt, "bye"));
  EXPECT_TRUE(process->isRunning());
}

TEST_F(AppServerProcessTest, readMessage_framesLinesAndReportsBadOnes) {
  const std::string big(5 * 1024 * 1024, 'z');
  auto process = startProcess(R"({"start": [
      {"raw": "{\"method\": \"a\"}\r\n"},
      {"notify": "big", "params": {"delta": ")" +
                              big + R"("}},
      {"raw": "\r\n"},
      {"raw": "not json\n"},
      {"raw": "\n"},
      {"raw": "{\"method\": \"split"}, {"sleep": 0.05}, {"raw": "\"}\n{\"method\": \"last\"}\n"},
      {"exit": 5}]})");
  EXPECT_EQ(process->readMessage(), JSONValue::object({{"method", "a"}}));
  EXPECT_EQ(*process->readMessage().subscript("params")->subscript("delta"), JSONValue(big));
  EXPECT_THROW(process->readMessage(), JSONError) << "a line holding only a carriage return";
  EXPECT_THROW(process->readMessage(), JSONError) << "a line that is not JSON";
  EXPECT_THROW(process->readMessage(), JSONError) << "an empty line";
  EXPECT_EQ(process->readMessage(), JSONValue::object({{"method", "split"}}));
  // What the child wrote before it ended is still read; then its end is reported.
  EXPECT_EQ(process->readMessage(), JSONValue::object({{"method", "last"}}));
  EXPECT_EQ(appServerErrorFrom([&] { process->readMessage(); }),
            AppServerError::unexpectedEOF(5, std::nullopt));
  EXPECT_FALSE(process->isRunning());
  EXPECT_EQ(appServerErrorFrom([&] { process->request("x", kNoParams, kLongEnough); }),
            AppServerError::notRunning());
}

TEST_F(AppServerProcessTest, idleHandler_runsWheneverNoFurtherDeltaIsReady) {
  // Three deltas and an item arrive in one write, then one more delta after a pause.
  const std::string delta = R"({\"method\":\"item/agentMessage/delta\",\"params\":{}}\n)";
  auto process = startProcess(R"({"start": [{"raw": ")" + delta + delta + delta +
                              R"({\"method\":\"item/completed\"}\n"}, {"sleep": 0.05},
                              {"raw": ")" +
                              delta + R"("}]})");
  std::vector<std::string> events;
  process->setIdleHandler([&] { events.push_back("idle"); });
  for (int i = 0; i < 5; ++i) {
    const JSONValue message = process->readMessage();
    events.push_back(*stringMember(&message, "method"));
  }
  // Idle before each wait for output and before the item (whose handling may take a while);
  // never between deltas that are already there.
  const std::string d = "item/agentMessage/delta";
  EXPECT_THAT(events, ElementsAre("idle", d, d, d, "idle", "item/completed", "idle", d));
}

TEST_F(AppServerProcessTest, request_writesLongLinesInPiecesAndDropsAChildGivenHalfALine) {
  auto process = startProcess(R"({"requests": {"big": [{"result": "$params.text"}]}})");
  // Much longer than one piece, with what must be escaped spread through it.
  std::string text;
  while (text.size() < 3 * JSONValue::kSpillBytes) text += "a/b \"q\" \\ \n caf\xC3\xA9 ";
  EXPECT_EQ(process->request("big", JSONValue::object({{"text", text}}), kLongEnough),
            JSONValue(text));
  ASSERT_EQ(received().size(), 1u);
  EXPECT_EQ(*received()[0].subscript("params"), JSONValue::object({{"text", text}}));

  // A value that cannot be written: when nothing has gone out the child is kept; when part of
  // the line has, the child (whose input now holds half a message) is stopped.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(process->request("big", JSONValue::object({{"n", nan}}), kLongEnough), JSONError);
  EXPECT_TRUE(process->isRunning());
  EXPECT_THROW(process->request("big", JSONValue::object({{"a", text}, {"b", nan}}), kLongEnough),
               JSONError);
  EXPECT_FALSE(process->isRunning());
}

TEST_F(AppServerProcessTest, stop_endsTheChildAndARestartBeginsAfresh) {
  auto process = startProcess(R"({
    "requests": {"ping": [{"result": "pong"}], "ping#2": [{"stderr": "first"}, {"exit": 1}]}})");
  EXPECT_EQ(process->request("ping", kNoParams, kLongEnough), JSONValue("pong"));
  EXPECT_EQ(appServerErrorFrom([&] { process->request("ping", kNoParams, kLongEnough); }),
            AppServerError::unexpectedEOF(1, "first"));

  // A new start after the child ended: new child, empty standard-error tail.
  process->start(*fileSystem_);
  EXPECT_EQ(process->request("ping", kNoParams, kLongEnough), JSONValue("pong"));
  const auto pid = static_cast<pid_t>(*launchRecord().subscript("processID")->numberValue());
  process->stop();
  EXPECT_FALSE(process->isRunning());

  // The stopped child is terminated and reaped without stop() waiting for it.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(::kill(pid, 0), -1);
}

TEST_F(AppServerProcessTest, start_throwsFileSystemAndLaunchFailuresUnchanged) {
  home_.writeFile(paths().applicationSupportDirectory().substr(home_.path().size() + 1),
                  "a file where a folder belongs");
  auto blocked = makeProcess("{}");
  EXPECT_THROW(blocked->start(*fileSystem_), FileSystemError);
  EXPECT_FALSE(blocked->isRunning());

  AppServerProcess missing(home_ / "no/codex", home_ / "workspace", nullptr, *launcher_, clock_, {},
                           home_.path());
  EXPECT_THROW(missing.start(*fileSystem_), ProcessLaunchError);
  EXPECT_FALSE(missing.isRunning());
}

TEST_F(AppServerProcessTest, destruction_stopsTheChild) {
  pid_t pid;
  {
    auto process = startProcess(R"({"requests": {"ping": [{"result": "pong"}]}})");
    process->request("ping", kNoParams, kLongEnough);
    pid = static_cast<pid_t>(*launchRecord().subscript("processID")->numberValue());
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (::kill(pid, 0) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_EQ(::kill(pid, 0), -1);
}

}  // namespace
}  // namespace vellora
