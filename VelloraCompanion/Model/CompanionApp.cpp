#include "VelloraCompanion/Model/CompanionApp.h"

#include <stdexcept>
#include <utility>

#include "VelloraCompanion/Model/CompanionHealthRules.h"
#include "VelloraCompanion/Model/ExtensionFolder.h"
#include "VelloraCompanion/Model/StatusMenu.h"
#include "VelloraCompanion/Model/WelcomeContent.h"
#include "VelloraCore/Chrome/ChromeBrowser.h"
#include "VelloraCore/Platform/FileSystem.h"

namespace vellora {

namespace {

constexpr const char* kCopiedAddressSentence =
    "\n\nThe address was copied. Open Chrome and paste it in the address bar.";

}  // namespace

std::shared_ptr<CompanionApp> CompanionApp::create(CompanionServices services) {
  return std::shared_ptr<CompanionApp>(new CompanionApp(std::move(services)));
}

CompanionApp::CompanionApp(CompanionServices services)
    : desktop_(services.desktop),
      dispatch_(services.dispatch),
      fileSystem_(services.fileSystem),
      currentDirectory_(std::move(services.currentDirectory)),
      platform_(services.platform),
      autostart_(services.fileSystem, services.homeDirectory, services.environment),
      checks_(services.fileSystem, services.launcher, std::move(services.environment),
              std::move(services.homeDirectory), std::move(services.paths),
              services.desktop.executablePath(), std::move(services.shellCodexPathResolver),
              std::move(services.sleep)) {}

// Application events.

void CompanionApp::applicationDidFinishLaunching() {
  // Both failures show up later, in the checks or in "Show Extension Folder Path".
  try {
    checks_.paths().ensureApplicationDirectories(fileSystem_);
  } catch (...) {
  }
  try {
    prepareExtensionFolder();
  } catch (...) {
  }
  hasStatusItem_ = desktop_.installStatusItem(StatusItemAppearance{});
  desktop_.setApplicationIcon(AppIcon{});
  latestHealth_ = launchHealth();
  rebuildStatusMenu();
  // Queued so that launching returns first.
  std::weak_ptr<CompanionApp> weak = weak_from_this();
  dispatch_.postToMain([weak] {
    if (std::shared_ptr<CompanionApp> self = weak.lock()) {
      self->showSetupWindow();
      self->refreshStatus();
    }
  });
}

bool CompanionApp::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
  showSetupWindow();
  return true;
}

void CompanionApp::windowWillClose(std::optional<Desktop::WindowID> window) {
  if (window != setupWindow_) return;
  setupWindow_.reset();
  desktop_.setActivationPolicy(ActivationPolicy::accessory);
  // Nothing else would be left to reach the companion by, nor to quit it with.
  if (!hasStatusItem_) desktop_.terminate();
}

void CompanionApp::perform(CompanionAction action) {
  switch (action) {
    case CompanionAction::openSetupGuide:
      return openSetupGuide();
    case CompanionAction::installNativeHost:
      return installNativeHost();
    case CompanionAction::openChromeExtensions:
      return openChromeExtensions();
    case CompanionAction::showExtensionFolder:
      return showExtensionFolder();
    case CompanionAction::refreshStatus:
      return refreshStatus();
    case CompanionAction::openCodexInChrome:
      return openCodexInChrome();
    case CompanionAction::toggleStartAtLogin:
      return toggleStartAtLogin();
    case CompanionAction::quit:
      return;
  }
}

// The menu and the welcome window.

void CompanionApp::rebuildStatusMenu(std::optional<CompanionHealth> health) {
  if (!health) health = latestHealth_ ? *latestHealth_ : currentHealth();
  latestHealth_ = health;
  if (!hasStatusItem_) return;
  std::optional<bool> startsAtLogin;
  if (platform_ == DesktopPlatform::freedesktop) startsAtLogin = autostart_.isEnabled();
  desktop_.setStatusMenu(makeStatusMenu(*health, startsAtLogin));
}

void CompanionApp::showSetupWindow() {
  if (!setupWindow_) setupWindow_ = desktop_.createWelcomeWindow();
  desktop_.setActivationPolicy(ActivationPolicy::regular);
  if (!latestHealth_) latestHealth_ = currentHealth();
  desktop_.setWelcomeContent(*setupWindow_, welcomeContent(*latestHealth_));
  desktop_.presentWindow(*setupWindow_);
}

void CompanionApp::showWelcomeContentIfOpen(const CompanionHealth& health) {
  if (!setupWindow_) return;
  desktop_.setWelcomeContent(*setupWindow_, welcomeContent(health));
}

