#include "VelloraCompanion/Model/WelcomeContent.h"

#include <gtest/gtest.h>

#include "VelloraCompanion/Model/CompanionHealthRules.h"
#include "VelloraCompanion/Model/WelcomeStep.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"

namespace vellora {
namespace {

constexpr HealthState r = HealthState::ready;
constexpr HealthState u = HealthState::unknown;
constexpr HealthState m = HealthState::missing;
constexpr HealthState s = HealthState::starting;
constexpr HealthState e = HealthState::error;

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

TEST(WelcomeStepsTest, describeEachStepFromTheHealth) {
  struct Case {
    const char* label;
    HealthState nativeHost, extension, codex, appServer, auth;
    bool codexComplete;
    const char* codexDetail;
    bool extensionComplete;
    const char* extensionDetail;
    bool hasFolderButton;
  } cases[] = {
      {"launch", u, u, u, u, u, false, kChecking, false, kCheckingExtension, false},
      {"checking", s, s, s, s, s, false, kChecking, false, kCheckingExtension, false},
      {"all ready", r, r, r, r, r, true, kCodexReady, true, kConnected, false},
      {"codex missing", r, r, m, m, m, false, kInstallCodex, true, kConnected, false},
      // Sign-in is reported before the app-server.
      {"signed out, app-server error", r, r, r, e, m, false, kSignIn, true, kConnected, false},
      {"app-server error", r, r, r, e, r, false, kRestart, true, kConnected, false},
      {"one codex field still unknown", r, r, r, r, u, false, kChecking, true, kConnected, false},
      {"extension missing", r, m, r, r, r, true, kCodexReady, false, "", true},
      {"extension error", m, e, r, r, r, true, kCodexReady, false, "", true},
      // The detail would say "checking", but the instructions and the button stand there.
      {"extension missing, host unknown", u, m, r, r, r, true, kCodexReady, false,
       kCheckingExtension, true},
      {"host error", e, r, r, r, r, true, kCodexReady, false, kFixBrowser, false},
      {"host missing", m, r, r, r, r, true, kCodexReady, false, kFixBrowser, false},
  };
  for (const Case& c : cases) {
    const std::vector<WelcomeStep> steps =
        welcomeSteps(c.nativeHost, c.extension, c.codex, c.appServer, c.auth);
    ASSERT_EQ(steps.size(), 3u) << c.label;
    EXPECT_EQ(steps[0],
              (WelcomeStep{1, "Install Vellora Mac app", true, "Vellora is running.", {}}))
        << c.label;
    EXPECT_EQ(steps[1].number, 2);
    EXPECT_EQ(steps[1].title, "Sign into Codex");
    EXPECT_EQ(steps[1].isComplete, c.codexComplete) << c.label;
    EXPECT_EQ(steps[1].detail, c.codexDetail) << c.label;
    EXPECT_TRUE(steps[1].actions.empty()) << c.label;
    EXPECT_EQ(steps[2].number, 3);
    EXPECT_EQ(steps[2].title, "Install Chrome extension");
    EXPECT_EQ(steps[2].isComplete, c.extensionComplete) << c.label;
    EXPECT_EQ(steps[2].detail, c.extensionDetail) << c.label;
    const std::vector<WelcomeStepAction> folderButton = {
        {"Show extension folder path", CompanionAction::showExtensionFolder}};
    EXPECT_EQ(steps[2].actions, c.hasFolderButton ? folderButton : std::vector<WelcomeStepAction>{})
        << c.label;
  }
}

TEST(WelcomeContentTest, footerFollowsTheBusyFlags) {
  struct Case {
    const char* label;
    bool refreshing, repairing;
    const char* fixTitle;
    const char* refreshTitle;
    bool enabled;
  } cases[] = {
      {"idle", false, false, "Fix Browser", "Refresh Status", true},
      {"refreshing", true, false, "Fix Browser", "Refreshing...", false},
      {"repairing", false, true, "Fixing...", "Refresh Status", false},
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

  const WelcomeContent missing = makeWelcomeContent(test::health(r, r, m, r, r, r), false, false);
  EXPECT_EQ(missing.cardBodies[2], WelcomeCardBody::loadingInstructions);
  ASSERT_EQ(missing.loadingInstructions.size(), 4u);
  EXPECT_EQ(missing.loadingInstructions[0].text, "0. Make sure Developer Mode is on");
  EXPECT_EQ(missing.loadingInstructions[1],
            (WelcomeInstructionLine{"1. Open", "chrome://extensions",
                                    CompanionAction::openChromeExtensions}));
  EXPECT_EQ(missing.loadingInstructions[3].text, "3. Select the extension folder");
  EXPECT_FALSE(missing.openChromeButton);

  // The button shows even while a check runs.
  const WelcomeContent ready = makeWelcomeContent(test::allReady(), true, false);
  EXPECT_EQ(ready.cardBodies, std::vector<WelcomeCardBody>(3, WelcomeCardBody::titleOnly));
  EXPECT_EQ(ready.openChromeButton, (WelcomeButton{"Open Chrome to use Vellora",
                                                   CompanionAction::openCodexInChrome, true}));
}

}  // namespace
}  // namespace vellora
