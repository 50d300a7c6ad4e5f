#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "VelloraCompanion/Model/Autostart.h"
#include "VelloraCompanion/Model/CompanionAction.h"
#include "VelloraCompanion/Model/CompanionChecks.h"
#include "VelloraCompanion/Model/Desktop.h"
#include "VelloraCompanion/Model/DesktopPlatform.h"
#include "VelloraCompanion/Model/Dispatch.h"
#include "VelloraCompanion/Model/NativeHostInstallOutcome.h"
#include "VelloraCore/Chrome/AppPaths.h"
#include "VelloraCore/Discovery/CodexLocator.h"
#include "VelloraCore/Platform/Environment.h"
#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

class FileSystem;
class ProcessLauncher;

// What the companion is built from; the composition root makes the real ones.
struct CompanionServices {
  Desktop& desktop;
  // Must outlive the companion and every completion it hands to the desktop.
  Dispatch& dispatch;
  // Shared with the worker queue: must be usable from any thread.
  FileSystem& fileSystem;
  ProcessLauncher& launcher;
  Environment environment;
  std::string homeDirectory;
  // AppPaths::platformLayout(homeDirectory, environment) in production.
  AppPaths paths;
  // Where the development extension apps/extension/dist is looked for.
  std::string currentDirectory;
  ShellCodexPathResolver shellCodexPathResolver;
  // The sampler's pause on the worker thread.
  CompanionChecks::Sleep sleep;
  // Whose words the texts that name the desktop use; kHostDesktopPlatform in production.
  DesktopPlatform platform = DesktopPlatform::macOS;
};

// The companion application: owns all state, and turns the desktop's events and the user's
// actions into checks, menus, welcome-window content and alerts. Every member function runs on
// the main thread; the checks run on the dispatch's worker queue and come back through its
// main queue. Created once, as a shared object: queued work holds it strongly or weakly.
//
// At most one check (a refresh or a repair) runs at a time. Each check is numbered; a result
// always shows its health (it is the newest measurement), but ends the busy state and the
// time-out only when it belongs to the check in progress.
class CompanionApp : public std::enable_shared_from_this<CompanionApp> {
 public:
  static std::shared_ptr<CompanionApp> create(CompanionServices services);

  CompanionApp(const CompanionApp&) = delete;
  CompanionApp& operator=(const CompanionApp&) = delete;

  // Application events.

  // Creates the data directories, refreshes the extension copy, installs the status item and
  // the launch menu, then queues: show the welcome window and start a refresh.
  void applicationDidFinishLaunching();
  // Shows the welcome window; returns true.
  bool applicationShouldHandleReopen(bool hasVisibleWindows);
  // Forgets the welcome window and returns to the accessory policy when `window` is it; any
  // other window changes nothing. Without a status item the welcome window is the application:
  // closing it ends the companion.
  void windowWillClose(std::optional<Desktop::WindowID> window);

  // Runs the action of a menu item or button (quit is the desktop's own and ignored here).
  void perform(CompanionAction action);

  // Actions.
  void openSetupGuide();
  void installNativeHost();
  void openChromeExtensions();
  void showExtensionFolder();
  void refreshStatus();
  void openCodexInChrome();
  // Turns the start at login on or off (freedesktop only): writes or removes the autostart
  // entry naming this companion, then rebuilds the menu; a failure is shown in an alert.
  void toggleStartAtLogin();

  // Creates the welcome window if needed, switches to the regular policy, shows the content for
  // latestHealth (measured now with currentHealth when none was shown) and presents it.
  void showSetupWindow();
  // Shows `health`, else latestHealth, else currentHealth(), in a new status menu and stores it
  // in latestHealth.
  void rebuildStatusMenu(std::optional<CompanionHealth> health = std::nullopt);
  // See prepareExtensionFolder in ExtensionFolder.h, with the desktop's resource directory.
  std::string prepareExtensionFolder();
  // Measured now on the main thread (blocks for up to the 2 s probe).
  CompanionHealth currentHealth();
  // The fallback of openChromeExtensions: copies "chrome://extensions" and explains.
  void showExtensionsPageFallback(const std::string& message);

  // State, for the desktop layer and tests.
  const std::optional<CompanionHealth>& latestHealth() const noexcept { return latestHealth_; }
  bool isRefreshingStatus() const noexcept { return isRefreshingStatus_; }
  bool isRepairingBrowserConnection() const noexcept { return isRepairingBrowserConnection_; }
  std::optional<Desktop::WindowID> setupWindow() const noexcept { return setupWindow_; }
  const CompanionChecks& checks() const noexcept { return checks_; }
  const Autostart& autostart() const noexcept { return autostart_; }
  bool hasStatusItem() const noexcept { return hasStatusItem_; }

  static constexpr Seconds kStatusTimeout{20.0};
  static constexpr std::string_view kExtensionsPageURL = "chrome://extensions";
  static constexpr std::string_view kCodexPageURL = "https://openai.com/codex/";
  static constexpr std::string_view kRefreshTimeoutMessage =
      "Codex setup check timed out. Choose Refresh Status to try again.";
  static constexpr std::string_view kRepairTimeoutMessage =
      "Browser connection repair timed out. Choose Fix Browser to try again.";

 private:
  explicit CompanionApp(CompanionServices services);

  void scheduleStatusTimeout(const std::string& message);
  void handleStatusTimeout(std::uint64_t check, const std::string& message);
  void finishStatusRefresh(std::uint64_t check, const CompanionHealth& health);
  void applyInstallOutcome(std::uint64_t check, const NativeHostInstallOutcome& outcome);
  // Ends the busy state of `check` if it is the one in progress; false for an older check.
  bool endCheck(std::uint64_t check);
  void showWelcomeContentIfOpen(const CompanionHealth& health);
  // The menu and, when open, the welcome window for `health`.
  void showHealth(const CompanionHealth& health);
  void showAlert(const std::string& messageText, const std::string& informativeText);
  // A browser that the desktop can start: its name and the desktop's location of it.
  struct BrowserToOpen {
    std::string name;
    std::string location;
  };
  // The browser that openChromeExtensions and openCodexInChrome use: the first in table order
  // that holds the extension and can be started, else the first that can be started; nothing
  // when none can. Reads the profiles once (no samples) on the calling thread.
  std::optional<BrowserToOpen> browserToOpen();
  WelcomeContent welcomeContent(const CompanionHealth& health) const;

  Desktop& desktop_;
  Dispatch& dispatch_;
  FileSystem& fileSystem_;
  std::string currentDirectory_;
  DesktopPlatform platform_;
  // Built before checks_, which takes the home directory and environment.
  Autostart autostart_;
  CompanionChecks checks_;

  bool hasStatusItem_ = false;
  std::optional<Desktop::WindowID> setupWindow_;
  std::optional<CompanionHealth> latestHealth_;
  bool isRefreshingStatus_ = false;
  bool isRepairingBrowserConnection_ = false;
  std::unique_ptr<ScheduledWork> statusTimeoutWorkItem_;
  // The number of the latest check started, and whether it is still in progress.
  std::uint64_t currentCheck_ = 0;
};

}  // namespace vellora
