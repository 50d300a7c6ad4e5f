#include "VelloraCompanion/Qt/StatusMenuView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "VelloraCompanion/Model/CompanionHealthRules.h"
#include "VelloraCompanion/Qt/SymbolImages.h"
#include "tests/VelloraCompanion/Model/CompanionFixture.h"
#include "tests/VelloraCompanion/Qt/OffscreenApplication.h"

namespace vellora {
namespace {

struct ShownItem {
  std::string title;  // "-" for a separator
  bool enabled;
  bool hasImage;
  friend bool operator==(const ShownItem&, const ShownItem&) = default;
};

std::ostream& operator<<(std::ostream& out, const ShownItem& item) {
  return out << "{" << item.title << ", " << item.enabled << ", " << item.hasImage << "}";
}

std::vector<ShownItem> shown(QMenu& menu) {
  std::vector<ShownItem> items;
  for (QAction* action : menu.actions()) {
    if (action->isSeparator()) {
      items.push_back({.title = "-", .enabled = false, .hasImage = false});
    } else {
      items.push_back({.title = action->text().toStdString(),
                       .enabled = action->isEnabled(),
                       .hasImage = !action->icon().isNull()});
    }
  }
  return items;
}

// The kinds of item the menu should show.
ShownItem separator() {
  return {.title = "-", .enabled = false, .hasImage = false};
}
// The menu's own title: disabled, without an image.
ShownItem heading(std::string title) {
  return {.title = std::move(title), .enabled = false, .hasImage = false};
}
// A component's state: disabled, with the state's image.
ShownItem stateRow(std::string title) {
  return {.title = std::move(title), .enabled = false, .hasImage = true};
}
ShownItem command(std::string title) {
  return {.title = std::move(title), .enabled = true, .hasImage = true};
}

// The commands after the component rows, the same for every health.
const std::vector<ShownItem> kCommands = {
    separator(),
    command("Show Welcome Screen"),
    command("Fix Browser Connection"),
    command("Open Chrome Extensions"),
    command("Show Extension Folder Path"),
    command("Refresh Status"),
    separator(),
    command("Quit Vellora"),
};

TEST(StatusMenuViewTest, showsTheComponentRowsAndCommandsWithAnImageForEach) {
  test::ensureOffscreenApplication();
  using enum HealthState;
  const struct {
    const char* label;
    CompanionHealth health;
    std::vector<ShownItem> rows;
  } cases[] = {
      {"launch",
       launchHealth(),
       {separator(), stateRow("Native host: unknown"), stateRow("Extension: unknown"),
        stateRow("Codex: unknown"), stateRow("Auth: unknown"), stateRow("App server: unknown")}},
      {"all ready", test::allReady(), {}},
      {"only the extension missing",
       test::health({.extension = missing}),
       {separator(), stateRow("Extension: missing")}},
      {"codex ready, auth missing, app server error",
       test::health({.appServer = error, .auth = missing}),
       {separator(), stateRow("Auth: missing"), stateRow("App server: error")}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<QMenu> menu(
        makeStatusMenuView(makeStatusMenu(c.health), [](CompanionAction) {}));
    std::vector<ShownItem> expected = {heading("Vellora")};
    expected.insert(expected.end(), c.rows.begin(), c.rows.end());
    expected.insert(expected.end(), kCommands.begin(), kCommands.end());
    EXPECT_EQ(shown(*menu), expected) << c.label;
  }
}

TEST(StatusMenuViewTest, choosingACommandSendsItsAction) {
  test::ensureOffscreenApplication();
  std::vector<CompanionAction> sent;
  std::unique_ptr<QMenu> menu(makeStatusMenuView(
      makeStatusMenu(test::allReady()), [&](CompanionAction action) { sent.push_back(action); }));
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) action->trigger();
  }
  EXPECT_EQ(sent, (std::vector<CompanionAction>{
                      CompanionAction::openSetupGuide, CompanionAction::installNativeHost,
                      CompanionAction::openChromeExtensions, CompanionAction::showExtensionFolder,
                      CompanionAction::refreshStatus, CompanionAction::quit}));
}

TEST(StatusMenuViewTest, theDrawnTrayIconStandsOutOnDarkAndLightPanels) {
  test::ensureOffscreenApplication();
  if (QIcon::hasThemeIcon("applications-internet")) GTEST_SKIP() << "the icon theme has a globe";
  const StatusItemAppearance appearance;
  for (const QIcon& icon :
       {statusItemSymbolImage(appearance), statusItemTitleImage(appearance.fallbackTitle)}) {
    const QImage image = icon.pixmap(QSize(18, 18), 2.0).toImage();
    int dark = 0, light = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor pixel = image.pixelColor(x, y);
        if (pixel.alpha() < 200) continue;
        if (pixel.lightness() < 60) ++dark;
        if (pixel.lightness() > 200) ++light;
      }
    }
    // Dark lines for a light panel, inside a light outline for a dark one.
    EXPECT_GT(dark, 20);
    EXPECT_GT(light, 20);
  }
}

}  // namespace
}  // namespace vellora