WelcomeContent CompanionApp::welcomeContent(const CompanionHealth& health) const {
  WelcomeContent content =
      makeWelcomeContent(health, isRefreshingStatus_, isRepairingBrowserConnection_, platform_);
  if (!hasStatusItem_) content.quitButton = WelcomeButton{"Quit", CompanionAction::quit, true};
  return content;
}

void CompanionApp::showHealth(const CompanionHealth& health) {
  rebuildStatusMenu(health);
  showWelcomeContentIfOpen(health);
}

void CompanionApp::showAlert(const std::string& messageText, const std::string& informativeText) {
  desktop_.runAlert(Alert{messageText, informativeText, {"OK"}});
}

CompanionHealth CompanionApp::currentHealth() {
  return checks_.currentHealth();
}

std::string CompanionApp::prepareExtensionFolder() {
  return vellora::prepareExtensionFolder(fileSystem_, checks_.paths(), desktop_.resourceDirectory(),
                                         currentDirectory_);
}

// Checks. Each check gets the next number; a result ends the busy state only when its number is
// the one in progress, so a late result of a check that timed out cannot end a later check.

void CompanionApp::refreshStatus() {
  if (isRefreshingStatus_ || isRepairingBrowserConnection_) return;
  const std::optional<bool> previouslyReady = previousExtensionState(latestHealth_);
  isRefreshingStatus_ = true;
  const std::uint64_t check = ++currentCheck_;
  latestHealth_ = checkingHealth(latestHealth_);
  showWelcomeContentIfOpen(*latestHealth_);
  scheduleStatusTimeout(std::string(kRefreshTimeoutMessage));
  std::shared_ptr<CompanionApp> self = shared_from_this();
  dispatch_.postToWorker([self, check, previouslyReady] {
    const CompanionHealth health = self->checks_.measureRefresh(previouslyReady);
    self->dispatch_.postToMain([self, check, health] { self->finishStatusRefresh(check, health); });
  });
}

void CompanionApp::finishStatusRefresh(std::uint64_t check, const CompanionHealth& health) {
  endCheck(check);
  // Even a late result is the newest measurement, so it is shown.
  showHealth(health);
}

void CompanionApp::installNativeHost() {
  if (isRepairingBrowserConnection_ || isRefreshingStatus_) return;
  isRepairingBrowserConnection_ = true;
  const std::uint64_t check = ++currentCheck_;
  if (latestHealth_) showWelcomeContentIfOpen(*latestHealth_);
  scheduleStatusTimeout(std::string(kRepairTimeoutMessage));
  std::shared_ptr<CompanionApp> self = shared_from_this();
  dispatch_.postToWorker([self, check] {
    NativeHostInstallOutcome outcome = self->checks_.performNativeHostInstall();
    self->dispatch_.postToMain(
        [self, check, outcome = std::move(outcome)] { self->applyInstallOutcome(check, outcome); });
  });
}

void CompanionApp::applyInstallOutcome(std::uint64_t check,
                                       const NativeHostInstallOutcome& outcome) {
  endCheck(check);
  if (const auto* success = std::get_if<NativeHostInstallOutcome::Success>(&outcome.value)) {
    showHealth(success->health);
    return;
  }
  if (latestHealth_) showWelcomeContentIfOpen(*latestHealth_);
  showAlert("Native Host Install Failed",
            std::get<NativeHostInstallOutcome::Failure>(outcome.value).message);
}

bool CompanionApp::endCheck(std::uint64_t check) {
  if (check != currentCheck_ || !(isRefreshingStatus_ || isRepairingBrowserConnection_)) {
    return false;
  }
  if (statusTimeoutWorkItem_) statusTimeoutWorkItem_->cancel();
  statusTimeoutWorkItem_.reset();
  isRefreshingStatus_ = false;
  isRepairingBrowserConnection_ = false;
  return true;
}

void CompanionApp::scheduleStatusTimeout(const std::string& message) {
  if (statusTimeoutWorkItem_) statusTimeoutWorkItem_->cancel();
  std::weak_ptr<CompanionApp> weak = weak_from_this();
  const std::uint64_t check = currentCheck_;
  statusTimeoutWorkItem_ = dispatch_.postToMainAfter(kStatusTimeout, [weak, check, message] {
    if (std::shared_ptr<CompanionApp> self = weak.lock()) self->handleStatusTimeout(check, message);
  });
}

void CompanionApp::handleStatusTimeout(std::uint64_t check, const std::string& message) {
  // The worker keeps running; its result is shown when it comes.
  if (!endCheck(check)) return;
  showHealth(timeoutHealth(latestHealth_));
  showAlert("Status Check Timed Out", message);
}

// Commands that send the user somewhere.

