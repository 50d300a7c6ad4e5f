#pragma once

#include <optional>
#include <string>
#include <vector>

#include "VelloraCompanion/Model/CompanionAction.h"
#include "VelloraCompanion/Model/DesktopPlatform.h"
#include "VelloraCompanion/Model/WelcomeStep.h"
#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

// A push button of the welcome window.
struct WelcomeButton {
  std::string title;
  CompanionAction action;
  bool enabled;
  friend bool operator==(const WelcomeButton&, const WelcomeButton&) = default;
};

// What a step's card shows below its title.
enum class WelcomeCardBody {
  titleOnly,            // a complete step: the title alone, on a card 64 points high
  detail,               // the detail text, then the step's action buttons if it has any
  loadingInstructions,  // step 3 with actions: the loading instructions, then the buttons
};

// One line of the loading instructions: text, optionally followed on the same line by a link
// button that sends `linkAction`.
struct WelcomeInstructionLine {
  std::string text;
  std::optional<std::string> linkTitle;
  std::optional<CompanionAction> linkAction;
  friend bool operator==(const WelcomeInstructionLine&, const WelcomeInstructionLine&) = default;
};

// Everything the welcome window shows, computed from one health and the two busy flags. The
// window is rebuilt from a new value whenever either changes.
struct WelcomeContent {
  std::string windowTitle;  // "Welcome to Vellora"
  std::string title;        // "Welcome to Vellora"
  std::string subtitle;     // "Put Codex inside Chrome (using codex-app-server)"
  std::vector<WelcomeStep> steps;
  // One per step, in the same order.
  std::vector<WelcomeCardBody> cardBodies;
  // "0. Make sure Developer Mode is on", "1. Open" + link "chrome://extensions",
  // "2. Click on Load Unpacked", "3. Select the extension folder".
  std::vector<WelcomeInstructionLine> loadingInstructions;
  // "Open Chrome to use Vellora", always enabled, shown above the row only when every step is
  // complete.
  std::optional<WelcomeButton> openChromeButton;
  // "Fix Browser" or "Fixing..." while repairing; enabled only when no check runs.
  WelcomeButton fixBrowserButton;
  // "Refresh Status" or "Refreshing..." while refreshing; enabled only when no check runs.
  WelcomeButton refreshButton;
  // "Quit", always enabled, in the row after the two: only when the desktop has no tray, where
  // the window is the application. makeWelcomeContent leaves it out; the companion adds it.
  std::optional<WelcomeButton> quitButton;

  // The window's fixed dimensions in points.
  static constexpr double kWindowWidth = 570;
  static constexpr double kWindowHeight = 700;
  static constexpr double kContentWidth = 466;
  static constexpr double kStepWidth = 350;

  friend bool operator==(const WelcomeContent&, const WelcomeContent&) = default;
};

WelcomeContent makeWelcomeContent(const CompanionHealth& health, bool isRefreshingStatus,
                                  bool isRepairingBrowserConnection,
                                  DesktopPlatform platform = DesktopPlatform::macOS);

}  // namespace vellora
