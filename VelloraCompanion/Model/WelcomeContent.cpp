#include "VelloraCompanion/Model/WelcomeContent.h"

#include <algorithm>

namespace vellora {

namespace {

WelcomeCardBody cardBody(const WelcomeStep& step) {
  if (step.isComplete) return WelcomeCardBody::titleOnly;
  if (step.number == 3 && !step.actions.empty()) return WelcomeCardBody::loadingInstructions;
  return WelcomeCardBody::detail;
}

}  // namespace

WelcomeContent makeWelcomeContent(const CompanionHealth& health, bool isRefreshingStatus,
                                  bool isRepairingBrowserConnection, DesktopPlatform platform) {
  WelcomeContent content;
  content.windowTitle = "Welcome to Vellora";
  content.title = "Welcome to Vellora";
  content.subtitle = "Put Codex inside Chrome (using codex-app-server)";
  content.steps = welcomeSteps(health.nativeHost, health.extension, health.codex, health.appServer,
                               health.auth, platform);
  for (const WelcomeStep& step : content.steps) content.cardBodies.push_back(cardBody(step));
  content.loadingInstructions = {
      {"0. Make sure Developer Mode is on", std::nullopt, std::nullopt},
      {"1. Open", "chrome://extensions", CompanionAction::openChromeExtensions},
      {"2. Click on Load Unpacked", std::nullopt, std::nullopt},
      {"3. Select the extension folder", std::nullopt, std::nullopt},
  };
  const bool idle = !isRefreshingStatus && !isRepairingBrowserConnection;
  if (std::all_of(content.steps.begin(), content.steps.end(),
                  [](const WelcomeStep& step) { return step.isComplete; })) {
    content.openChromeButton =
        WelcomeButton{"Open Chrome to use Vellora", CompanionAction::openCodexInChrome, true};
  }
  content.fixBrowserButton = {isRepairingBrowserConnection ? "Fixing..." : "Fix Browser",
                              CompanionAction::installNativeHost, idle};
  content.refreshButton = {isRefreshingStatus ? "Refreshing..." : "Refresh Status",
                           CompanionAction::refreshStatus, idle};
  return content;
}

}  // namespace vellora
