#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "VelloraCompanion/Model/Desktop.h"

namespace vellora::test {

// A Desktop that shows nothing and records everything it is asked to do. Alerts are answered
// with the queued choices (button 0 when none is queued); the completion of an open request is
// kept for the test to call, from any thread.
class RecordingDesktop final : public Desktop {
 public:
  struct OpenRequest {
    std::vector<std::string> urls;
    std::string applicationLocation;
    OpenCompletion completion;
  };

  // What the platform offers.
  bool offersStatusItem = true;
  std::map<std::string, std::string> applicationsByBundleIdentifier;
  std::optional<std::string> executable;
  std::optional<std::string> resources;
  std::deque<std::size_t> alertChoices;

  // What the companion did.
  std::vector<StatusItemAppearance> statusItems;
  std::vector<StatusMenu> menus;
  std::vector<AppIcon> icons;
  std::vector<ActivationPolicy> policies;
  std::vector<WindowID> windowsCreated;
  std::vector<std::pair<WindowID, WelcomeContent>> welcomeContents;
  std::vector<WindowID> windowsPresented;
  std::vector<Alert> alerts;
  std::optional<std::string> clipboard;
  std::vector<OpenRequest> openRequests;
  std::vector<std::string> openedURLs;
  std::vector<std::string> revealedPaths;
  int terminations = 0;

  bool installStatusItem(const StatusItemAppearance& appearance) override {
    statusItems.push_back(appearance);
    return offersStatusItem;
  }
  void setStatusMenu(const StatusMenu& menu) override { menus.push_back(menu); }
  void setApplicationIcon(const AppIcon& icon) override { icons.push_back(icon); }
  void setActivationPolicy(ActivationPolicy policy) override { policies.push_back(policy); }
  WindowID createWelcomeWindow() override {
    windowsCreated.push_back(static_cast<WindowID>(windowsCreated.size()) + 1);
    return windowsCreated.back();
  }
  void setWelcomeContent(WindowID window, const WelcomeContent& content) override {
    welcomeContents.emplace_back(window, content);
  }
  void presentWindow(WindowID window) override { windowsPresented.push_back(window); }
  std::size_t runAlert(const Alert& alert) override {
    alerts.push_back(alert);
    if (alertChoices.empty()) return 0;
    std::size_t choice = alertChoices.front();
    alertChoices.pop_front();
    return choice;
  }
  void setClipboardText(const std::string& text) override { clipboard = text; }
  std::optional<std::string> applicationLocation(const std::string& bundleIdentifier) override {
    auto found = applicationsByBundleIdentifier.find(bundleIdentifier);
    if (found == applicationsByBundleIdentifier.end()) return std::nullopt;
    return found->second;
  }
  void openURLsWithApplication(const std::vector<std::string>& urls,
                               const std::string& applicationLocation,
                               OpenCompletion completion) override {
    openRequests.push_back({urls, applicationLocation, std::move(completion)});
  }
  void openURL(const std::string& url) override { openedURLs.push_back(url); }
  void terminate() override { ++terminations; }
  void revealInFileViewer(const std::string& path) override { revealedPaths.push_back(path); }
  std::optional<std::string> executablePath() override { return executable; }
  std::optional<std::string> resourceDirectory() override { return resources; }

  // The content last shown in a welcome window.
  const WelcomeContent& lastWelcomeContent() const { return welcomeContents.back().second; }
};

}  // namespace vellora::test
