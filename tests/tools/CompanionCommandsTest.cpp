// `vellora-client status` and `fix`, run as a user runs them: the built client in a scratch
// HOME with real Chrome profile files and the stand-in codex.
#include <gtest/gtest.h>

#include <chrono>

#include "VelloraCompanion/Model/Autostart.h"
#include "VelloraCompanion/Model/DesktopPlatform.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "VelloraCore/Protocol/HealthState.h"
#include "VelloraCore/Protocol/JSONValue.h"
#include "tests/VelloraCore/Chrome/ChromeProfileFixture.h"
#include "tests/fakes/FakeCodexAppServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace vellora {
namespace {

const std::string kA(32, 'a');
const std::string kClient = std::string(VELLORA_BINARY_DIR) + "/tools/vellora-client";

struct ClientRun {
  int status;
  std::string out;
  std::string err;
};

// Everything until the end of the stream, waiting at most a minute.
std::string readAll(ByteStream& stream) {
  std::string text;
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!stream.waitReadable(std::chrono::milliseconds(1000))) continue;
    const std::size_t count = stream.read(buffer, sizeof buffer);
    if (count == 0) break;
    text.append(buffer, count);
  }
  return text;
}

class CompanionCommandsTest : public ::testing::Test {
 protected:
  CompanionCommandsTest()
      : fileSystem_(makePosixFileSystem()),
        environment_({{"HOME", home_.path()},
                      {"PATH", "/usr/bin:/bin"},
                      {"VELLORA_CODEX_PATH", test::kFakeCodexPath}}),
        paths_(AppPaths::platformLayout(home_.path(), environment_)) {}

  ClientRun client(std::vector<std::string> arguments, const std::string& workingDirectory = "") {
    auto launcher = makePosixProcessLauncher();
    ProcessLaunchOptions options;
    options.executablePath = kClient;
    options.arguments = std::move(arguments);
    options.environment = environment_;
    options.workingDirectory = workingDirectory.empty() ? home_.path() : workingDirectory;
    LaunchedProcess child = launcher->launch(options);
    ClientRun run;
    run.out = readAll(*child.standardOutput);
    run.err = readAll(*child.standardError);
    child.process->waitForExit(std::chrono::steady_clock::now() + std::chrono::seconds(60));
    run.status = child.process->exitStatus().value_or(ProcessExit{}).code;
    return run;
  }

  // The dist folder of a source checkout, loaded unpacked in Chrome's default profile.
  std::string loadExtension() {
    const std::string dist =
        test::writeExtensionFolder(home_, "checkout/apps/extension/dist", "Vellora");
    test::writeProfileFile(
        home_, "Default", "Preferences",
        test::preferences(JSONValue::object({{kA, test::extensionEntry(dist)}})));
    return dist;
  }

  std::optional<NativeHostManifest> manifest() {
    if (!fileSystem_->fileExists(paths_.nativeHostManifestURL())) return std::nullopt;
    return NativeHostManifest::fromJSON(
        JSONValue::parse(fileSystem_->readFile(paths_.nativeHostManifestURL(), 1 << 20)));
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_;
  Environment environment_;
  AppPaths paths_;
};

// `status` only looks: it reports the manifest a refresh would write and fails until `fix` has
// written it; afterwards everything is ready and it succeeds.
TEST_F(CompanionCommandsTest, statusWritesNothingAndFixSetsUpTheConnection) {
  const std::string dist = loadExtension();
  home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY":"sk-test"})");

  const ClientRun before = client({"status"});
  EXPECT_EQ(before.status, 1) << before.err;
  EXPECT_EQ(before.err, "");
  EXPECT_NE(before.out.find("  nativeHost  missing\n"), std::string::npos) << before.out;
  EXPECT_NE(before.out.find("  Google Chrome: extension loaded, manifest missing (vellora-client "
                            "fix writes it)\n"),
            std::string::npos)
      << before.out;
  EXPECT_FALSE(manifest());

  const ClientRun fix = client({"fix"});
  ASSERT_EQ(fix.status, 0) << fix.err;
  EXPECT_EQ(fix.out.substr(0, fix.out.find("\n\n")),
            "Google Chrome: " + paths_.nativeHostManifestURL());
  // The manifest names the host beside the client and the loaded extension.
  ASSERT_TRUE(manifest());
  EXPECT_EQ(manifest()->path, std::string(VELLORA_BINARY_DIR) + "/tools/vellora-native-host");
  EXPECT_EQ(manifest()->allowedOrigins, std::vector<std::string>{NativeHostManifest::origin(kA)});

