#include "VelloraCompanion/Model/WelcomeContent.h"

#include <gtest/gtest.h>

#include "VelloraCompanion/Model/CompanionHealthRules.h"
#include "VelloraCompanion/Model/WelcomeStep.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"

namespace vellora {
namespace {

using enum HealthState;

const char* const kChecking = "Checking your local Codex setup.";
const char* const kInstallCodex =
    "Install Codex or fix your shell PATH, then choose Refresh Status.";
const char* const kSignIn = "Open Codex and sign in, then choose Refresh Status.";
const char* const kRestart =
    "Restart Codex. If this still fails, check that codex app-server can start.";
const char* const kCodexReady = "Codex is signed in and ready.";
const char* const kCheckingExtension = "Checking Chrome extension and browser connection.";
const char* const kConnected = "The Chrome extension is loaded and connected.";
const char* const kFixBrowser = "Choose Fix Browser Connection, then choose Refresh Status.";

// What a step card shows: whether it is complete, and its detail.
struct StepShown {
  bool isComplete;
  const char* detail;
};
StepShown complete(const char* detail) {
  return {true, detail};
}
StepShown incomplete(const char* detail) {
  return {false, detail};
}

TEST(WelcomeStepsTest, describeEachStepFromTheHealth) {
  struct Case {
    const char* label;
    CompanionHealth health;  // the companion's own part plays no role
    StepShown codexStep;
    StepShown extensionStep;
    bool hasFolderButton = false;
  } cases[] = {
      {.label = "launch",
       .health = test::allButTheCompanion(unknown),
       .codexStep = incomplete(kChecking),
       .extensionStep = incomplete(kCheckingExtension)},
      {.label = "checking",
       .health = test::allButTheCompanion(starting),
       .codexStep = incomplete(kChecking),
       .extensionStep = incomplete(kCheckingExtension)},
      {.label = "all ready",
       .health = test::allReady(),
       .codexStep = complete(kCodexReady),
       .extensionStep = complete(kConnected)},
      {.label = "codex missing",
       .health = test::health({.codex = missing, .appServer = missing, .auth = missing}),
       .codexStep = incomplete(kInstallCodex),
       .extensionStep = complete(kConnected)},
      // Sign-in is reported before the app-server.
      {.label = "signed out, app-server error",
       .health = test::health({.appServer = error, .auth = missing}),
       .codexStep = incomplete(kSignIn),
       .extensionStep = complete(kConnected)},
      {.label = "app-server error",
       .health = test::health({.appServer = error}),
       .codexStep = incomplete(kRestart),
       .extensionStep = complete(kConnected)},
      {.label = "one codex field still unknown",
       .health = test::health({.auth = unknown}),
       .codexStep = incomplete(kChecking),
       .extensionStep = complete(kConnected)},
      {.label = "extension missing",
       .health = test::health({.extension = missing}),
       .codexStep = complete(kCodexReady),
       .extensionStep = incomplete(""),
       .hasFolderButton = true},
      {.label = "extension error",
       .health = test::health({.nativeHost = missing, .extension = error}),
       .codexStep = complete(kCodexReady),
       .extensionStep = incomplete(""),
       .hasFolderButton = true},
      // The detail would say "checking", but the instructions and the button stand there.
      {.label = "extension missing, host unknown",
       .health = test::health({.nativeHost = unknown, .extension = missing}),
       .codexStep = complete(kCodexReady),
       .extensionStep = incomplete(kCheckingExtension),
       .hasFolderButton = true},
      {.label = "host error",
       .health = test::health({.nativeHost = error}),
       .codexStep = complete(kCodexReady),
       .extensionStep = incomplete(kFixBrowser)},
      {.label = "host missing",
       .health = test::health({.nativeHost = missing}),
       .codexStep = complete(kCodexReady),
       .extensionStep = incomplete(kFixBrowser)},
  };
  for (const Case& c : cases) {
    const std::vector<WelcomeStep> steps = welcomeSteps(
        c.health.nativeHost, c.health.extension, c.health.codex, c.health.appServer, c.health.auth);
    ASSERT_EQ(steps.size(), 3u) << c.label;
    EXPECT_EQ(steps[0],
              (WelcomeStep{1, "Install Vellora Mac app", true, "Vellora is running.", {}}))
        << c.label;
    EXPECT_EQ(steps[1].number, 2);
    EXPECT_EQ(steps[1].title, "Sign into Codex");
    EXPECT_EQ(steps[1].isComplete, c.codexStep.isComplete) << c.label;
    EXPECT_EQ(steps[1].detail, c.codexStep.detail) << c.label;
    EXPECT_TRUE(steps[1].actions.empty()) << c.label;
    EXPECT_EQ(steps[2].number, 3);
    EXPECT_EQ(steps[2].title, "Install Chrome extension");
    EXPECT_EQ(steps[2].isComplete, c.extensionStep.isComplete) << c.label;
    EXPECT_EQ(steps[2].detail, c.extensionStep.detail) << c.label;
    const std::vector<WelcomeStepAction> folderButton = {
        {"Show extension folder path", CompanionAction::showExtensionFolder}};
    EXPECT_EQ(steps[2].actions, c.hasFolderButton ? folderButton : std::vector<WelcomeStepAction>{})
        << c.label;
  }
}

TEST(WelcomeContentTest, footerFollowsTheBusyFlags) {
  struct Case {
    const char* label;
    bool refreshing = false;
    bool repairing = false;
    const char* fixTitle;
    const char* refreshTitle;
    bool enabled;
  } cases[] = {
      {.label = "idle",
       .fixTitle = "Fix Browser",
       .refreshTitle = "Refresh Status",
       .enabled = true},
      {.label = "refreshing",
       .refreshing = true,
       .fixTitle = "Fix Browser",
       .refreshTitle = "Refreshing...",
       .enabled = false},
      {.label = "repairing",
       .repairing = true,
       .fixTitle = "Fixing...",
       .refreshTitle = "Refresh Status",
       .enabled = false},
  };
  for (const Case& c : cases) {
    const WelcomeContent content = makeWelcomeContent(launchHealth(), c.refreshing, c.repairing);
    EXPECT_EQ(content.fixBrowserButton,
              (WelcomeButton{c.fixTitle, CompanionAction::installNativeHost, c.enabled}))
        << c.label;
    EXPECT_EQ(content.refreshButton,
              (WelcomeButton{c.refreshTitle, CompanionAction::refreshStatus, c.enabled}))
        << c.label;
    EXPECT_FALSE(content.openChromeButton) << c.label;
  }
}

TEST(WelcomeContentTest, choosesEachCardsBodyAndOffersChromeWhenAllIsDone) {
  const WelcomeContent launch = makeWelcomeContent(launchHealth(), false, false);
  EXPECT_EQ(launch.title, "Welcome to Vellora");
  EXPECT_EQ(launch.subtitle, "Put Codex inside Chrome (using codex-app-server)");
  EXPECT_EQ(launch.cardBodies,
            (std::vector<WelcomeCardBody>{WelcomeCardBody::titleOnly, WelcomeCardBody::detail,
                                          WelcomeCardBody::detail}));

  const WelcomeContent extensionMissing =
      makeWelcomeContent(test::health({.extension = missing}), false, false);
  EXPECT_EQ(extensionMissing.cardBodies[2], WelcomeCardBody::loadingInstructions);
  ASSERT_EQ(extensionMissing.loadingInstructions.size(), 4u);
  EXPECT_EQ(extensionMissing.loadingInstructions[0].text, "0. Make sure Developer Mode is on");
  EXPECT_EQ(extensionMissing.loadingInstructions[1],
            (WelcomeInstructionLine{"1. Open", "chrome://extensions",
                                    CompanionAction::openChromeExtensions}));
  EXPECT_EQ(extensionMissing.loadingInstructions[3].text, "3. Select the extension folder");
  EXPECT_FALSE(extensionMissing.openChromeButton);

  // The button shows even while a check runs.
  const WelcomeContent ready = makeWelcomeContent(test::allReady(), true, false);
  EXPECT_EQ(ready.cardBodies, std::vector<WelcomeCardBody>(3, WelcomeCardBody::titleOnly));
  EXPECT_EQ(ready.openChromeButton, (WelcomeButton{"Open Chrome to use Vellora",
                                                   CompanionAction::openCodexInChrome, true}));
}

}  // namespace
}  // namespace vellora
