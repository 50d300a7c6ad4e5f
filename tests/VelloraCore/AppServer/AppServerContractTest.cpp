#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

#include "VelloraCore/AppServer/AppServerProcess.h"
#include "VelloraCore/AppServer/CodexAppServerCommand.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "tests/support/CodexScratchHome.h"
#include "tests/support/TemporaryDirectory.h"

// The transport against the real `codex app-server` (the pinned install of the test script),
// with a scratch HOME and every proxy pointed at a closed local port, so that it never reaches
// the network.
namespace vellora {
namespace {

class AppServerContractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::optional<std::string> codex = test::CodexScratchHome::realCodexPath();
    if (!codex) GTEST_SKIP() << "the pinned Codex is not installed (scripts/install-codex.sh)";
    ::signal(SIGPIPE, SIG_IGN);
    Environment environment = {{"HOME", home_.path()}, {"LANG", "C.UTF-8"}};
    if (const char* path = std::getenv("PATH")) environment["PATH"] = path;
    for (const char* proxy :
         {"HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "http_proxy", "https_proxy", "all_proxy"}) {
      environment[proxy] = "http://127.0.0.1:9";
    }
    process_ = std::make_unique<AppServerProcess>(
        *codex, home_ / "workspace",
        [this](const JSONValue& message) { handled_.push_back(message); }, *launcher_, clock_,
        environment, home_.path());
    process_->start(*fileSystem_);
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<ProcessLauncher> launcher_ = makePosixProcessLauncher();
  std::unique_ptr<FileSystem> fileSystem_ = makePosixFileSystem();
  SteadyClock clock_;
  std::vector<JSONValue> handled_;
  std::unique_ptr<AppServerProcess> process_;
};

TEST_F(AppServerContractTest, initializeThenModelList) {
  JSONValue initialized = process_->request(
      CodexAppServerMethods::kInitialize,
      JSONValue::object(
          {{"clientInfo",
            JSONValue::object({{"name", "vellora"}, {"title", "Vellora"}, {"version", "0.1.0"}})},
           {"capabilities", JSONValue::object({{"experimentalApi", false}})}}));
  EXPECT_NE(initialized.objectValue(), nullptr);
  process_->notify(CodexAppServerNotifications::kInitialized, JSONValue::Object{});

  JSONValue models =
      process_->request(CodexAppServerMethods::kModelList,
                        JSONValue::object({{"limit", 200}, {"includeHidden", false}}));
  const JSONValue* data = models.subscript("data");
  ASSERT_NE(data, nullptr);
  EXPECT_NE(data->arrayValue(), nullptr);

  // The server's own notifications ("configWarning", "remoteControl/status/changed", ...)
  // arrive around the responses; they go to the handler and nowhere else.
  for (const JSONValue& message : handled_) {
    EXPECT_NE(message.subscript("method"), nullptr) << message.serialized();
    EXPECT_EQ(message.subscript("id"), nullptr) << message.serialized();
  }
}

TEST_F(AppServerContractTest, anUnknownMethodIsAServerError) {
  process_->request(
      CodexAppServerMethods::kInitialize,
      JSONValue::object(
          {{"clientInfo",
            JSONValue::object({{"name", "vellora"}, {"title", "Vellora"}, {"version", "0.1.0"}})},
           {"capabilities", JSONValue::Object{}}}));
  try {
    process_->request("vellora/noSuchMethod", JSONValue::Object{}, Seconds(30));
    ADD_FAILURE() << "the request succeeded";
  } catch (const AppServerError& error) {
    EXPECT_EQ(error.errorCase(), AppServerError::Case::server) << error.what();
    EXPECT_EQ(std::string(error.what()).rfind("Codex app-server returned an error: ", 0), 0u);
  }
}

}  // namespace
}  // namespace vellora
