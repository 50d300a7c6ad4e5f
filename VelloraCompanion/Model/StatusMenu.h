#pragma once

#include <optional>
#include <string>
#include <vector>

#include "VelloraCompanion/Model/CompanionAction.h"
#include "VelloraCore/Protocol/HealthState.h"

namespace vellora {

// One entry of the status menu. A separator carries nothing else.
//
// Images: a system symbol named `symbolName`, looked up with `accessibilityDescription`; when
// it exists it is drawn into a kImageWidth x kImageHeight image in the rectangle kSymbolRect and
// marked as a template image; when it does not, the item has no image.
struct StatusMenuItem {
  enum class Kind { item, separator };

  Kind kind = Kind::item;
  std::string title;
  // Nothing for the title row and the component rows.
  std::optional<CompanionAction> action;
  bool enabled = true;
  std::optional<std::string> symbolName;
  // The item's title for action items, the state's name for component rows.
  std::string accessibilityDescription;
  // Every item has the empty key equivalent.
  std::string keyEquivalent;
  // A checkable item shows a check mark when `checked`.
  bool checkable = false;
  bool checked = false;

  static StatusMenuItem separator() { return StatusMenuItem{.kind = Kind::separator}; }

  friend bool operator==(const StatusMenuItem&, const StatusMenuItem&) = default;
};

// The status menu for one health, computed anew whenever the health changes. Items in order:
//   "Vellora" (disabled, no action)
//   [separator, then one row per component that is not ready: "Native host: unknown", ...]
//   separator
//   "Show Welcome Screen", "Fix Browser Connection", "Open Chrome Extensions",
//   "Show Extension Folder Path", "Refresh Status"
//   separator
//   ["Start at Login", checkable, when `startsAtLogin` is given: whether it is on]
//   "Quit Vellora"
struct StatusMenu {
  std::vector<StatusMenuItem> items;

  static constexpr double kImageWidth = 16;
  static constexpr double kImageHeight = 18;
  struct Rect {
    double x, y, width, height;
  };
  static constexpr Rect kSymbolRect{1, 2, 14, 14};

  friend bool operator==(const StatusMenu&, const StatusMenu&) = default;
};

// `startsAtLogin` is given only where the companion offers the start at login (Linux).
StatusMenu makeStatusMenu(const CompanionHealth& health,
                          std::optional<bool> startsAtLogin = std::nullopt);

// The system symbol shown for a component in a state: "questionmark.circle" (unknown),
// "xmark.circle" (missing), "clock" (starting), "exclamationmark.triangle" (error); nothing
// for ready, which has no row.
std::optional<std::string> symbolNameForState(HealthState state);

}  // namespace vellora
