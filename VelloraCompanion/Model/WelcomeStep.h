#pragma once

#include <string>
#include <vector>

#include "VelloraCompanion/Model/CompanionAction.h"
#include "VelloraCompanion/Model/DesktopPlatform.h"
#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

// An extra button of a setup step.
struct WelcomeStepAction {
  std::string title;
  CompanionAction action;
  friend bool operator==(const WelcomeStepAction&, const WelcomeStepAction&) = default;
};

// One of the three setup steps of the welcome window.
struct WelcomeStep {
  int number;  // 1, 2 or 3, shown in the step's badge
  std::string title;
  bool isComplete;
  // What to do next or the state reached; empty for step 3 when the extension is missing or
  // in error (the loading instructions stand there instead).
  std::string detail;
  std::vector<WelcomeStepAction> actions;

  friend bool operator==(const WelcomeStep&, const WelcomeStep&) = default;
};

// The three steps, in order:
//   1 "Install Vellora Mac app"   always complete, "Vellora is running." (the title names the
//                                 desktop of `platform`: "Install Vellora desktop app" on Linux)
//   2 "Sign into Codex"           complete when codex, auth and appServer are ready
//   3 "Install Chrome extension"  complete when extension and nativeHost are ready; the action
//                                 "Show extension folder path" when extension is missing or error
std::vector<WelcomeStep> welcomeSteps(HealthState nativeHost, HealthState extension,
                                      HealthState codex, HealthState appServer, HealthState auth,
                                      DesktopPlatform platform = DesktopPlatform::macOS);

}  // namespace vellora
