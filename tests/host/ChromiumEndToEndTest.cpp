// The way a user's browser reaches the host, with real components: Debian's Chromium loads a
// small extension of ours (tests/fixtures/probe-extension) from the companion's extension
// folder, `vellora-client detect` finds it in the profile Chromium wrote, `vellora-client
// install` writes the host manifest, and at the next start the extension's service worker
// talks to the built host, which relays a chat turn to the stand-in for `codex app-server`.
// The worker reports each reply on the console, which Chromium writes to its standard error
// (--enable-logging=stderr). Skipped where Chromium is not installed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/BackgroundReader.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "VelloraCore/Protocol/NativeEnvelope.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/Chromium.h"
#include "tests/support/FakeCodexScenario.h"
#include "tests/support/HostProcess.h"
#include "tests/support/Processes.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;
using namespace test::fakeCodex;
using SteadyTime = std::chrono::steady_clock;

using test::kProbeExtensionID;
constexpr const char* kProbeName = "Vellora end-to-end probe";
// Generous bounds: Chromium starts slowly on a loaded machine, and more slowly in the ASan
// build, whose host and client are instrumented.
constexpr auto kConversationTimeout = 180s;
constexpr auto kExitTimeout = 60s;

// What a child wrote while it ran, collected on a thread of its own so that it never stalls on
// a full pipe.
class OutputCollector {
 public:
  explicit OutputCollector(std::unique_ptr<ByteStream> stream)
      : reader_(std::move(stream), [this](std::string_view bytes) {
          std::lock_guard lock(mutex_);
          text_.append(bytes);
          changed_.notify_all();
        }) {}

