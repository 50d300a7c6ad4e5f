#include "VelloraCompanion/Model/CompanionApp.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "VelloraCompanion/Model/CompanionHealthRules.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"

namespace vellora {
namespace {

using test::kExtensionA;

using enum HealthState;

class CompanionAppTest : public ::testing::Test, protected test::CompanionFixture {
 protected:
  // Launches and runs the queued start-up task: the window opens and a refresh starts.
  std::shared_ptr<CompanionApp> launch() {
    std::shared_ptr<CompanionApp> app = makeApp();
    app->applicationDidFinishLaunching();
    EXPECT_TRUE(dispatch_.runMain());
    return app;
  }
  // Runs the pending check on the worker and shows its result.
  void finishCheck() {
    ASSERT_TRUE(dispatch_.runWorker());
    ASSERT_TRUE(dispatch_.runMain());
  }
  const StatusMenu& menu() { return desktop_.menus.back(); }
  const WelcomeContent& window() { return desktop_.lastWelcomeContent(); }
};

TEST_F(CompanionAppTest, launchShowsTheLaunchMenuThenOpensTheWindowAndStartsARefresh) {
  std::shared_ptr<CompanionApp> app = makeApp();
  app->applicationDidFinishLaunching();

  EXPECT_TRUE(fileSystem().isDirectory(paths().workspaceDirectory()));
  ASSERT_EQ(desktop_.statusItems.size(), 1u);
  EXPECT_EQ(desktop_.statusItems[0].toolTip, "Vellora");
  EXPECT_EQ(desktop_.statusItems[0].symbolName, "globe");
  EXPECT_EQ(desktop_.statusItems[0].fallbackTitle, "WWW");
  EXPECT_EQ(desktop_.icons, std::vector<AppIcon>{AppIcon{}});
  EXPECT_EQ(desktop_.menus, std::vector<StatusMenu>{makeStatusMenu(launchHealth())});
  EXPECT_EQ(app->latestHealth(), launchHealth());
  // Nothing else happens until the queued start-up task runs.
  EXPECT_TRUE(desktop_.windowsCreated.empty());
  EXPECT_EQ(dispatch_.pendingWorker(), 0u);

  ASSERT_TRUE(dispatch_.runMain());
  EXPECT_EQ(desktop_.windowsCreated.size(), 1u);
  EXPECT_EQ(desktop_.policies, std::vector<ActivationPolicy>{ActivationPolicy::regular});
  EXPECT_EQ(desktop_.windowsPresented, desktop_.windowsCreated);
  // The window first showed the launch health, then the checking health with busy buttons.
  ASSERT_EQ(desktop_.welcomeContents.size(), 2u);
  EXPECT_EQ(desktop_.welcomeContents[0].second, makeWelcomeContent(launchHealth(), false, false));
  EXPECT_EQ(window(), makeWelcomeContent(test::allButTheCompanion(starting), true, false));
  EXPECT_TRUE(app->isRefreshingStatus());
  EXPECT_EQ(dispatch_.pendingWorker(), 1u);
  EXPECT_EQ(dispatch_.nextDelay(), Seconds(20.0));
  // The menu keeps the launch health while the check runs.
  EXPECT_EQ(desktop_.menus.size(), 1u);
}

TEST_F(CompanionAppTest, aRefreshShowsItsResultAndEndsItsTimeOut) {
  loadExtension(kExtensionA);
  signIntoCodex();
  std::shared_ptr<CompanionApp> app = launch();
  finishCheck();

  EXPECT_FALSE(app->isRefreshingStatus());
  EXPECT_EQ(dispatch_.pendingDelayed(), 0u);
  EXPECT_EQ(app->latestHealth(), test::allReady());
  EXPECT_EQ(menu(), makeStatusMenu(test::allReady()));
  EXPECT_EQ(window(), makeWelcomeContent(test::allReady(), false, false));
  EXPECT_TRUE(window().openChromeButton);
  EXPECT_TRUE(manifest());

  // With the extension seen before, the next refresh samples 48 times and keeps ready fields.
  app->refreshStatus();
  EXPECT_EQ(window(), makeWelcomeContent(test::allReady(), true, false));
  finishCheck();
  EXPECT_EQ(sleeps().size(), 48u);
}

TEST_F(CompanionAppTest, onlyOneCheckRunsAtATime) {
  std::shared_ptr<CompanionApp> app = launch();
  const std::size_t contents = desktop_.welcomeContents.size();
  app->refreshStatus();
  app->installNativeHost();
  app->perform(CompanionAction::refreshStatus);
  EXPECT_EQ(dispatch_.pendingWorker(), 1u);
  EXPECT_EQ(dispatch_.pendingDelayed(), 1u);
  EXPECT_EQ(desktop_.welcomeContents.size(), contents);
  finishCheck();

  app->installNativeHost();
  EXPECT_TRUE(app->isRepairingBrowserConnection());
  app->installNativeHost();
  app->refreshStatus();
  EXPECT_EQ(dispatch_.pendingWorker(), 1u);
  EXPECT_EQ(dispatch_.pendingDelayed(), 1u);
  EXPECT_FALSE(app->isRefreshingStatus());
}

TEST_F(CompanionAppTest, aTimedOutCheckShowsItsLateResultWithoutEndingALaterCheck) {
  loadExtension(kExtensionA);
  std::shared_ptr<CompanionApp> app = launch();

  // The first refresh times out.
  ASSERT_TRUE(dispatch_.fireDelayed());
  const CompanionHealth timedOut = test::health({.nativeHost = unknown,
                                                 .extension = unknown,
                                                 .codex = error,
                                                 .appServer = error,
                                                 .auth = unknown});
  EXPECT_FALSE(app->isRefreshingStatus());
  EXPECT_EQ(menu(), makeStatusMenu(timedOut));
  EXPECT_EQ(window(), makeWelcomeContent(timedOut, false, false));
  EXPECT_EQ(desktop_.alerts,
            (std::vector<Alert>{{"Status Check Timed Out",
                                 "Codex setup check timed out. Choose Refresh Status to try again.",
                                 {"OK"}}}));

  // A second refresh starts behind the first one's worker.
  app->refreshStatus();
  EXPECT_TRUE(app->isRefreshingStatus());
  EXPECT_EQ(dispatch_.pendingWorker(), 2u);

  // The first result arrives: it is shown, but the second check goes on with its time-out.
  finishCheck();
  const CompanionHealth firstResult = test::health({.auth = missing});
  EXPECT_EQ(app->latestHealth(), firstResult);
  EXPECT_EQ(menu(), makeStatusMenu(firstResult));
  EXPECT_EQ(window(), makeWelcomeContent(firstResult, true, false));
  EXPECT_TRUE(app->isRefreshingStatus());
  EXPECT_EQ(dispatch_.pendingDelayed(), 1u);
  app->refreshStatus();
  EXPECT_EQ(dispatch_.pendingWorker(), 1u);

  // The second result ends the check.
  finishCheck();
  EXPECT_FALSE(app->isRefreshingStatus());
  EXPECT_EQ(dispatch_.pendingDelayed(), 0u);
  EXPECT_EQ(desktop_.alerts.size(), 1u);
}

TEST_F(CompanionAppTest, aRepairThatTimesOutSaysSo) {
  std::shared_ptr<CompanionApp> app = launch();
  finishCheck();
  app->installNativeHost();
  ASSERT_TRUE(dispatch_.fireDelayed());
  EXPECT_FALSE(app->isRepairingBrowserConnection());
  EXPECT_EQ(desktop_.alerts.back(),
            (Alert{"Status Check Timed Out",
                   "Browser connection repair timed out. Choose Fix Browser to try again.",
                   {"OK"}}));
  // Ready fields stay ready; the others become unknown or error.
  EXPECT_EQ(app->latestHealth(),
            test::health({.nativeHost = unknown, .extension = unknown, .auth = unknown}));
}

TEST_F(CompanionAppTest, aSuccessfulRepairUpdatesMenuAndWindow) {
  signIntoCodex();
  environment()["VELLORA_EXTENSION_ID"] = kExtensionA;
  std::shared_ptr<CompanionApp> app = launch();
  finishCheck();
  const std::size_t menus = desktop_.menus.size();

  app->perform(CompanionAction::installNativeHost);
  // The window shows the busy buttons for the health it had; the fields stay as they were.
  EXPECT_EQ(window(), makeWelcomeContent(*app->latestHealth(), false, true));
  EXPECT_EQ(window().fixBrowserButton.title, "Fixing...");
  finishCheck();

  EXPECT_FALSE(app->isRepairingBrowserConnection());
  EXPECT_EQ(dispatch_.pendingDelayed(), 0u);
  EXPECT_EQ(desktop_.menus.size(), menus + 1);
  EXPECT_EQ(app->latestHealth(), test::allReady());
  EXPECT_EQ(window(), makeWelcomeContent(test::allReady(), false, false));
  EXPECT_EQ(manifest()->allowedOrigins,
            std::vector<std::string>{NativeHostManifest::origin(kExtensionA)});
  EXPECT_TRUE(desktop_.alerts.empty());
}

TEST_F(CompanionAppTest, aFailedRepairKeepsTheMenuAndShowsTheAlert) {
  environment()["VELLORA_EXTENSION_ID"] = "not-an-id";
  std::shared_ptr<CompanionApp> app = launch();
  finishCheck();
  const std::size_t menus = desktop_.menus.size();
  const CompanionHealth before = *app->latestHealth();

  app->installNativeHost();
  finishCheck();
  EXPECT_FALSE(app->isRepairingBrowserConnection());
  EXPECT_EQ(desktop_.menus.size(), menus);
  EXPECT_EQ(window(), makeWelcomeContent(before, false, false));
  EXPECT_EQ(desktop_.alerts, (std::vector<Alert>{{"Native Host Install Failed",
                                                  "Invalid Chrome extension ID: not-an-id.",
                                                  {"OK"}}}));
}

TEST_F(CompanionAppTest, theWindowComesBackOnReopenAndGoesAwayOnClose) {
  std::shared_ptr<CompanionApp> app = launch();
  const Desktop::WindowID first = *app->setupWindow();

  // Another window's closing changes nothing.
  app->windowWillClose(first + 100);
  EXPECT_EQ(app->setupWindow(), first);
  EXPECT_EQ(desktop_.policies.back(), ActivationPolicy::regular);

  // Showing it again presents the same window with fresh content.
  app->perform(CompanionAction::openSetupGuide);
  EXPECT_EQ(desktop_.windowsCreated.size(), 1u);
  EXPECT_EQ(desktop_.windowsPresented, (std::vector<Desktop::WindowID>{first, first}));

  app->windowWillClose(first);
  EXPECT_EQ(app->setupWindow(), std::nullopt);
  EXPECT_EQ(desktop_.policies.back(), ActivationPolicy::accessory);
  // A result that arrives now updates the menu only.
  const std::size_t contents = desktop_.welcomeContents.size();
  finishCheck();
  EXPECT_EQ(desktop_.welcomeContents.size(), contents);

  EXPECT_TRUE(app->applicationShouldHandleReopen(false));
  EXPECT_EQ(desktop_.windowsCreated.size(), 2u);
  EXPECT_EQ(desktop_.policies.back(), ActivationPolicy::regular);
}

TEST_F(CompanionAppTest, withoutAStatusItemTheWindowIsTheApplication) {
  desktop_.offersStatusItem = false;
  std::shared_ptr<CompanionApp> app = launch();
  finishCheck();
  EXPECT_TRUE(desktop_.menus.empty());
  EXPECT_TRUE(app->latestHealth());
  // Every content the window shows has the Quit button, also while a check runs.
  app->refreshStatus();
  for (const auto& [id, content] : desktop_.welcomeContents) {
    EXPECT_EQ(content.quitButton, (WelcomeButton{"Quit", CompanionAction::quit, true}));
  }
  // Closing it ends the companion; another window's closing does not.
  app->windowWillClose(*app->setupWindow() + 100);
  EXPECT_EQ(desktop_.terminations, 0);
  app->windowWillClose(*app->setupWindow());
  EXPECT_EQ(desktop_.terminations, 1);
}

TEST_F(CompanionAppTest, withAStatusItemClosingTheWindowKeepsTheCompanion) {
  std::shared_ptr<CompanionApp> app = launch();
  EXPECT_EQ(window().quitButton, std::nullopt);
  app->windowWillClose(*app->setupWindow());
  EXPECT_EQ(desktop_.terminations, 0);
}

TEST_F(CompanionAppTest, startAtLoginIsAnItemOnLinuxThatWritesAndRemovesTheEntry) {
  const auto startAtLogin = [this]() -> std::optional<StatusMenuItem> {
    for (const StatusMenuItem& item : menu().items) {
      if (item.title == "Start at Login") return item;
    }
    return std::nullopt;
  };
  // The Mac menu has no such item.
  {
    std::shared_ptr<CompanionApp> mac = makeApp("/nonexistent", DesktopPlatform::macOS);
    mac->applicationDidFinishLaunching();
    EXPECT_EQ(startAtLogin(), std::nullopt);
  }
  environment()["XDG_CONFIG_HOME"] = home() / "config";
  std::shared_ptr<CompanionApp> app = makeApp("/nonexistent", DesktopPlatform::freedesktop);
  app->applicationDidFinishLaunching();
  const std::string entry = home() / "config/autostart/vellora-companion.desktop";
  ASSERT_TRUE(startAtLogin());
  EXPECT_TRUE(startAtLogin()->checkable);
  EXPECT_FALSE(startAtLogin()->checked);
  // Just before "Quit Vellora".
  EXPECT_EQ(menu().items[menu().items.size() - 2].title, "Start at Login");

  app->perform(CompanionAction::toggleStartAtLogin);
  EXPECT_TRUE(startAtLogin()->checked);
  EXPECT_EQ(fileSystem().readFile(entry, 1 << 16), Autostart::entryText(companionExecutable()));

  app->perform(CompanionAction::toggleStartAtLogin);
  EXPECT_FALSE(startAtLogin()->checked);
  EXPECT_FALSE(fileSystem().fileExists(entry));
  EXPECT_TRUE(desktop_.alerts.empty());

  // A folder that cannot be written says so and leaves the item off.
  fileSystem().removeTree(home() / "config/autostart");
  fileSystem().writeFileAtomically(home() / "config/autostart", "a file, not the folder");
  app->perform(CompanionAction::toggleStartAtLogin);
  ASSERT_EQ(desktop_.alerts.size(), 1u);
  EXPECT_EQ(desktop_.alerts[0].messageText, "Start at Login Failed");
  EXPECT_FALSE(startAtLogin()->checked);
}

TEST_F(CompanionAppTest, openingTheExtensionsPageFallsBackToTheClipboard) {
  const std::string copied =
      "\n\nThe address was copied. Open Chrome and paste it in the address bar.";
  std::shared_ptr<CompanionApp> app = makeApp();

  // No Chrome.
  app->perform(CompanionAction::openChromeExtensions);
  EXPECT_EQ(desktop_.clipboard, "chrome://extensions");
  EXPECT_EQ(desktop_.alerts,
            (std::vector<Alert>{
                {"Open Chrome extensions", "Google Chrome was not found." + copied, {"OK"}}}));

  // Chrome opens the page: nothing is copied.
  desktop_.clipboard.reset();
  desktop_.alerts.clear();
  desktop_.applicationsByBundleIdentifier["com.google.Chrome"] = "/opt/google/chrome";
  app->openChromeExtensions();
  ASSERT_EQ(desktop_.openRequests.size(), 1u);
  EXPECT_EQ(desktop_.openRequests[0].urls, std::vector<std::string>{"chrome://extensions"});
  EXPECT_EQ(desktop_.openRequests[0].applicationLocation, "/opt/google/chrome");
  desktop_.openRequests[0].completion(std::nullopt);
  EXPECT_EQ(dispatch_.pendingMain(), 0u);
  EXPECT_FALSE(desktop_.clipboard);

  // Chrome reports an error on another thread: the fallback runs later on the main queue.
  app->openChromeExtensions();
  std::thread([&] { desktop_.openRequests[1].completion("LSOpen failed"); }).join();
  EXPECT_TRUE(desktop_.alerts.empty());
  ASSERT_TRUE(dispatch_.runMain());
  EXPECT_EQ(desktop_.clipboard, "chrome://extensions");
  EXPECT_EQ(desktop_.alerts,
            (std::vector<Alert>{{"Open Chrome extensions",
                                 "Chrome did not open the extensions page." + copied,
                                 {"OK"}}}));

  // An error reported after the companion has gone changes nothing.
  app->openChromeExtensions();
  auto completion = desktop_.openRequests[2].completion;
  app.reset();
  completion("late");
  EXPECT_TRUE(dispatch_.runMain());
  EXPECT_EQ(desktop_.alerts.size(), 1u);

  // None of this touched the health or the flags.
  EXPECT_TRUE(desktop_.menus.empty());
}

// The commands that open a browser take the first browser, in table order, that holds the
// extension and can be started; else the first that can be started; else none.
TEST_F(CompanionAppTest, opensTheBrowserThatHoldsTheExtension) {
  const struct {
    const char* label;
    std::vector<std::string> holding;
    std::map<std::string, std::string> installed;  // bundle identifier -> location
    std::optional<std::string> opened;             // the location asked to open
  } cases[] = {
      {"Chromium holds it",
       {"chromium"},
       {{"com.google.Chrome", "/chrome"}, {"org.chromium.Chromium", "/chromium"}},
       "/chromium"},
      {"the first of two holders",
       {"chromium", "brave"},
       {{"com.brave.Browser", "/brave"}, {"org.chromium.Chromium", "/chromium"}},
       "/chromium"},
      {"the holder cannot be started",
       {"brave"},
       {{"com.vivaldi.Vivaldi", "/vivaldi"}, {"com.microsoft.edgemac", "/edge"}},
       "/edge"},
      {"no holder: the first that can be started",
       {},
       {{"com.vivaldi.Vivaldi", "/vivaldi"}, {"com.google.Chrome", "/chrome"}},
       "/chrome"},
      {"none can be started", {"chromium"}, {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    removeBrowsers();
    for (const std::string& browser : c.holding) loadExtensionIn(browser, kExtensionA);
    desktop_.applicationsByBundleIdentifier = c.installed;
    desktop_.openRequests.clear();
    desktop_.alerts.clear();
    std::shared_ptr<CompanionApp> app = makeApp();
    app->openChromeExtensions();
    app->openCodexInChrome();
    if (c.opened) {
      ASSERT_EQ(desktop_.openRequests.size(), 2u);
      EXPECT_EQ(desktop_.openRequests[0].applicationLocation, *c.opened);
      EXPECT_EQ(desktop_.openRequests[0].urls, std::vector<std::string>{"chrome://extensions"});
      EXPECT_EQ(desktop_.openRequests[1].applicationLocation, *c.opened);
      EXPECT_EQ(desktop_.openRequests[1].urls,
                std::vector<std::string>{"https://openai.com/codex/"});
      EXPECT_TRUE(desktop_.alerts.empty());
    } else {
      EXPECT_TRUE(desktop_.openRequests.empty());
      ASSERT_EQ(desktop_.alerts.size(), 1u);
      EXPECT_TRUE(desktop_.alerts[0].informativeText.starts_with("Google Chrome was not found."));
      EXPECT_EQ(desktop_.openedURLs.back(), "https://openai.com/codex/");
    }
  }
}

// On Linux a browser started with chrome://extensions shows a New Tab: the address is copied
// and the user told, even though the start succeeded. An error still reads as before.
TEST_F(CompanionAppTest, onLinuxTheOpenedBrowserIsNamedAndTheAddressCopied) {
  loadExtensionIn("chromium", kExtensionA);
  desktop_.applicationsByBundleIdentifier["org.chromium.Chromium"] = "/usr/bin/chromium";
  std::shared_ptr<CompanionApp> app = makeApp("/nonexistent", DesktopPlatform::freedesktop);

  app->openChromeExtensions();
  ASSERT_EQ(desktop_.openRequests.size(), 1u);
  EXPECT_EQ(desktop_.openRequests[0].applicationLocation, "/usr/bin/chromium");
  desktop_.openRequests[0].completion(std::nullopt);
  ASSERT_TRUE(dispatch_.runMain());
  EXPECT_EQ(desktop_.clipboard, "chrome://extensions");
  EXPECT_EQ(desktop_.alerts,
            (std::vector<Alert>{{"Open Chrome extensions",
                                 "Chromium was opened; it cannot open chrome://extensions by "
                                 "itself.\n\nThe address was copied. Open Chrome and paste it in "
                                 "the address bar.",
                                 {"OK"}}}));

  app->openChromeExtensions();
  desktop_.openRequests[1].completion("could not start");
  ASSERT_TRUE(dispatch_.runMain());
  EXPECT_TRUE(desktop_.alerts.back().informativeText.starts_with(
      "Chrome did not open the extensions page.\n\n"));

  // The Codex page is a web address the browser opens itself: no alert.
  app->openCodexInChrome();
  desktop_.openRequests[2].completion(std::nullopt);
  EXPECT_EQ(dispatch_.pendingMain(), 0u);
  EXPECT_EQ(desktop_.alerts.size(), 2u);
}

TEST_F(CompanionAppTest, showingTheExtensionFolderCopiesItsPathAndOffersToRevealIt) {
  desktop_.resources = home() / "Vellora/Resources";
  home().writeFile("Vellora/Resources/extension/manifest.json", "{}");
  std::shared_ptr<CompanionApp> app = makeApp();
  const std::string folder = paths().chromeExtensionDirectory();
  const Alert alert{"Chrome extension folder",
                    "Select this folder after choosing Load Unpacked in Chrome:\n\n" + folder,
                    {"OK", "Show in Finder"}};

  app->perform(CompanionAction::showExtensionFolder);
  EXPECT_EQ(desktop_.clipboard, folder);
  EXPECT_EQ(desktop_.alerts, std::vector<Alert>{alert});
  EXPECT_TRUE(desktop_.revealedPaths.empty());

  desktop_.alertChoices.push_back(1);
  app->showExtensionFolder();
  EXPECT_EQ(desktop_.revealedPaths, std::vector<std::string>{folder});

  // Neither a packaged extension nor a development build.
  desktop_.resources.reset();
  desktop_.clipboard = "before";
  app->showExtensionFolder();
  EXPECT_EQ(desktop_.clipboard, "before");
  EXPECT_EQ(desktop_.alerts.back(), (Alert{"Extension folder not found",
                                           "Build the extension again or reinstall Vellora.",
                                           {"OK"}}));
}

// The Mac keeps its own words; a Linux desktop reads its own in step 1, in step 2's sign-in
// advice (there is no Codex application to open there) and in the folder alert.
TEST_F(CompanionAppTest, textsThatNameTheDesktopFollowThePlatform) {
  desktop_.resources = home() / "Vellora/Resources";
  home().writeFile("Vellora/Resources/extension/manifest.json", "{}");
  const struct {
    DesktopPlatform platform;
    const char* stepTitle;
    const char* signIn;
    const char* revealButton;
  } cases[] = {
      {DesktopPlatform::macOS, "Install Vellora Mac app",
       "Open Codex and sign in, then choose Refresh Status.", "Show in Finder"},
      {DesktopPlatform::freedesktop, "Install Vellora desktop app",
       "Run codex login in a terminal, then choose Refresh Status.", "Show in Files"},
  };
  for (const auto& c : cases) {
    std::shared_ptr<CompanionApp> app = makeApp("/nonexistent", c.platform);
    app->rebuildStatusMenu(test::health({.auth = missing}));
    app->showSetupWindow();
    EXPECT_EQ(desktop_.lastWelcomeContent().steps[0].title, c.stepTitle);
    EXPECT_EQ(desktop_.lastWelcomeContent().steps[1].detail, c.signIn);
    app->showExtensionFolder();
    EXPECT_EQ(desktop_.alerts.back().buttons, (std::vector<std::string>{"OK", c.revealButton}));
  }
}

TEST_F(CompanionAppTest, theDevelopmentBuildIsUsedOutsideABundle) {
  const std::string dist =
      test::writeExtensionFolder(home(), "checkout/apps/extension/dist", "Vellora");
  std::shared_ptr<CompanionApp> app = makeApp(home() / "checkout");
  app->showExtensionFolder();
  EXPECT_EQ(desktop_.clipboard, dist);
  EXPECT_FALSE(fileSystem().fileExists(paths().chromeExtensionDirectory()));
}

// Without a browser of the family to start, the default browser opens the page.
TEST_F(CompanionAppTest, openCodexOpensAWebPageWithTheDefaultBrowser) {
  std::shared_ptr<CompanionApp> app = makeApp();
  app->perform(CompanionAction::openCodexInChrome);
  ASSERT_EQ(desktop_.openedURLs.size(), 1u);
  EXPECT_TRUE(desktop_.openedURLs[0].starts_with("https://"));
  EXPECT_TRUE(desktop_.openRequests.empty());
}

TEST_F(CompanionAppTest, aMenuWithoutAHealthShownMeasuresOneNow) {
  signIntoCodex();
  std::shared_ptr<CompanionApp> app = makeApp();
  // Nothing shown yet: measured on the spot, without the manifest being written.
  loadExtension(kExtensionA);
  app->showSetupWindow();
  EXPECT_EQ(app->latestHealth(), test::health({.nativeHost = missing}));
  EXPECT_FALSE(manifest());
  EXPECT_TRUE(sleeps().empty());
}

}  // namespace
}  // namespace vellora
