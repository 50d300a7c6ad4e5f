// Loads a small unpacked extension into the real Chromium (Debian's package) and detects it
// from the profile files that Chromium wrote. Skipped where Chromium is not installed.

#include <gtest/gtest.h>

#include <chrono>

#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Chrome/ChromeExtensionDetector.h"
#include "VelloraCore/Chrome/ChromeExtensionID.h"
#include "VelloraCore/Platform/FileSystem.h"
#include "VelloraCore/Platform/ProcessLauncher.h"
#include "tests/VelloraCore/Chrome/ChromeProfileFixture.h"
#include "tests/support/Chromium.h"

namespace vellora {
namespace {

using namespace std::chrono_literals;

TEST(ChromiumProfileTest, detectsAnExtensionLoadedIntoRealChromium) {
  auto fileSystem = makePosixFileSystem();
  const std::optional<std::string> chromium = test::findChromium(*fileSystem);
  if (!chromium) GTEST_SKIP() << "chromium is not installed";

  test::TemporaryDirectory home;
  const AppPaths paths = AppPaths::linuxLayout(home.path(), {});
  const std::string chromeDirectory = paths.chromeUserDataDirectory();
  // One copy where the companion puts it, one in a folder recognised by nothing but its name.
  const std::string copied = test::writeExtensionFolder(
      home, test::relativeToHome(home, paths.chromeExtensionDirectory()), "Vellora");
  const std::string unrelated = test::writeExtensionFolder(home, "Downloads/Test Build", "Vellora");
  fileSystem->createDirectories(chromeDirectory);

  // --dump-dom loads the page, prints it and quits cleanly, and a clean exit writes the
  // profile files, so the child's exit is the event to wait for.
  ProcessLaunchOptions options;
  options.executablePath = *chromium;
  options.arguments = test::chromiumArguments(chromeDirectory, {copied, unrelated});
  options.arguments.insert(options.arguments.end(), {"--dump-dom", "about:blank"});
  options.environment = {{"HOME", home.path()}, {"PATH", "/usr/bin:/bin"}};
  options.standardOutput = StreamMode::nullDevice;
  options.standardError = StreamMode::nullDevice;
  LaunchedProcess child = makePosixProcessLauncher()->launch(options);
  if (!child.process->waitForExit(std::chrono::steady_clock::now() + 120s)) {
    child.process->terminate();
    child.process->waitForExit(std::chrono::steady_clock::now() + 30s);
    FAIL() << "chromium did not quit";
  }
  ASSERT_EQ(child.process->exitStatus(), (ProcessExit{ProcessExit::Reason::exited, 0}));
  ASSERT_TRUE(fileSystem->isRegularFile(chromeDirectory + "/Default/Preferences"));

  const ChromeExtensionDetector detector(chromeDirectory, *fileSystem,
                                         ChromeExtensionFolders::linuxLayout());
  const std::vector<ChromeExtensionCandidate> candidates = detector.detectVelloraExtensions();
  ASSERT_EQ(candidates.size(), 2u);
  const struct {
    std::string path;
    int rank;
  } expected[] = {{copied, 1}, {unrelated, 3}};
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    SCOPED_TRACE(expected[i].path);
    EXPECT_TRUE(isChromeExtensionID(candidates[i].id));
    EXPECT_EQ(candidates[i].profileName, "Default");
    EXPECT_EQ(candidates[i].path, expected[i].path);
    EXPECT_EQ(candidates[i].name, "Vellora");
    EXPECT_EQ(ChromeExtensionDetector::rank(candidates[i], detector.folders()), expected[i].rank);
  }
  EXPECT_NE(candidates[0].id, candidates[1].id);
  EXPECT_EQ(detector.detectVelloraExtensionIDs().size(), 2u);
}

}  // namespace
}  // namespace vellora