  const ClientRun after = client({"status"});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_NE(after.out.find("  nativeHost  ready\n"), std::string::npos) << after.out;
  EXPECT_NE(after.out.find("[done] 3. Install Chrome extension\n"
                           "         The Chrome extension is loaded and connected.\n"),
            std::string::npos)
      << after.out;
  EXPECT_NE(after.out.find("[Open Chrome to use Vellora] [Fix Browser] [Refresh Status]"),
            std::string::npos)
      << after.out;

  // `install` writes the resolved host path, `status` expects the link beside the client: the
  // two name one program, so the fresh manifest is right. Run from the checkout, the
  // development folder is the one to load.
  ASSERT_EQ(client({"install"}).status, 0);
  EXPECT_NE(manifest()->path, std::string(VELLORA_BINARY_DIR) + "/tools/vellora-native-host");
  const ClientRun json = client({"status", "--json"}, home_ / "checkout");
  ASSERT_EQ(json.status, 0) << json.err;
  const JSONValue value = JSONValue::parse(json.out);
  EXPECT_EQ(CompanionHealth::fromJSON(*value.subscript("health")),
            (CompanionHealth{HealthState::ready, HealthState::ready, HealthState::ready,
                             HealthState::ready, HealthState::ready, HealthState::ready}));
  EXPECT_EQ(value.subscript("browsers")->serialized(),
            JSONValue::parse(R"([{"id": "chrome", "name": "Google Chrome", "hasExtension": true,
                                  "manifest": "ready"}])")
                .serialized());
  EXPECT_EQ(value.subscript("extensionFolder")->serialized(), JSONValue(dist).serialized());
}

// A Chromium user: the extension is only in Chromium's profile. `fix` sets up Chromium and
// Google Chrome's folder; a present browser without the extension is reported, not set up.
TEST_F(CompanionCommandsTest, fixSetsUpEveryBrowserThatHoldsTheExtension) {
  home_.writeFile(".codex/auth.json", R"({"OPENAI_API_KEY":"sk-test"})");
  const std::string dist =
      test::writeExtensionFolder(home_, "checkout/apps/extension/dist", "Vellora");
  const ChromeBrowserPaths& chromium = *paths_.browser("chromium");
  home_.writeFile(test::relativeToHome(home_, chromium.userDataDirectory) + "/Default/Preferences",
                  test::preferences(JSONValue::object({{kA, test::extensionEntry(dist)}}))
                      .serialized({.escapeSlashes = false}));
  fileSystem_->createDirectories(paths_.browser("brave")->userDataDirectory);

  const ClientRun before = client({"status", "--json"});
  EXPECT_EQ(before.status, 1) << before.err;
  EXPECT_EQ(JSONValue::parse(before.out).subscript("browsers")->serialized(), JSONValue::parse(R"([
              {"id": "chromium", "name": "Chromium", "hasExtension": true, "manifest": "missing"},
              {"id": "brave", "name": "Brave", "hasExtension": false, "manifest": "missing"}])")
                                                                                  .serialized());

  const ClientRun fix = client({"fix"});
  ASSERT_EQ(fix.status, 0) << fix.err;
  EXPECT_EQ(fix.out.substr(0, fix.out.find("\n\n") + 1),
            "Google Chrome: " + paths_.nativeHostManifestURL() +
                "\nChromium: " + chromium.nativeHostManifestURL + "\n");
  EXPECT_FALSE(fileSystem_->fileExists(paths_.browser("brave")->nativeHostManifestURL));

  // Google Chrome's folder, made for its manifest, now counts as present.
  const ClientRun after = client({"status", "--json"});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_EQ(JSONValue::parse(after.out).subscript("browsers")->serialized(), JSONValue::parse(R"([
              {"id": "chrome", "name": "Google Chrome", "hasExtension": false, "manifest": "ready"},
              {"id": "chromium", "name": "Chromium", "hasExtension": true, "manifest": "ready"},
              {"id": "brave", "name": "Brave", "hasExtension": false, "manifest": "missing"}])")
                                                                                 .serialized());
}

TEST_F(CompanionCommandsTest, statusWithoutTheExtensionSaysWhatToDo) {
  const ClientRun run = client({"status", "--json"});
  ASSERT_EQ(run.status, 1) << run.err;
  // Steps 1 and 2 name the desktop the client was built for.
  std::string expectedText = R"({
    "health": {"companion": "ready", "nativeHost": "missing", "extension": "missing",
               "codex": "ready", "appServer": "ready", "auth": "missing"},
    "browsers": [],
    "steps": [
      {"number": 1, "title": "STEP1", "isComplete": true,
       "detail": "Vellora is running.", "actions": []},
      {"number": 2, "title": "Sign into Codex", "isComplete": false,
       "detail": "SIGNIN", "actions": []},
      {"number": 3, "title": "Install Chrome extension", "isComplete": false, "detail": "",
       "actions": ["Show extension folder path"]}],
    "extensionFolder": null})";
  expectedText.replace(expectedText.find("STEP1"), 5, companionStepTitle(kHostDesktopPlatform));
  expectedText.replace(expectedText.find("SIGNIN"), 6, codexSignInDetail(kHostDesktopPlatform));
  const JSONValue expected = JSONValue::parse(expectedText);
  EXPECT_EQ(JSONValue::parse(run.out).serialized(), expected.serialized());
  EXPECT_FALSE(manifest());
}