  // Waits until `condition` holds for the text or `deadline` passes; returns the text.
  template <typename Condition>
  std::string waitFor(Condition condition, SteadyTime::time_point deadline) {
    std::unique_lock lock(mutex_);
    changed_.wait_until(lock, deadline, [&] { return condition(text_); });
    return text_;
  }
  // Waits (until `deadline`) for every writer to close the stream, then stops reading.
  std::string finish(SteadyTime::time_point deadline) {
    reader_.waitUntilFinished(deadline);
    reader_.stop();
    std::lock_guard lock(mutex_);
    return text_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string text_;
  BackgroundReader reader_;
};

// Runs a program to its end and returns its exit status and standard output.
std::pair<std::optional<ProcessExit>, std::string> run(const std::string& program,
                                                       std::vector<std::string> arguments,
                                                       const Environment& environment) {
  ProcessLaunchOptions options;
  options.executablePath = program;
  options.arguments = std::move(arguments);
  options.environment = environment;
  options.standardError = StreamMode::inherit;
  LaunchedProcess child = makePosixProcessLauncher()->launch(options);
  OutputCollector output(std::move(child.standardOutput));
  test::waitOrKill(*child.process, SteadyTime::now() + kExitTimeout);
  std::string text = output.finish(SteadyTime::now() + kExitTimeout);
  return {child.process->exitStatus(), std::move(text)};
}

// The probe's reports in Chromium's log, in order: the JSON after "vellora-probe " in each
// console line, such as
//   [1:1:1210/113354.185668:INFO:CONSOLE:1] "vellora-probe {"event":"finished"}", source:
//   chrome-extension://<id>/service-worker.js (1)
std::vector<JSONValue> probeReports(const std::string& log) {
  static constexpr std::string_view kMarker = "\"vellora-probe ";
  static constexpr std::string_view kSource = "\", source: ";
  std::vector<JSONValue> reports;
  std::size_t lineStart = 0;
  for (std::size_t lineEnd; (lineEnd = log.find('\n', lineStart)) != std::string::npos;
       lineStart = lineEnd + 1) {
    const std::string_view line(log.data() + lineStart, lineEnd - lineStart);
    const std::size_t marker = line.find(kMarker);
    const std::size_t source = line.rfind(kSource);
    if (marker == std::string_view::npos || source == std::string_view::npos || source < marker) {
      continue;
    }
    const std::size_t start = marker + kMarker.size();
    try {
      reports.push_back(JSONValue::parse(line.substr(start, source - start)));
    } catch (const Error&) {
      reports.emplace_back(std::string(line));  // shows up in the failure message
    }
  }
  return reports;
}

// The lines of a log that begin a sanitizer's report ("==1==ERROR: AddressSanitizer: ...",
// LeakSanitizer's, UBSan's "file:1:2: runtime error: ..."): the host's standard error goes to
// Chromium's, so an instrumented host's reports land in Chromium's log.
std::string sanitizerReports(const std::string& log) {
  std::string found;
  std::size_t lineStart = 0;
  for (std::size_t lineEnd; (lineEnd = log.find('\n', lineStart)) != std::string::npos;
       lineStart = lineEnd + 1) {
    const std::string_view line(log.data() + lineStart, lineEnd - lineStart);
    if (line.find("Sanitizer:") != std::string_view::npos ||
        line.find("runtime error:") != std::string_view::npos) {
      found.append(line).push_back('\n');
    }
  }
  return found;
}

// True once the reports include the end of the probe's conversation.
bool conversationEnded(const std::vector<JSONValue>& reports) {
  for (const JSONValue& report : reports) {
    const std::string* event = stringMember(&report, "event");
    if (event != nullptr && (*event == "finished" || *event == "disconnected")) return true;
  }
  return false;
}

std::string describe(const std::vector<JSONValue>& reports) {
  std::string text;
  for (const JSONValue& report : reports)
    text += report.serialized({.escapeSlashes = false}) + "\n";
  return text;
}

// The temporary HOME of one test: the platform's layout in it (Linux here: Chromium's
// --user-data-dir is the layout's Google Chrome directory, whose NativeMessagingHosts Chromium
// reads), the probe copied where the companion copies the extension, and the stand-in's
// scenario.
class ChromiumEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    chromium_ = test::findChromium(*fileSystem_);
    if (!chromium_) GTEST_SKIP() << "chromium is not installed";
    fileSystem_->createDirectories(paths_.applicationSupportDirectory());
    fileSystem_->copyTree(test::probeExtensionSource(), paths_.chromeExtensionDirectory());
    fileSystem_->createDirectories(paths_.chromeUserDataDirectory());
  }

  // Chromium, the host it starts and the client all run with this environment.
  Environment environment() const {
    Environment environment = {{"HOME", home_.path()},
                               {"PATH", "/usr/bin:/bin"},
                               {"LANG", "C.UTF-8"},
                               {"VELLORA_CODEX_PATH", test::kFakeCodexPath},
                               {test::kFakeCodexScenarioVariable, scenario_.path()}};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
      if (const char* value = std::getenv(name)) environment[name] = value;
    }
    return environment;
  }

  // Starts Chromium with the probe loaded (on the layout's Google Chrome folder unless
  // `userDataDirectory` names another) and returns the probe's reports up to the end of its
  // conversation (or those that came before the time-out), after Chromium has quit. The log
  // is also checked for sanitizer reports of the host.
  std::vector<JSONValue> runProbe(std::optional<std::string> userDataDirectory = {}) {
    LaunchedProcess chromium = makePosixProcessLauncher()->launch(
        test::chromiumLaunchOptions(*chromium_, paths_, {"--enable-logging=stderr", "about:blank"},
                                    environment(), StreamMode::pipe, std::move(userDataDirectory)));
    OutputCollector log(std::move(chromium.standardError));

    const std::string seen =
        log.waitFor([](const std::string& text) { return conversationEnded(probeReports(text)); },
                    SteadyTime::now() + kConversationTimeout);
    const std::vector<JSONValue> reports = probeReports(seen);
    // Chromium quits on SIGTERM, closing the host's input, so the host ends too; the log ends
    // once the last of Chromium's helpers and the host have gone.
    chromium.process->terminate();
    EXPECT_TRUE(test::waitOrKill(*chromium.process, SteadyTime::now() + kExitTimeout))
        << "chromium did not quit";
    const std::string whole = log.finish(SteadyTime::now() + kExitTimeout);
    EXPECT_EQ(sanitizerReports(whole), "");
    EXPECT_TRUE(conversationEnded(reports)) << "the probe's reports so far:\n" << describe(reports);
    return reports;
  }

  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
  test::TemporaryDirectory home_;
  const AppPaths paths_ = AppPaths::platformLayout(home_.path(), {});
  test::FakeCodexScenario scenario_{home_.path()};
  std::optional<std::string> chromium_;
};

// The reports of a conversation that went through: one "message" report per reply, then
// "finished". A "message" report without its message fails the test and is left out.
std::vector<NativeEnvelope> repliesOf(const std::vector<JSONValue>& reports) {
  std::vector<NativeEnvelope> replies;
  for (const JSONValue& report : reports) {
    const std::string* event = stringMember(&report, "event");
    if (event == nullptr || *event != "message") continue;
    const JSONValue* message = report.subscript("message");
    EXPECT_NE(message, nullptr) << describe(reports);
    if (message != nullptr) replies.push_back(NativeEnvelope::fromJSON(JSONValue(*message)));
  }
  return replies;
}

