#include "tools/ChromeCommands.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/NativeHostManifest.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "tests/VelloraCore/Chrome/ChromeProfileFixture.h"

namespace vellora {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

const std::string kA(32, 'a');
const std::string kB(32, 'b');

struct Output {
  int status;
  std::string out;
  std::string err;
};

// The commands read HOME and the layout's variables; each test points HOME at its own temporary
// directory and clears the others, so that nothing outside it is read or written.
class ChromeCommandsTest : public ::testing::Test {
 protected:
  ChromeCommandsTest()
      : fileSystem_(makePosixFileSystem()),
        paths_(AppPaths::platformLayout(home_.path(), {})),
        host_(home_.writeFile("bin/vellora-native-host", "#!/bin/sh\n", 0755)) {
    for (const char* name : kVariables) {
      if (const char* value = std::getenv(name)) savedVariables_.emplace(name, value);
      ::unsetenv(name);
    }
    ::setenv("HOME", home_.path().c_str(), 1);
  }
  ~ChromeCommandsTest() override {
    for (const char* name : kVariables) {
      auto saved = savedVariables_.find(name);
      if (saved != savedVariables_.end()) {
        ::setenv(name, saved->second.c_str(), 1);
      } else {
        ::unsetenv(name);
      }
    }
  }

  static constexpr const char* kVariables[] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                                               "CHROME_CONFIG_HOME"};

  template <typename Command>
  Output run(Command command) {
    CaptureStdout();
    CaptureStderr();
    const int status = command();
    std::string out = GetCapturedStdout();
    return {status, std::move(out), GetCapturedStderr()};
  }
  Output install(const std::vector<std::string>& arguments) {
    return run([&] { return runInstallCommand(arguments, host_); });
  }
  Output detect(const std::vector<std::string>& arguments) {
    return run([&] { return runDetectCommand(arguments); });
  }
  Output paths(const std::vector<std::string>& arguments) {
    return run([&] { return runPathsCommand(arguments); });
  }

  test::TemporaryDirectory home_;
  std::unique_ptr<FileSystem> fileSystem_;
  AppPaths paths_;
  std::string host_;
  std::map<std::string, std::string> savedVariables_;
};

// Given IDs go to Google Chrome's folder, present or not, and to every present browser.
TEST_F(ChromeCommandsTest, installWritesTheManifestForTheGivenIDs) {
  const Output output = install({"--extension-id", kB, "--extension-id=" + kA});
  EXPECT_EQ(output.status, 0) << output.err;
  EXPECT_EQ(output.out, paths_.nativeHostManifestURL() + "\n");
  EXPECT_EQ(fileSystem_->readFile(paths_.nativeHostManifestURL(), 1 << 20),
            NativeHostManifest(host_, {kB, kA}).encodedData());

  fileSystem_->createDirectories(paths_.browser("vivaldi")->userDataDirectory);
  fileSystem_->createDirectories(paths_.browser("chromium")->userDataDirectory);
  const Output again = install({"--extension-id", kA});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out, paths_.nativeHostManifestURL() + "\n" +
                           paths_.browser("chromium")->nativeHostManifestURL + "\n" +
                           paths_.browser("vivaldi")->nativeHostManifestURL + "\n");
  for (const char* browser : {"chrome", "chromium", "vivaldi"}) {
    EXPECT_EQ(fileSystem_->readFile(paths_.browser(browser)->nativeHostManifestURL, 1 << 20),
              NativeHostManifest(host_, {kA}).encodedData())
        << browser;
  }
  EXPECT_FALSE(fileSystem_->fileExists(paths_.browser("brave")->userDataDirectory));
}

TEST_F(ChromeCommandsTest, installRefusesBadArgumentsAndReportsInstallerErrors) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string err;
  } cases[] = {
      {{"--extension-id", "ABC"}, 2, "Invalid Chrome extension ID: ABC.\n"},
      {{"--extension-id"}, 2, "usage: install [--extension-id ID]...\n"},
      {{kA}, 2, "usage: install [--extension-id ID]...\n"},
      // No ID given and none detected.
      {{}, 1, "Missing Chrome extension ID.\n"},
  };
  for (const auto& c : cases) {
    const Output output = install(c.arguments);
    EXPECT_EQ(output.status, c.status);
    EXPECT_EQ(output.err, c.err);
    EXPECT_EQ(output.out, "");
  }
  EXPECT_FALSE(fileSystem_->fileExists(paths_.nativeHostManifestURL()));
}

