#include "VelloraCompanion/Qt/StatusMenuView.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <memory>
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
      items.push_back({"-", false, false});
    } else {
      items.push_back(
          {action->text().toStdString(), action->isEnabled(), !action->icon().isNull()});
    }
  }
  return items;
}

// The commands after the component rows, the same for every health.
const std::vector<ShownItem> kCommands = {
    {"-", false, false},
    {"Show Welcome Screen", true, true},
    {"Fix Browser Connection", true, true},
    {"Open Chrome Extensions", true, true},
    {"Show Extension Folder Path", true, true},
    {"Refresh Status", true, true},
    {"-", false, false},
    {"Quit Vellora", true, true},
};

TEST(StatusMenuViewTest, showsTheComponentRowsAndCommandsWithAnImageForEach) {
  test::ensureOffscreenApplication();
  constexpr HealthState r = HealthState::ready;
  constexpr HealthState m = HealthState::missing;
  const struct {
    const char* label;
    CompanionHealth health;
    std::vector<ShownItem> rows;
  } cases[] = {
      {"launch",
       launchHealth(),
       {{"-", false, false},
        {"Native host: unknown", false, true},
        {"Extension: unknown", false, true},
        {"Codex: unknown", false, true},
        {"Auth: unknown", false, true},
        {"App server: unknown", false, true}}},
      {"all ready", test::allReady(), {}},
      {"only the extension missing",
       test::health(r, r, m, r, r, r),
       {{"-", false, false}, {"Extension: missing", false, true}}},
      {"codex ready, auth missing, app server error",
       test::health(r, r, r, r, HealthState::error, m),
       {{"-", false, false}, {"Auth: missing", false, true}, {"App server: error", false, true}}},
  };
  for (const auto& c : cases) {
    std::unique_ptr<QMenu> menu(
        makeStatusMenuView(makeStatusMenu(c.health), [](CompanionAction) {}));
    std::vector<ShownItem> expected = {{"Vellora", false, false}};
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