// The probe's conversation went through: pong, a health with the host ready and Codex found,
// then the turn's three deltas and its end.
void expectPingHealthAndTurn(const std::vector<JSONValue>& reports) {
  const std::vector<NativeEnvelope> replies = repliesOf(reports);
  ASSERT_EQ(replies.size(), 6u) << describe(reports);
  EXPECT_EQ(replies[0], (NativeEnvelope{.type = "pong",
                                        .requestId = "ping-1",
                                        .ok = true,
                                        .app = "vellora-companion",
                                        .version = "0.1.0"}));
  EXPECT_EQ(replies[1].type, "health");
  EXPECT_EQ(replies[1].requestId, "health-1");
  EXPECT_EQ(replies[1].ok, true);
  ASSERT_TRUE(replies[1].status);
  EXPECT_EQ(replies[1].status->nativeHost, HealthState::ready);
  // VELLORA_CODEX_PATH came through Chromium to the host.
  EXPECT_EQ(replies[1].status->codex, HealthState::ready);
  const char* texts[] = {"Hel", "lo, ", "w\xc3\xb6rld \xe2\x9c\x93"};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(replies[2 + i], (NativeEnvelope{.type = "chat.delta",
                                              .requestId = "turn-1",
                                              .sessionId = "probe-session",
                                              .delta = texts[i]}));
  }
  EXPECT_EQ(
      replies[5],
      (NativeEnvelope{.type = "chat.done", .requestId = "turn-1", .sessionId = "probe-session"}));
  EXPECT_EQ(reports.back(), JSONValue::object({{"event", "finished"}}));
}

TEST_F(ChromiumEndToEndTest, theExtensionTalksToTheHostThroughTheInstalledManifest) {
  const std::string client = std::string(VELLORA_BINARY_DIR) + "/tools/vellora-client";

  // A first start writes the profile; --dump-dom quits cleanly once the page has loaded. No
  // manifest is installed yet, so the probe's connection fails; that is not looked at here.
  const std::optional<ProcessExit> firstStart = test::writeChromiumProfile(
      *chromium_, paths_, environment(), SteadyTime::now() + kExitTimeout);
  ASSERT_TRUE(firstStart) << "chromium did not quit";
  ASSERT_EQ(firstStart, (ProcessExit{ProcessExit::Reason::exited, 0}));

  // The client finds the probe by its folder, the companion's copy, and installs the manifest
  // for the build's host with the ID it found.
  const auto [detectExit, detected] = run(client, {"detect"}, environment());
  EXPECT_EQ(detectExit, (ProcessExit{ProcessExit::Reason::exited, 0}));
  EXPECT_EQ(detected, std::string(kProbeExtensionID) +
                          "\tprofile=Default\tpath=" + paths_.chromeExtensionDirectory() +
                          "\tname=" + kProbeName + "\trank=1\tbrowser=chrome\n");
  const auto [installExit, installed] = run(client, {"install"}, environment());
  ASSERT_EQ(installExit, (ProcessExit{ProcessExit::Reason::exited, 0}));
  EXPECT_EQ(installed, paths_.nativeHostManifestURL() + "\n");
  const std::string host = fileSystem_->resolvingSymlinks(test::HostProcess::executablePath());
  EXPECT_EQ(fileSystem_->readFile(paths_.nativeHostManifestURL(), 1 << 20),
            NativeHostManifest(host, {kProbeExtensionID}).encodedData());

  scenario_.write(
      {{"turn/start", JSONValue::Array{turnStarted(), delta("Hel"), delta("lo, "),
                                       delta("w\xc3\xb6rld \xe2\x9c\x93"), turnCompleted()}}},
      {{"launchRecord", home_ / "launch.json"}});
  const std::vector<JSONValue> reports = runProbe();

  expectPingHealthAndTurn(reports);
  // Codex got the extension's prompt and page, and ran in the layout's working directory.
  const std::vector<JSONValue> turns = scenario_.paramsOf("turn/start");
  ASSERT_EQ(turns.size(), 1u);
  const std::string input = turns[0].serialized({.escapeSlashes = false});
  EXPECT_THAT(input, HasSubstr("Summarise this page."));
  EXPECT_THAT(input, HasSubstr("Probe page"));
  const JSONValue launch = JSONValue::parse(fileSystem_->readFile(home_ / "launch.json", 1 << 20));
  ASSERT_NE(launch.subscript("workingDirectory"), nullptr);
  EXPECT_EQ(*launch.subscript("workingDirectory"), JSONValue(paths_.workspaceDirectory()));
}

