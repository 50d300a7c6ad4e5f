#include "VelloraCompanion/Model/StatusMenu.h"

#include <gtest/gtest.h>

#include "VelloraCompanion/Model/CompanionHealthRules.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"

namespace vellora {
namespace {

using test::allReady;

// Titles, with "---" for a separator.
std::vector<std::string> titles(const StatusMenu& menu) {
  std::vector<std::string> result;
  for (const StatusMenuItem& item : menu.items) {
    result.push_back(item.kind == StatusMenuItem::Kind::separator ? "---" : item.title);
  }
  return result;
}

const std::vector<std::string> kActionTitles = {"---",
                                                "Show Welcome Screen",
                                                "Fix Browser Connection",
                                                "Open Chrome Extensions",
                                                "Show Extension Folder Path",
                                                "Refresh Status",
                                                "---",
                                                "Quit Vellora"};

std::vector<std::string> withRows(std::vector<std::string> rows) {
  std::vector<std::string> result = {"Vellora"};
  if (!rows.empty()) result.push_back("---");
  result.insert(result.end(), rows.begin(), rows.end());
  result.insert(result.end(), kActionTitles.begin(), kActionTitles.end());
  return result;
}

TEST(StatusMenuTest, showsOneRowPerComponentThatIsNotReady) {
  using enum HealthState;
  struct Case {
    const char* label;
    CompanionHealth health;
    std::vector<std::string> rows;
  } cases[] = {
      {"launch",
       launchHealth(),
       {"Native host: unknown", "Extension: unknown", "Codex: unknown", "Auth: unknown",
        "App server: unknown"}},
      {"all ready", allReady(), {}},
      {"only the extension missing", test::health({.extension = missing}), {"Extension: missing"}},
      // Auth comes before App server; the companion never gets a row.
      {"mixed",
       test::health({.companion = error,
                     .nativeHost = error,
                     .codex = starting,
                     .appServer = error,
                     .auth = missing}),
       {"Native host: error", "Codex: starting", "Auth: missing", "App server: error"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(titles(makeStatusMenu(c.health)), withRows(c.rows)) << c.label;
  }
}

TEST(StatusMenuTest, givesRowsTheStateSymbolAndActionsTheirOwn) {
  const StatusMenu menu = makeStatusMenu(launchHealth());
  ASSERT_EQ(menu.items.size(), 15u);

  const StatusMenuItem& title = menu.items[0];
  EXPECT_FALSE(title.enabled);
  EXPECT_FALSE(title.action);
  EXPECT_FALSE(title.symbolName);

  for (std::size_t i = 2; i < 7; ++i) {
    const StatusMenuItem& row = menu.items[i];
    EXPECT_FALSE(row.action) << row.title;
    EXPECT_EQ(row.symbolName, "questionmark.circle") << row.title;
    EXPECT_EQ(row.accessibilityDescription, "unknown") << row.title;
  }

  struct Expected {
    const char* title;
    CompanionAction action;
    const char* symbol;
  } actions[] = {
      {"Show Welcome Screen", CompanionAction::openSetupGuide, "list.bullet.rectangle"},
      {"Fix Browser Connection", CompanionAction::installNativeHost, "wrench.and.screwdriver"},
      {"Open Chrome Extensions", CompanionAction::openChromeExtensions, "safari"},
      {"Show Extension Folder Path", CompanionAction::showExtensionFolder,
       "folder.badge.questionmark"},
      {"Refresh Status", CompanionAction::refreshStatus, "arrow.clockwise"},
      {"Quit Vellora", CompanionAction::quit, "rectangle.portrait.and.arrow.right"},
  };
  std::size_t index = 8;
  for (const Expected& expected : actions) {
    if (menu.items[index].kind == StatusMenuItem::Kind::separator) ++index;
    const StatusMenuItem& item = menu.items[index++];
    EXPECT_EQ(item.title, expected.title);
    EXPECT_EQ(item.action, expected.action) << expected.title;
    EXPECT_EQ(item.symbolName, expected.symbol) << expected.title;
    EXPECT_EQ(item.accessibilityDescription, expected.title);
    EXPECT_TRUE(item.enabled) << expected.title;
    EXPECT_EQ(item.keyEquivalent, "") << expected.title;
  }

  // Without the start at login offered, no item is checkable.
  for (const StatusMenuItem& item : menu.items) EXPECT_FALSE(item.checkable) << item.title;

  EXPECT_EQ(symbolNameForState(HealthState::missing), "xmark.circle");
  EXPECT_EQ(symbolNameForState(HealthState::starting), "clock");
  EXPECT_EQ(symbolNameForState(HealthState::error), "exclamationmark.triangle");
}

TEST(CompanionHealthRulesTest, derivesTheCheckingAndTimeOutHealths) {
  using enum HealthState;
  EXPECT_EQ(checkingHealth(std::nullopt), test::allButTheCompanion(starting));
  EXPECT_EQ(checkingHealth(test::health(
                {.companion = error, .extension = missing, .appServer = error, .auth = unknown})),
            test::health({.extension = starting, .appServer = starting, .auth = starting}));
  EXPECT_EQ(timeoutHealth(std::nullopt), test::health({.nativeHost = unknown,
                                                       .extension = unknown,
                                                       .codex = error,
                                                       .appServer = error,
                                                       .auth = unknown}));
  EXPECT_EQ(
      timeoutHealth(test::health({.nativeHost = starting, .codex = starting, .auth = starting})),
      test::health({.nativeHost = unknown, .codex = error, .auth = unknown}));

  EXPECT_EQ(previousExtensionState(std::nullopt), std::nullopt);
  EXPECT_EQ(previousExtensionState(allReady()), true);
  EXPECT_EQ(previousExtensionState(test::health({.extension = missing})), false);
  for (HealthState other : {unknown, starting, error}) {
    EXPECT_EQ(previousExtensionState(test::health({.extension = other})), std::nullopt);
  }
}

TEST(StatusMenuTest, offersStartAtLoginJustBeforeQuit) {
  for (bool on : {false, true}) {
    const StatusMenu menu = makeStatusMenu(launchHealth(), on);
    ASSERT_EQ(menu.items.size(), 16u);
    const StatusMenuItem& item = menu.items[14];
    EXPECT_EQ(item.title, "Start at Login");
    EXPECT_EQ(item.action, CompanionAction::toggleStartAtLogin);
    EXPECT_TRUE(item.checkable);
    EXPECT_EQ(item.checked, on);
    EXPECT_EQ(menu.items[13].kind, StatusMenuItem::Kind::separator);
    EXPECT_EQ(menu.items[15].title, "Quit Vellora");
  }
}

}  // namespace
}  // namespace vellora