TEST_F(CompanionCommandsTest, fixInstallsForTheGivenIDAndHostOrSaysWhyNot) {
  const std::string host = home_.writeFile("opt/vellora-native-host", "#!/bin/sh\n", 0755);
  environment_["VELLORA_EXTENSION_ID"] = kA;
  environment_["VELLORA_NATIVE_HOST_PATH"] = host;
  const ClientRun run = client({"fix"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find("\n")),
            "Google Chrome: " + paths_.nativeHostManifestURL());
  EXPECT_NE(run.out.find("  nativeHost  ready\n  extension   ready\n"), std::string::npos)
      << run.out;
  ASSERT_TRUE(manifest());
  EXPECT_EQ(manifest()->path, host);

  environment_["VELLORA_EXTENSION_ID"] = "ABC";
  const ClientRun invalid = client({"fix"});
  EXPECT_EQ(invalid.status, 1);
  EXPECT_EQ(invalid.out, "");
  EXPECT_EQ(invalid.err, "Invalid Chrome extension ID: ABC.\n");

  // `status` uses the given ID too, and refuses a malformed one the same way.
  const ClientRun status = client({"status"});
  EXPECT_EQ(status.status, 1);
  EXPECT_EQ(status.err, "Invalid Chrome extension ID: ABC.\n");

  EXPECT_EQ(client({"fix", "--now"}).status, 2);
  EXPECT_EQ(client({"status", "--yaml"}).status, 2);
}

TEST_F(CompanionCommandsTest, autostartWritesAndRemovesTheEntryForTheCompanionBesideIt) {
  environment_["XDG_CONFIG_HOME"] = home_ / "config";
  const std::string entry = home_ / "config/autostart/vellora-companion.desktop";
  EXPECT_EQ(client({"autostart", "status"}).out, "off " + entry + "\n");

  const ClientRun on = client({"autostart", "on"});
  ASSERT_EQ(on.status, 0) << on.err;
  EXPECT_EQ(on.out, "on " + entry + "\n");
  // In the build tree the companion lies in its own folder.
  const std::string companion = fileSystem_->resolvingSymlinks(
      std::string(VELLORA_BINARY_DIR) + "/VelloraCompanion/Qt/VelloraCompanion");
  EXPECT_EQ(fileSystem_->readFile(entry, 1 << 16), Autostart::entryText(companion));
  EXPECT_EQ(client({"autostart", "status"}).out, "on " + entry + "\n");

  EXPECT_EQ(client({"autostart", "off"}).out, "off " + entry + "\n");
  EXPECT_FALSE(fileSystem_->fileExists(entry));
  EXPECT_EQ(client({"autostart", "off"}).status, 0);
  EXPECT_EQ(client({"autostart"}).status, 2);
  EXPECT_EQ(client({"autostart", "maybe"}).status, 2);
}

TEST_F(CompanionCommandsTest, uninstallRemovesWhatTheProgramsWroteForTheUser) {
  ASSERT_EQ(client({"install", "--extension-id", kA}).status, 0);
  ASSERT_EQ(client({"autostart", "on"}).status, 0);
  const std::string entry = home_ / ".config/autostart/vellora-companion.desktop";
  ASSERT_TRUE(manifest());

  const ClientRun run = client({"uninstall"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "removed " + paths_.nativeHostManifestURL() + "\nremoved " + entry +
                         "\nkept " + paths_.applicationSupportDirectory() +
                         " (Codex's workspace and the extension copy)\n");
  EXPECT_FALSE(fileSystem_->fileExists(paths_.nativeHostManifestURL()));
  EXPECT_FALSE(fileSystem_->fileExists(entry));

  // A file there that is not our host's manifest stays; nothing left is fine.
  home_.writeFile(paths_.nativeHostManifestURL().substr(home_.path().size() + 1), "not ours");
  const ClientRun again = client({"uninstall"});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(fileSystem_->fileExists(paths_.nativeHostManifestURL()));
}

}  // namespace
}  // namespace vellora