void CompanionApp::openSetupGuide() {
  showSetupWindow();
}

std::optional<CompanionApp::BrowserToOpen> CompanionApp::browserToOpen() {
  const CompanionChecks& checks = checks_;
  auto located = [this](const ChromeBrowserPaths& browser) -> std::optional<BrowserToOpen> {
    const ChromeBrowser* entry = findChromeBrowser(browser.id);
    if (entry == nullptr) return std::nullopt;
    std::optional<std::string> location =
        desktop_.applicationLocation(std::string(entry->bundleIdentifier));
    if (!location) return std::nullopt;
    return BrowserToOpen{browser.name, std::move(*location)};
  };
  // One detection, without samples: the user waits for this.
  for (const std::string& id : checks.detectExtensions().browsers) {
    if (const ChromeBrowserPaths* browser = checks.paths().browser(id)) {
      if (std::optional<BrowserToOpen> found = located(*browser)) return found;
    }
  }
  for (const ChromeBrowserPaths& browser : checks.paths().browsers()) {
    if (std::optional<BrowserToOpen> found = located(browser)) return found;
  }
  return std::nullopt;
}

void CompanionApp::openChromeExtensions() {
  // The address is a constant that always forms a URL, so the "could not create the extensions
  // address" case cannot arise here.
  const std::optional<BrowserToOpen> browser = browserToOpen();
  if (!browser) {
    showExtensionsPageFallback("Google Chrome was not found.");
    return;
  }
  // Where the browser shows a New Tab instead of the page, starting it is not enough: the
  // address is copied and the user told.
  std::optional<std::string> afterOpening;
  if (!browserOpensExtensionsPage(platform_)) {
    afterOpening = browser->name + " was opened; it cannot open chrome://extensions by itself.";
  }
  std::weak_ptr<CompanionApp> weak = weak_from_this();
  Dispatch* dispatch = &dispatch_;
  desktop_.openURLsWithApplication(
      {std::string(kExtensionsPageURL)}, browser->location,
      [weak, dispatch, afterOpening](std::optional<std::string> error) {
        // Any thread: only move to the main queue here.
        if (!error && !afterOpening) return;
        const std::string message =
            error ? std::string("Chrome did not open the extensions page.") : *afterOpening;
        dispatch->postToMain([weak, message] {
          if (std::shared_ptr<CompanionApp> self = weak.lock()) {
            self->showExtensionsPageFallback(message);
          }
        });
      });
}

void CompanionApp::showExtensionsPageFallback(const std::string& message) {
  desktop_.setClipboardText(std::string(kExtensionsPageURL));
  showAlert("Open Chrome extensions", message + kCopiedAddressSentence);
}

void CompanionApp::showExtensionFolder() {
  std::string folder;
  try {
    folder = prepareExtensionFolder();
  } catch (const std::exception&) {
    showAlert("Extension folder not found", "Build the extension again or reinstall Vellora.");
    return;
  }
  desktop_.setClipboardText(folder);
  const std::size_t choice = desktop_.runAlert(
      Alert{"Chrome extension folder",
            "Select this folder after choosing Load Unpacked in Chrome:\n\n" + folder,
            {"OK", revealFolderButtonTitle(platform_)}});
  if (choice == 1) desktop_.revealInFileViewer(folder);
}

void CompanionApp::openCodexInChrome() {
  const std::optional<BrowserToOpen> browser = browserToOpen();
  if (!browser) {
    desktop_.openURL(std::string(kCodexPageURL));
    return;
  }
  // A browser that cannot be started leaves the page to the default browser.
  std::weak_ptr<CompanionApp> weak = weak_from_this();
  Dispatch* dispatch = &dispatch_;
  desktop_.openURLsWithApplication({std::string(kCodexPageURL)}, browser->location,
                                   [weak, dispatch](std::optional<std::string> error) {
                                     if (!error) return;
                                     dispatch->postToMain([weak] {
                                       if (std::shared_ptr<CompanionApp> self = weak.lock()) {
                                         self->desktop_.openURL(std::string(kCodexPageURL));
                                       }
                                     });
                                   });
}

void CompanionApp::toggleStartAtLogin() {
  if (platform_ != DesktopPlatform::freedesktop) return;
  try {
    if (autostart_.isEnabled()) {
      autostart_.disable();
    } else {
      const std::optional<std::string>& companion = checks_.executablePath();
      if (!companion) throw std::invalid_argument("the companion's own path is not known");
      autostart_.enable(*companion);
    }
  } catch (const std::exception& failure) {
    showAlert("Start at Login Failed", failure.what());
  }
  rebuildStatusMenu();
}

}  // namespace vellora
