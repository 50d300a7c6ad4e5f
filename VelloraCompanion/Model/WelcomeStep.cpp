#include "VelloraCompanion/Model/WelcomeStep.h"

namespace vellora {

namespace {

bool isBusy(HealthState state) {
  return state == HealthState::unknown || state == HealthState::starting;
}

bool isReady(HealthState state) {
  return state == HealthState::ready;
}

std::string codexDetail(HealthState codex, HealthState appServer, HealthState auth,
                        DesktopPlatform platform) {
  if (isBusy(codex) || isBusy(auth) || isBusy(appServer)) {
    return "Checking your local Codex setup.";
  }
  if (!isReady(codex)) return "Install Codex or fix your shell PATH, then choose Refresh Status.";
  if (!isReady(auth)) return codexSignInDetail(platform);
  if (!isReady(appServer)) {
    return "Restart Codex. If this still fails, check that codex app-server can start.";
  }
  return "Codex is signed in and ready.";
}

std::string extensionDetail(HealthState nativeHost, HealthState extension) {
  if (isBusy(extension) || isBusy(nativeHost)) {
    return "Checking Chrome extension and browser connection.";
  }
  if (isReady(extension) && isReady(nativeHost)) {
    return "The Chrome extension is loaded and connected.";
  }
  if (isReady(extension)) return "Choose Fix Browser Connection, then choose Refresh Status.";
  return {};
}

}  // namespace

std::vector<WelcomeStep> welcomeSteps(HealthState nativeHost, HealthState extension,
                                      HealthState codex, HealthState appServer, HealthState auth,
                                      DesktopPlatform platform) {
  std::vector<WelcomeStep> steps;
  steps.push_back({1, companionStepTitle(platform), true, "Vellora is running.", {}});
  steps.push_back({2,
                   "Sign into Codex",
                   isReady(codex) && isReady(auth) && isReady(appServer),
                   codexDetail(codex, appServer, auth, platform),
                   {}});
  WelcomeStep extensionStep{3,
                            "Install Chrome extension",
                            isReady(extension) && isReady(nativeHost),
                            extensionDetail(nativeHost, extension),
                            {}};
  if (extension == HealthState::missing || extension == HealthState::error) {
    extensionStep.actions.push_back(
        {"Show extension folder path", CompanionAction::showExtensionFolder});
  }
  steps.push_back(std::move(extensionStep));
  return steps;
}

}  // namespace vellora