// A Debian Chromium user: Chromium keeps its profile in its own folder, ~/.config/chromium
// (started here with that folder given, since headless Chromium otherwise takes a throw-away
// profile), and no Google Chrome is present. `detect` finds the probe in Chromium, `status`
// reports the missing manifest without writing it, `fix` writes it where Chromium reads it,
// and the probe then talks to the built host.
TEST_F(ChromiumEndToEndTest, aChromiumUserIsSetUpByFixInChromiumsOwnFolder) {
  const std::string client = std::string(VELLORA_BINARY_DIR) + "/tools/vellora-client";
  fileSystem_->removeTree(paths_.chromeUserDataDirectory());
  const ChromeBrowserPaths* chromium = paths_.browser("chromium");
  ASSERT_NE(chromium, nullptr);
  ASSERT_EQ(chromium->userDataDirectory, home_ / ".config/chromium");
  home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY":"sk-test"})");
  scenario_.write(
      {{"turn/start", JSONValue::Array{turnStarted(), delta("Hel"), delta("lo, "),
                                       delta("w\xc3\xb6rld \xe2\x9c\x93"), turnCompleted()}}});

  const std::optional<ProcessExit> firstStart =
      test::writeChromiumProfile(*chromium_, paths_, environment(),
                                 SteadyTime::now() + kExitTimeout, chromium->userDataDirectory);
  ASSERT_TRUE(firstStart) << "chromium did not quit";
  ASSERT_EQ(firstStart, (ProcessExit{ProcessExit::Reason::exited, 0}));

  const auto [detectExit, detected] = run(client, {"detect"}, environment());
  EXPECT_EQ(detectExit, (ProcessExit{ProcessExit::Reason::exited, 0}));
  EXPECT_EQ(detected, std::string(kProbeExtensionID) +
                          "\tprofile=Default\tpath=" + paths_.chromeExtensionDirectory() +
                          "\tname=" + kProbeName + "\trank=1\tbrowser=chromium\n");

  const auto [statusExit, status] = run(client, {"status", "--json"}, environment());
  EXPECT_EQ(statusExit, (ProcessExit{ProcessExit::Reason::exited, 1}));
  EXPECT_EQ(JSONValue::parse(status).subscript("browsers")->serialized(),
            JSONValue::parse(R"([{"id": "chromium", "name": "Chromium", "hasExtension": true,
                                  "manifest": "missing"}])")
                .serialized());
  EXPECT_FALSE(fileSystem_->fileExists(chromium->nativeHostManifestURL));

  const auto [fixExit, fixed] = run(client, {"fix"}, environment());
  ASSERT_EQ(fixExit, (ProcessExit{ProcessExit::Reason::exited, 0}));
  EXPECT_EQ(fixed.substr(0, fixed.find("\n\n") + 1),
            "Google Chrome: " + paths_.nativeHostManifestURL() + "\nChromium: " +
                home_ / ".config/chromium/NativeMessagingHosts/com.vellora.companion.json\n");
  // The host beside the client, as the companion's is beside its own executable.
  const std::string hostBesideClient =
      std::string(VELLORA_BINARY_DIR) + "/tools/vellora-native-host";
  EXPECT_EQ(fileSystem_->readFile(chromium->nativeHostManifestURL, 1 << 20),
            NativeHostManifest(hostBesideClient, {kProbeExtensionID}).encodedData());
  const auto [againExit, again] = run(client, {"status"}, environment());
  EXPECT_EQ(againExit, (ProcessExit{ProcessExit::Reason::exited, 0})) << again;

  const std::vector<JSONValue> reports = runProbe(chromium->userDataDirectory);
  expectPingHealthAndTurn(reports);
  EXPECT_EQ(scenario_.paramsOf("turn/start").size(), 1u);
}

// A manifest whose host cannot run gives the extension chrome.runtime.lastError at once, and
// no reply. Which of Chromium's texts a host that exits at once gives depends on whether the
// first message is written before the exit is seen.
TEST_F(ChromiumEndToEndTest, aHostThatCannotRunGivesTheExtensionLastError) {
  const std::string exitsAtOnce = home_.writeFile("bin/exits-at-once", "#!/bin/sh\nexit 1\n", 0755);
  const struct {
    const char* label;
    std::string hostPath;
    std::vector<std::string> errors;
  } cases[] = {
      {"a program that is not there",
       home_ / "missing/vellora-native-host",
       {"Specified native messaging host not found."}},
      {"a host that exits at once",
       exitsAtOnce,
       {"Native host has exited.", "Error when communicating with the native messaging host."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    fileSystem_->createDirectories(paths_.chromeNativeHostsDirectory());
    fileSystem_->writeFileAtomically(
        paths_.nativeHostManifestURL(),
        NativeHostManifest(c.hostPath, {kProbeExtensionID}).encodedData());
    const std::vector<JSONValue> reports = runProbe();
    ASSERT_EQ(reports.size(), 1u) << describe(reports);
    const JSONValue* event = reports[0].subscript("event");
    ASSERT_NE(event, nullptr) << describe(reports);
    EXPECT_EQ(*event, JSONValue("disconnected"));
    const std::string* error = stringMember(&reports[0], "error");
    ASSERT_NE(error, nullptr) << describe(reports);
    EXPECT_THAT(c.errors, ::testing::Contains(*error));
  }
}

}  // namespace
}  // namespace vellora
