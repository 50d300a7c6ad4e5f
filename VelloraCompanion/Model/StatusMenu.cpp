#include "VelloraCompanion/Model/StatusMenu.h"

#include <utility>

namespace vellora {

namespace {

StatusMenuItem actionItem(std::string title, CompanionAction action, std::string symbol) {
  StatusMenuItem item{.title = title, .action = action, .symbolName = std::move(symbol)};
  item.accessibilityDescription = std::move(title);
  return item;
}

}  // namespace

std::optional<std::string> symbolNameForState(HealthState state) {
  switch (state) {
    case HealthState::unknown:
      return "questionmark.circle";
    case HealthState::missing:
      return "xmark.circle";
    case HealthState::starting:
      return "clock";
    case HealthState::error:
      return "exclamationmark.triangle";
    case HealthState::ready:
      return std::nullopt;
  }
  return std::nullopt;
}

StatusMenu makeStatusMenu(const CompanionHealth& health, std::optional<bool> startsAtLogin) {
  StatusMenu menu;
  menu.items.push_back(StatusMenuItem{.title = "Vellora", .enabled = false});

  const std::pair<const char*, HealthState> components[] = {
      {"Native host", health.nativeHost},
      {"Extension", health.extension},
      {"Codex", health.codex},
      {"Auth", health.auth},
      {"App server", health.appServer},
  };
  bool first = true;
  for (const auto& [label, state] : components) {
    if (state == HealthState::ready) continue;
    if (first) menu.items.push_back(StatusMenuItem::separator());
    first = false;
    const std::string name(text(state));
    menu.items.push_back(StatusMenuItem{.title = std::string(label) + ": " + name,
                                        .symbolName = symbolNameForState(state),
                                        .accessibilityDescription = name});
  }

  menu.items.push_back(StatusMenuItem::separator());
  menu.items.push_back(
      actionItem("Show Welcome Screen", CompanionAction::openSetupGuide, "list.bullet.rectangle"));
  menu.items.push_back(actionItem("Fix Browser Connection", CompanionAction::installNativeHost,
                                  "wrench.and.screwdriver"));
  menu.items.push_back(
      actionItem("Open Chrome Extensions", CompanionAction::openChromeExtensions, "safari"));
  menu.items.push_back(actionItem("Show Extension Folder Path",
                                  CompanionAction::showExtensionFolder,
                                  "folder.badge.questionmark"));
  menu.items.push_back(
      actionItem("Refresh Status", CompanionAction::refreshStatus, "arrow.clockwise"));
  menu.items.push_back(StatusMenuItem::separator());
  if (startsAtLogin) {
    StatusMenuItem item{.title = "Start at Login", .action = CompanionAction::toggleStartAtLogin};
    item.accessibilityDescription = item.title;
    item.checkable = true;
    item.checked = *startsAtLogin;
    menu.items.push_back(std::move(item));
  }
  menu.items.push_back(
      actionItem("Quit Vellora", CompanionAction::quit, "rectangle.portrait.and.arrow.right"));
  return menu;
}

}  // namespace vellora