TEST_F(ChromeCommandsTest, detectPrintsTheCandidatesAndInstallUsesThem) {
  EXPECT_EQ(detect({}).status, 1);

  const std::string copied = test::writeExtensionFolder(
      home_, test::relativeToHome(home_, paths_.chromeExtensionDirectory()), "Vellora");
  test::writeProfileFile(
      home_, "Default", "Preferences",
      test::preferences(JSONValue::Object{{kA, test::extensionEntry(copied)},
                                          {kB, test::extensionEntry("/tmp/x")}}));
  const std::string expected =
      kA + "\tprofile=Default\tpath=" + copied + "\tname=Vellora\trank=1\tbrowser=chrome\n";
  EXPECT_EQ(detect({}).out, expected);
  EXPECT_EQ(detect({"--chrome-directory", paths_.chromeUserDataDirectory()}).out, expected);
  EXPECT_EQ(detect({"--chrome-directory", home_ / "nowhere"}).status, 1);
  EXPECT_EQ(detect({"--verbose"}).status, 2);

  // Also in Chromium's profile; Brave is present but does not hold it.
  const ChromeBrowserPaths& chromium = *paths_.browser("chromium");
  home_.writeFile(test::relativeToHome(home_, chromium.userDataDirectory) + "/Default/Preferences",
                  test::preferences(JSONValue::Object{{kB, test::extensionEntry(copied)}})
                      .serialized({.escapeSlashes = false}));
  fileSystem_->createDirectories(paths_.browser("brave")->userDataDirectory);
  EXPECT_EQ(detect({}).out, expected + kB + "\tprofile=Default\tpath=" + copied +
                                "\tname=Vellora\trank=1\tbrowser=chromium\n");

  // Installed for both IDs where the extension is, and in Google Chrome's folder.
  const Output output = install({});
  EXPECT_EQ(output.status, 0) << output.err;
  EXPECT_EQ(output.out,
            paths_.nativeHostManifestURL() + "\n" + chromium.nativeHostManifestURL + "\n");
  for (const std::string& manifest :
       {paths_.nativeHostManifestURL(), chromium.nativeHostManifestURL}) {
    EXPECT_EQ(fileSystem_->readFile(manifest, 1 << 20),
              NativeHostManifest(host_, {kA, kB}).encodedData());
  }
}

TEST_F(ChromeCommandsTest, pathsPrintsTheLayoutsLocationsThenEachBrowsersManifest) {
  const std::string data = home_ / "data";
  const std::string config = home_ / "config";
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
#if defined(__APPLE__)
  const std::string vellora = home_ / "Library/Application Support/Vellora";
  const std::string browsers = home_ / "Library/Application Support";
  const std::vector<std::pair<std::string, std::string>> directories = {
      {"chrome", "Google/Chrome"},
      {"chrome-beta", "Google/Chrome Beta"},
      {"chrome-dev", "Google/Chrome Dev"},
      {"chrome-canary", "Google/Chrome Canary"},
      {"chromium", "Chromium"},
      {"brave", "BraveSoftware/Brave-Browser"},
      {"edge", "Microsoft Edge"},
      {"vivaldi", "Vivaldi"}};
#else
  const std::string vellora = data + "/Vellora";
  const std::string browsers = config;
  const std::vector<std::pair<std::string, std::string>> directories = {
      {"chrome", "google-chrome"},
      {"chrome-beta", "google-chrome-beta"},
      {"chrome-dev", "google-chrome-unstable"},
      {"chromium", "chromium"},
      {"brave", "BraveSoftware/Brave-Browser"},
      {"edge", "microsoft-edge"},
      {"vivaldi", "vivaldi"}};
#endif
  const std::string hosts = browsers + "/" + directories[0].second + "/NativeMessagingHosts";
  std::string browserLines;
  for (const auto& [id, directory] : directories) {
    browserLines += "nativeHostManifestURL." + id + " " + browsers + "/" + directory +
                    "/NativeMessagingHosts/com.vellora.companion.json\n";
  }
  const Output output = paths({});
  EXPECT_EQ(output.status, 0);
  EXPECT_EQ(output.err, "");
  EXPECT_EQ(output.out, "applicationSupportDirectory " + vellora + "\n" + "workspaceDirectory " +
                            vellora + "/workspace\n" + "chromeExtensionDirectory " + vellora +
                            "/Chrome Extension\n" + "chromeNativeHostsDirectory " + hosts + "\n" +
                            "nativeHostManifestURL " + hosts + "/com.vellora.companion.json\n" +
                            browserLines);
  // Nothing is created.
  EXPECT_EQ(fileSystem_->contentsOfDirectory(home_.path()), std::vector<std::string>{"bin"});

  EXPECT_EQ(paths({"--all"}).status, 2);
}

}  // namespace
}  // namespace vellora
